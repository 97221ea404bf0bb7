# Installs the build into a fresh prefix, then builds and runs a C consumer
# through find_package (shared and static) and through pkg-config, and
# imports the Python module from the prefix.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(installed include/crestdoubler.h ${LIBDIR}/libcrestdoubler.a ${LIBDIR}/pkgconfig/crestdoubler.pc bin/crestdoubler
                  bin/crestdoubler.cpf)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer ${VERSION})
run(${WORK_DIR}/build/consumer_static ${VERSION})

find_program(PKG_CONFIG pkg-config REQUIRED)
find_program(CC NAMES cc gcc REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs crestdoubler OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know crestdoubler")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CC} ${CONSUMER_SOURCE}/consumer.c ${flags} -o ${WORK_DIR}/consumer_pc)
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${WORK_DIR}/consumer_pc ${VERSION})

if(PYTHON)
  file(GLOB module_dirs ${prefix}/lib/python3*/dist-packages)
  set(ENV{PYTHONPATH} "${module_dirs}")
  run(${PYTHON} -c "import numpy, crestdoubler; assert crestdoubler.enlarge(numpy.zeros((2, 3, 3), numpy.uint8)).shape == (4, 6, 3)")
endif()
