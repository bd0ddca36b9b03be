# cmake --install: the library (with its SONAME), the header, pkg-config and
# CMake package files, the programs with their manual pages, and the Python
# package.
include(CMakePackageConfigHelpers)
set(TAVIO32_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
  "Where the Python package is installed, relative to the prefix")

install(TARGETS tavio32 EXPORT tavio32Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/tavio32.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tavio32-cli tavio32-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/tavio32.1 man/tavio32-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The prefix relative to the .pc file, so that an installed tree can move.
file(RELATIVE_PATH TAVIO32_PC_UP "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(cmake/tavio32.pc.in tavio32.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tavio32.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(EXPORT tavio32Targets NAMESPACE tavio32:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavio32)
configure_package_config_file(cmake/tavio32Config.cmake.in tavio32Config.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavio32)
write_basic_package_version_file(tavio32ConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tavio32Config.cmake ${CMAKE_CURRENT_BINARY_DIR}/tavio32ConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavio32)

install(DIRECTORY python/tavio32 DESTINATION ${TAVIO32_PYTHON_DIR}
  PATTERN __pycache__ EXCLUDE PATTERN "*.pyc" EXCLUDE)
