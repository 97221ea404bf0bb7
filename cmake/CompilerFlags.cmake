# Flags every target of the project builds with.
#
# Frames must be bit-identical on every build, so floating point is plain IEEE:
# no fast-math, no contraction into fused multiply-adds, and SSE2 rather than
# x87 extended precision on 32-bit x86.
add_library(crest_build_flags INTERFACE)
target_compile_options(crest_build_flags INTERFACE
  -Wall -Wextra -ffp-contract=off -fno-fast-math)

if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$")
  target_compile_options(crest_build_flags INTERFACE -msse2 -mfpmath=sse)
endif()

set(CRESTDOUBLER_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
if(CRESTDOUBLER_SANITIZE)
  target_compile_options(crest_build_flags INTERFACE
    -fsanitize=${CRESTDOUBLER_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(crest_build_flags INTERFACE -fsanitize=${CRESTDOUBLER_SANITIZE})
endif()
