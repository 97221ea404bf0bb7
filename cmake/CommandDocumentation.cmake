# Man pages (roff made by scdoc when it is found, installed gzipped) and bash
# completions of the commands. Each command's option list is the one source of
# both: its man page's OPTIONS section and its completion are generated from it.
include(GNUInstallDirs)
find_program(CRESTDOUBLER_SCDOC scdoc)
find_program(CRESTDOUBLER_GZIP gzip)
if(NOT (CRESTDOUBLER_SCDOC AND CRESTDOUBLER_GZIP))
  message(STATUS "scdoc not found: the man pages are not built")
endif()
add_custom_target(crestdoubler_documentation ALL)

# crest_command_documentation(NAME OPTIONS_LIST MAN_TEMPLATE COMPLETION_TEMPLATE COMPONENT)
# writes build/share/NAME.1 (and .1.gz), NAME.1.scd and NAME.bash, installs the
# page into man1 and the completion as NAME, and sets NAME_MAN_PAGE and
# NAME_COMPLETION in the cache for the tests.
function(crest_command_documentation name options_list man_template completion_template component)
  set(share ${CMAKE_BINARY_DIR}/share)
  set(page ${share}/${name}.1)
  set(completion ${share}/${name}.bash)
  set(outputs ${share}/${name}.1.scd ${completion})
  set(scdoc_arguments "")
  if(CRESTDOUBLER_SCDOC AND CRESTDOUBLER_GZIP)
    list(APPEND outputs ${page} ${page}.gz)
    set(scdoc_arguments -DSCDOC=${CRESTDOUBLER_SCDOC} -DGZIP=${CRESTDOUBLER_GZIP} -DMAN_PAGE=${page})
  endif()
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -DOPTIONS_LIST=${options_list} -DVERSION=${PROJECT_VERSION}
      -DMAN_TEMPLATE=${man_template} -DMAN_SOURCE=${share}/${name}.1.scd
      -DCOMPLETION_TEMPLATE=${completion_template} -DCOMPLETION=${completion}
      ${scdoc_arguments} -P ${PROJECT_SOURCE_DIR}/cmake/GenerateFromOptions.cmake
    DEPENDS ${options_list} ${man_template} ${completion_template} ${PROJECT_SOURCE_DIR}/cmake/GenerateFromOptions.cmake
    COMMENT "Generating the man page and the bash completion of ${name}"
    VERBATIM)
  add_custom_target(${name}_man_page_and_completion DEPENDS ${outputs})
  add_dependencies(crestdoubler_documentation ${name}_man_page_and_completion)
  if(CRESTDOUBLER_SCDOC AND CRESTDOUBLER_GZIP)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    set(${name}_MAN_PAGE ${page} CACHE INTERNAL "")
  endif()
  install(FILES ${completion} RENAME ${name}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT ${component})
  set(${name}_COMPLETION ${completion} CACHE INTERNAL "")
endfunction()

crest_command_documentation(crestdoubler ${PROJECT_SOURCE_DIR}/cli/options.txt
  ${PROJECT_SOURCE_DIR}/docs/man/crestdoubler.1.scd.in ${PROJECT_SOURCE_DIR}/cli/completion/crestdoubler.bash.in command)
if(TARGET crestdoubler-web)
  crest_command_documentation(crestdoubler-web ${PROJECT_SOURCE_DIR}/cli/web/options.txt
    ${PROJECT_SOURCE_DIR}/docs/man/crestdoubler-web.1.scd.in
    ${PROJECT_SOURCE_DIR}/cli/web/completion/crestdoubler-web.bash.in command)
endif()
