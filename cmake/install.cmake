# cmake --install: the library (with its SONAME), the header, pkg-config and
# CMake package files, the programs with their manual pages, the Python
# package, and where TAVIO32_DOCS_DIR names a scripts/docs.sh output, the
# manual's HTML and the functions' manual pages (section 3) with dev. The components are the Debian packages' parts (cmake/package.cmake):
# lib (the run-time library), dev, tools and python.
include(CMakePackageConfigHelpers)
set(TAVIO32_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
  "Where the Python package is installed, relative to the prefix")
option(TAVIO32_DEB_LAYOUT "Install as the Debian packages hold it: compressed manual pages, copyright and changelog per package" OFF)

install(TARGETS tavio32 EXPORT tavio32Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/tavio32.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS tavio32-cli tavio32-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# USB adapters numbered as they are plugged in: the helper and its udev rule
# go with the library, so that every program that uses it finds them.
set(TAVIO32_HELPER_DIR "lib/tavio32" CACHE STRING "Where tavio32-number is installed, relative to the prefix")
set(TAVIO32_UDEV_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule is installed, relative to the prefix")
install(TARGETS tavio32-number RUNTIME DESTINATION ${TAVIO32_HELPER_DIR} COMPONENT lib)
set(TAVIO32_NUMBER_HELPER "${CMAKE_INSTALL_PREFIX}/${TAVIO32_HELPER_DIR}/tavio32-number")
configure_file(packaging/linux/60-tavio32.rules.in 60-tavio32.rules @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/60-tavio32.rules DESTINATION ${TAVIO32_UDEV_DIR} COMPONENT lib)
if(TAVIO32_DEB_LAYOUT)
  # gzip -n: no name and no time in the header, the same bytes every build.
  foreach(page tavio32.1 tavio32-sim.1)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/man/${page} > ${PROJECT_BINARY_DIR}/man/${page}.gz
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${page})
    list(APPEND tavio32_man_gz ${PROJECT_BINARY_DIR}/man/${page}.gz)
  endforeach()
  add_custom_target(tavio32_man ALL DEPENDS ${tavio32_man_gz})
  install(FILES ${tavio32_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
else()
  install(FILES man/tavio32.1 man/tavio32-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()

set(TAVIO32_DOCS_DIR "" CACHE PATH "A scripts/docs.sh output (html/, man/man3/) to install with the development files")
if(TAVIO32_DOCS_DIR)
  if(NOT EXISTS ${TAVIO32_DOCS_DIR}/html/index.html)
    message(FATAL_ERROR "TAVIO32_DOCS_DIR: no html/index.html in ${TAVIO32_DOCS_DIR} (run scripts/docs.sh ${TAVIO32_DOCS_DIR})")
  endif()
  set(tavio32_html ${CMAKE_INSTALL_DATAROOTDIR}/doc/libtavio32-dev/html)
  set(tavio32_shared_js "")
  if(TAVIO32_DEB_LAYOUT)
    # As Debian's dh_sphinxdoc does: Sphinx's scripts that libjs-sphinxdoc
    # holds byte for byte become links to its files (no copies of jQuery
    # and the rest in the package), and the package depends on it.
    set(tavio32_sphinxdoc /usr/share/javascript/sphinxdoc/1.0)
    file(GLOB tavio32_static_js ${TAVIO32_DOCS_DIR}/html/_static/*.js)
    foreach(js ${tavio32_static_js})
      get_filename_component(name ${js} NAME)
      if(EXISTS ${tavio32_sphinxdoc}/${name})
        file(SHA256 ${js} ours)
        file(SHA256 ${tavio32_sphinxdoc}/${name} theirs)
        if(ours STREQUAL theirs)
          file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/sphinxdoc)
          file(RELATIVE_PATH target ${CMAKE_INSTALL_PREFIX}/${tavio32_html}/_static ${tavio32_sphinxdoc}/${name})
          file(CREATE_LINK ${target} ${PROJECT_BINARY_DIR}/sphinxdoc/${name} SYMBOLIC)
          list(APPEND tavio32_shared_js PATTERN ${name} EXCLUDE)
          install(FILES ${PROJECT_BINARY_DIR}/sphinxdoc/${name} DESTINATION ${tavio32_html}/_static COMPONENT dev)
        endif()
      endif()
    endforeach()
    if(tavio32_shared_js)
      execute_process(COMMAND dpkg-query -W -f=\${Version} libjs-sphinxdoc OUTPUT_VARIABLE sphinxdoc_version)
      string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" sphinxdoc_version "${sphinxdoc_version}")
      math(EXPR next "${CMAKE_MATCH_2} + 1")
      set(TAVIO32_DEV_EXTRA_DEPENDS "libjs-sphinxdoc (>= ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}), libjs-sphinxdoc (<< ${CMAKE_MATCH_1}.${next})")
    endif()
  endif()
  install(DIRECTORY ${TAVIO32_DOCS_DIR}/html/ DESTINATION ${tavio32_html} COMPONENT dev ${tavio32_shared_js})
  file(GLOB tavio32_man3 ${TAVIO32_DOCS_DIR}/man/man3/*.3)
  if(TAVIO32_DEB_LAYOUT)
    set(tavio32_man3_gz "")
    foreach(page ${tavio32_man3})
      get_filename_component(name ${page} NAME)
      add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man3/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man3
        COMMAND gzip -9n -c ${page} > ${PROJECT_BINARY_DIR}/man3/${name}.gz
        DEPENDS ${page})
      list(APPEND tavio32_man3_gz ${PROJECT_BINARY_DIR}/man3/${name}.gz)
    endforeach()
    add_custom_target(tavio32_man3 ALL DEPENDS ${tavio32_man3_gz})
    install(FILES ${tavio32_man3_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)
  else()
    install(FILES ${tavio32_man3} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)
  endif()
endif()

# The prefix relative to the .pc file, so that an installed tree can move.
file(RELATIVE_PATH TAVIO32_PC_UP "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(cmake/tavio32.pc.in tavio32.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tavio32.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(EXPORT tavio32Targets NAMESPACE tavio32:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavio32 COMPONENT dev)
configure_package_config_file(cmake/tavio32Config.cmake.in tavio32Config.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavio32)
write_basic_package_version_file(tavio32ConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tavio32Config.cmake ${CMAKE_CURRENT_BINARY_DIR}/tavio32ConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavio32 COMPONENT dev)

install(DIRECTORY python/tavio32 DESTINATION ${TAVIO32_PYTHON_DIR} COMPONENT python
  PATTERN __pycache__ EXCLUDE PATTERN "*.pyc" EXCLUDE)
