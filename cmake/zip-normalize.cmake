# CPack post-build script (CPACK_POST_BUILD_SCRIPTS) of the Windows zips:
# Debian's strip-nondeterminism sorts each zip's members and sets every time
# in it (the extra fields' access and change times too) to the commit's
# (SOURCE_DATE_EPOCH), so that two builds of a commit give the same bytes.
find_program(STRIP_NONDETERMINISM strip-nondeterminism)
if(NOT STRIP_NONDETERMINISM)
  message(FATAL_ERROR "strip-nondeterminism is missing (Debian: apt install strip-nondeterminism; scripts/setup.sh package)")
endif()
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch)
  string(TIMESTAMP epoch "%s" UTC)
endif()
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  if(zip MATCHES "\\.zip$")
    execute_process(COMMAND ${STRIP_NONDETERMINISM} --type zip --timestamp ${epoch} "${zip}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "strip-nondeterminism failed on ${zip}")
    endif()
  endif()
endforeach()
