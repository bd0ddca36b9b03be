# The Debian packages, made by CPack's DEB generator from the install
# components (cmake/install.cmake), split as Debian splits a library:
#
#   libtavio32-1      lib      libtavio32.so.1 and its real file
#   libtavio32-dev    dev      header, libtavio32.so, pkg-config and CMake files,
#                              the manual (HTML) and the functions' manual pages
#   tavio32           tools    the command (the page built in), tavio32-sim, manual pages
#   python3-tavio32   python   the Python package, which finds the installed library
#
# scripts/package.sh configures with -DTAVIO32_DEB_LAYOUT=ON and the prefix
# /usr, then runs cpack. Dependencies on system libraries come from
# dpkg-shlibdeps; those between the packages from the components'.
set(TAVIO32_DEB_REVISION 1 CACHE STRING "Debian revision of the packages")
set(tavio32_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc)

if(TAVIO32_DEB_LAYOUT)
  # One copyright file for all four (Debian's format), with a line for every
  # library of the page that web/package-lock.json names.
  set(TAVIO32_WEB_COPYRIGHT "")
  foreach(name IN LISTS TAVIO32_WEB_PACKAGES)
    string(MAKE_C_IDENTIFIER "${name}" id)
    set(holder "the ${name} authors")
    if(TAVIO32_WEB_LICENSE_FILE_${id})
      file(STRINGS ${TAVIO32_WEB_LICENSE_FILE_${id}} line REGEX "^Copyright" LIMIT_COUNT 1)
      string(REGEX REPLACE "^Copyright *(\\([cC]\\)|©)? *" "" line "${line}")
      if(line)
        set(holder "${line}")
      endif()
    endif()
    string(APPEND TAVIO32_WEB_COPYRIGHT
      " ${holder} (${name} ${TAVIO32_WEB_VERSION_${id}}, page, ${TAVIO32_WEB_LICENSE_NAME_${id}})\n")
  endforeach()
  string(REGEX REPLACE "\n$" "" TAVIO32_WEB_COPYRIGHT "${TAVIO32_WEB_COPYRIGHT}")
  configure_file(packaging/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
  add_custom_target(tavio32_deb_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
  foreach(pair lib:libtavio32-1 dev:libtavio32-dev tools:tavio32 python:python3-tavio32)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
      DESTINATION ${tavio32_doc}/${package} COMPONENT ${component})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME tavio32)
set(CPACK_PACKAGE_VENDOR "the tavio32 developers")
set(TAVIO32_DEB_MAINTAINER "tavio32 developers <tavio32@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${TAVIO32_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tools python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TAVIO32_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The command's libtavio32.so.1 is the one built here: known to
# dpkg-shlibdeps, and a dependency of the component.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# A shlibs file for the library's package (only it holds a shared object).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(tavio32_summary "serial ports and school measurement interfaces")
# The summary line, then paragraphs (CPack indents them as Debian wants).
set(tavio32_about
  "tavio32 gives programs synchronous access to RS-232 serial ports and to\nsix small measurement and control interfaces used in schools and labs:\nSios, CompuLab, Zelle, RS-Box, Camface and C-Control, through 83 C\nfunctions (OPENCOM, AIN, FINDHARD, BLOCKEIN, ...).")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libtavio32-1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/lib/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "${tavio32_summary} - run-time library\n${tavio32_about}\n\nThis package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtavio32-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
if(TAVIO32_DEV_EXTRA_DEPENDS) # the manual's scripts (cmake/install.cmake)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${TAVIO32_DEV_EXTRA_DEPENDS}")
endif()
set(CPACK_COMPONENT_DEV_DESCRIPTION "${tavio32_summary} - development files\n${tavio32_about}\n\nThis package holds the header, the pkg-config file, the CMake package,\nand the manual and the reference, as HTML and as manual pages.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tavio32)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_TOOLS_DEPENDS lib)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "${tavio32_summary} - command and simulator\n${tavio32_about}\n\nThis package holds the tavio32 command (reading, writing, recording,\nand a page in the browser with `tavio32 serve`) and tavio32-sim, which\nemulates the interfaces on a pseudo-terminal.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tavio32)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_PYTHON_DEPENDS lib)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/python/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/python/prerm)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "${tavio32_summary} - Python 3 package\n${tavio32_about}\n\nThis package holds the Python 3 package tavio32, which loads the\ninstalled library.")

include(CPack)
