# Cross build for the 32-bit Windows host with Debian's g++-mingw-w64-i686.
#
# The posix thread variant throughout: it is the one whose libstdc++ has
# std::thread and std::mutex, and winpthread is linked in statically anyway.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CRESTDOUBLER_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${CRESTDOUBLER_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CRESTDOUBLER_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CRESTDOUBLER_MINGW_PREFIX}-windres)
set(CMAKE_AR ${CRESTDOUBLER_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${CRESTDOUBLER_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${CRESTDOUBLER_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything the build makes runs on its own under Windows or wine: no
# libgcc_s, libstdc++ or libwinpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The static runtimes bring their debug sections along; release files drop them.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_MODULE_LINKER_FLAGS_RELEASE_INIT "-s")

# Lets test scripts run the built programs under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
