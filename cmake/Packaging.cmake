# Debian packages of the native build, one per component as Debian splits
# them (scripts/make-packages.sh runs cpack):
#   command  -> crestdoubler          the command, its module, man page, completion, Slurm scripts
#   library  -> libcrestdoubler1      the shared library
#   dev      -> libcrestdoubler-dev   header, archive, CMake package, pkg-config file
#   python-debian -> python3-crestdoubler  the module in /usr/lib/python3/dist-packages
include(GNUInstallDirs)
set(CPACK_PACKAGE_NAME crestdoubler)
set(CPACK_PACKAGE_VENDOR "Crestdoubler")
set(CPACK_PACKAGE_CONTACT "Crestdoubler maintainers <maintainers@users.noreply.c-seed-c0a0ba15.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL command library dev)
if(TARGET crestdoubler_python)
  list(APPEND CPACK_COMPONENTS_ALL python-debian)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(crest_soname_package libcrestdoubler${PROJECT_VERSION_MAJOR})
set(crest_debian_packages command crestdoubler library ${crest_soname_package} dev libcrestdoubler-dev
  python-debian python3-crestdoubler)
set(CPACK_DEBIAN_COMMAND_PACKAGE_NAME crestdoubler)
set(CPACK_DEBIAN_COMMAND_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_COMMAND_DESCRIPTION "edge-preserving 2:1 enlargement of pictures and films
crestdoubler enlarges pictures (PNG, JPEG, WebP, TIFF, JPEG XL, AVIF, HEIC),
folders of them, films with their sound, and raw frame streams exactly 2:1,
keeping edges sharp, through the crestdoubler.cpf filter module installed
beside it. The output is the same, byte for byte, on every machine.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${crest_soname_package})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# A shlibs file for the library, and ldconfig run by a trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "edge-preserving 2:1 image enlargement library
libcrestdoubler enlarges BGRX, BGRA, RGBA, BGR, RGB and grey images exactly
2:1, keeping edges sharp, on every core at once; every thread count gives
the same bytes. This package holds the shared library.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcrestdoubler-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "edge-preserving 2:1 image enlargement library (development files)
libcrestdoubler enlarges images exactly 2:1, keeping edges sharp. This
package holds the C header, the static library, the CMake package and the
pkg-config file.")
set(CPACK_DEBIAN_PYTHON-DEBIAN_PACKAGE_NAME python3-crestdoubler)
set(CPACK_DEBIAN_PYTHON-DEBIAN_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON-DEBIAN_DESCRIPTION "edge-preserving 2:1 image enlargement for numpy arrays
The crestdoubler module enlarges H x W, H x W x 3 and H x W x 4 uint8 numpy
arrays exactly 2:1, keeping edges sharp, with the GIL released.")
if(TARGET crestdoubler_python)
  # An extension module is built for one interpreter version.
  string(REPLACE "." ";" crest_python_version "${CRESTDOUBLER_PYTHON_VERSION}")
  list(GET crest_python_version 0 crest_python_major)
  list(GET crest_python_version 1 crest_python_minor)
  math(EXPR crest_python_next_minor "${crest_python_minor} + 1")
  set(CPACK_DEBIAN_PYTHON-DEBIAN_PACKAGE_DEPENDS
    "python3 (>= ${CRESTDOUBLER_PYTHON_VERSION}), python3 (<< ${crest_python_major}.${crest_python_next_minor}), python3-numpy")
endif()

include(CPack)
cpack_add_component(command DISPLAY_NAME "crestdoubler command and module")
cpack_add_component(library DISPLAY_NAME "libcrestdoubler")
cpack_add_component(dev DISPLAY_NAME "libcrestdoubler development files" DEPENDS library)
cpack_add_component(python-debian DISPLAY_NAME "Python module")

# Debian wants a copyright file and a changelog in every package's doc folder;
# only the packaging installs them (EXCLUDE_FROM_ALL).
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)
string(TIMESTAMP crest_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/debian/changelog.Debian
  "crestdoubler (${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}) unstable; urgency=medium\n\n"
  "  * Built from the source tree by scripts/make-packages.sh.\n\n"
  " -- ${CPACK_PACKAGE_CONTACT}  ${crest_changelog_date}\n")
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/debian/changelog.Debian)
while(crest_debian_packages)
  list(POP_FRONT crest_debian_packages component package)
  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endwhile()
