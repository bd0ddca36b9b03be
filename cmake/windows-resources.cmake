# Version resources of TAVIO32.DLL and tavio32.exe (what Explorer's
# Properties shows: version, product, description, copyright), and the
# program's icon, made here from packaging/windows/tavio32.svg with Debian's
# tools: rsvg-convert (librsvg2-bin) draws each size, icotool (icoutils)
# puts them into one .ico. The same .ico serves the installer's shortcuts
# and its entry among the installed programs (packaging/windows/tavio32.wxs).
#
# A resource section only: the DLL's exports, ordinals and code are the same
# with it as without.
#
# Without the two tools the programs are built without an icon (said once);
# -DTAVIO32_ICON_REQUIRED=ON (scripts/package.sh) makes that an error.
enable_language(RC)
option(TAVIO32_ICON_REQUIRED "Fail when the program's icon cannot be made" OFF)
find_program(TAVIO32_RSVG_CONVERT rsvg-convert)
find_program(TAVIO32_ICOTOOL icotool)

set(tavio32_patch ${PROJECT_VERSION_PATCH})
if("${tavio32_patch}" STREQUAL "")
  set(tavio32_patch 0)
endif()
set(TAVIO32_RC_VERSION "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${tavio32_patch},0")
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE TAVIO32_COPYRIGHT REGEX "^Copyright" LIMIT_COUNT 1)

set(TAVIO32_ICON "")
if(TAVIO32_RSVG_CONVERT AND TAVIO32_ICOTOOL)
  set(TAVIO32_ICON ${PROJECT_BINARY_DIR}/tavio32.ico)
  set(svg ${PROJECT_SOURCE_DIR}/packaging/windows/tavio32.svg)
  set(draw "")
  set(pngs "")
  foreach(size 16 24 32 48)
    list(APPEND draw COMMAND ${TAVIO32_RSVG_CONVERT} -w ${size} -h ${size} -o icon-${size}.png ${svg})
    list(APPEND pngs icon-${size}.png)
  endforeach()
  # The 256-pixel image stays a PNG inside the .ico (as Windows' own do).
  add_custom_command(OUTPUT ${TAVIO32_ICON}
    ${draw}
    COMMAND ${TAVIO32_RSVG_CONVERT} -w 256 -h 256 -o icon-256.png ${svg}
    COMMAND ${TAVIO32_ICOTOOL} -c -o ${TAVIO32_ICON} ${pngs} -r icon-256.png
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    DEPENDS ${svg} VERBATIM
    COMMENT "The program's icon, tavio32.ico")
  add_custom_target(tavio32_icon ALL DEPENDS ${TAVIO32_ICON})
elseif(TAVIO32_ICON_REQUIRED)
  message(FATAL_ERROR "tavio32.ico needs rsvg-convert and icotool (Debian: librsvg2-bin, icoutils; scripts/setup.sh package)")
else()
  message(STATUS "tavio32.exe: without an icon (rsvg-convert and icotool, Debian's librsvg2-bin and icoutils, are missing)")
endif()

# tavio32_version_resource(TARGET FILE DESCRIPTION TYPE [ICON])
function(tavio32_version_resource target file description type)
  set(TAVIO32_RC_FILE ${file})
  set(TAVIO32_RC_DESCRIPTION "${description}")
  set(TAVIO32_RC_TYPE ${type})
  get_filename_component(TAVIO32_RC_INTERNAL ${file} NAME_WE)
  set(TAVIO32_RC_ICON "")
  if(ARGC GREATER 4 AND TAVIO32_ICON)
    set(TAVIO32_RC_ICON "1 ICON \"${TAVIO32_ICON}\"")
  endif()
  set(rc ${PROJECT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  if(TAVIO32_RC_ICON)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${TAVIO32_ICON})
    add_dependencies(${target} tavio32_icon)
  endif()
endfunction()

tavio32_version_resource(tavio32_dll TAVIO32.DLL
  "tavio32: serial ports and school measurement interfaces (${TAVIO32_BITS}-bit)" VFT_DLL)
if(TARGET tavio32-cli)
  tavio32_version_resource(tavio32-cli tavio32.exe "tavio32 command and class view (${TAVIO32_BITS}-bit)" VFT_APP ICON)
endif()
