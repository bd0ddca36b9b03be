# CPack post-build script (CPACK_POST_BUILD_SCRIPTS) of the Windows zips:
# writes each zip again with CMake's archiver, its members in sorted order
# and every time the commit's (SOURCE_DATE_EPOCH), so that two builds of a
# commit give the same bytes whatever order the file system lists them in.
# string(TIMESTAMP) takes SOURCE_DATE_EPOCH where it is set.
string(TIMESTAMP mtime "%Y-%m-%d %H:%M:%S UTC" UTC)
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  if(NOT zip MATCHES "\\.zip$")
    continue()
  endif()
  # The staged files are in the folder of the zip's name, beside it.
  string(REGEX REPLACE "\\.zip$" "" top "${zip}")
  get_filename_component(parent "${top}" DIRECTORY)
  file(GLOB_RECURSE members RELATIVE "${parent}" "${top}/*")
  list(SORT members)
  file(REMOVE "${zip}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${zip}" --format=zip "--mtime=${mtime}" -- ${members}
    WORKING_DIRECTORY "${parent}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT EXISTS "${zip}")
    message(FATAL_ERROR "could not write ${zip} again")
  endif()
endforeach()
