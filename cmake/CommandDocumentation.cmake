# The command's man page (roff, made by scdoc when it is found; installed gzipped) and
# its bash completion, both generated from the one list cli/options.txt.
include(GNUInstallDirs)
find_program(CRESTDOUBLER_SCDOC scdoc)
find_program(CRESTDOUBLER_GZIP gzip)
set(crest_share ${CMAKE_BINARY_DIR}/share)
set(CRESTDOUBLER_MAN_PAGE ${crest_share}/crestdoubler.1 CACHE INTERNAL "")
set(CRESTDOUBLER_MAN_SOURCE ${crest_share}/crestdoubler.1.scd CACHE INTERNAL "")
set(CRESTDOUBLER_COMPLETION ${crest_share}/crestdoubler.bash CACHE INTERNAL "")
set(crest_outputs ${CRESTDOUBLER_MAN_SOURCE} ${CRESTDOUBLER_COMPLETION})
set(crest_scdoc_arguments "")
if(CRESTDOUBLER_SCDOC AND CRESTDOUBLER_GZIP)
  list(APPEND crest_outputs ${CRESTDOUBLER_MAN_PAGE} ${CRESTDOUBLER_MAN_PAGE}.gz)
  set(crest_scdoc_arguments -DSCDOC=${CRESTDOUBLER_SCDOC} -DGZIP=${CRESTDOUBLER_GZIP} -DMAN_PAGE=${CRESTDOUBLER_MAN_PAGE})
else()
  message(STATUS "scdoc not found: the man page is not built")
endif()
add_custom_command(OUTPUT ${crest_outputs}
  COMMAND ${CMAKE_COMMAND} -DOPTIONS_LIST=${PROJECT_SOURCE_DIR}/cli/options.txt -DVERSION=${PROJECT_VERSION}
    -DMAN_TEMPLATE=${PROJECT_SOURCE_DIR}/docs/man/crestdoubler.1.scd.in -DMAN_SOURCE=${CRESTDOUBLER_MAN_SOURCE}
    -DCOMPLETION_TEMPLATE=${PROJECT_SOURCE_DIR}/cli/completion/crestdoubler.bash.in -DCOMPLETION=${CRESTDOUBLER_COMPLETION}
    ${crest_scdoc_arguments} -P ${PROJECT_SOURCE_DIR}/cmake/GenerateFromOptions.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/cli/options.txt ${PROJECT_SOURCE_DIR}/docs/man/crestdoubler.1.scd.in
    ${PROJECT_SOURCE_DIR}/cli/completion/crestdoubler.bash.in ${PROJECT_SOURCE_DIR}/cmake/GenerateFromOptions.cmake
  COMMENT "Generating the man page and the bash completion from cli/options.txt"
  VERBATIM)
add_custom_target(crestdoubler_documentation ALL DEPENDS ${crest_outputs})

if(CRESTDOUBLER_SCDOC AND CRESTDOUBLER_GZIP)
  install(FILES ${CRESTDOUBLER_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT command)
endif()
install(FILES ${CRESTDOUBLER_COMPLETION} RENAME crestdoubler
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT command)
