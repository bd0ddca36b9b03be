# The page of `tavio32 serve`: web/ and the libraries it uses, embedded into
# the program as web_assets.cpp.
#
# web/package-lock.json is the one list of the page's libraries, their
# versions and their hashes. Every package it names is downloaded at
# configure time from the lock file's `resolved` address (the registry's
# usual address where the lock file has none; -DTAVIO32_WEB_REGISTRY=URL
# for a mirror of the registry), checked against the lock
# file's `integrity` hash before use, and unpacked into the build tree as
# web/libs/NAME/ (no npm). -DTAVIO32_WEB_LIBS_DIR=DIR takes the unpacked
# packages from DIR/NAME/ instead, with no network at all (a distribution's
# build). Each package's licence file is kept beside the program's
# (TAVIO32_WEB_LICENSES).
set(TAVIO32_WEB_LIBS_DIR "" CACHE PATH
  "Folder with the page's libraries unpacked, one folder per package (default: downloaded as web/package-lock.json names them)")
set(tavio32_npm_registry "https://registry.npmjs.org")
set(TAVIO32_WEB_REGISTRY "${tavio32_npm_registry}" CACHE STRING
  "The npm registry or a mirror of it: the lock file's addresses on the registry are taken from here")
set(web_src ${PROJECT_SOURCE_DIR}/web)
set(web_bin ${PROJECT_BINARY_DIR}/web)
file(MAKE_DIRECTORY ${web_bin}/libs ${web_bin}/licenses)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${web_src}/package-lock.json)

# sha512-BASE64 (the lock file's form) to the hexadecimal digits CMake checks.
function(tavio32_integrity_hex integrity out)
  if(NOT integrity MATCHES "^sha512-([A-Za-z0-9+/]+=*)$")
    message(FATAL_ERROR "web/package-lock.json: '${integrity}' is not a sha512 integrity hash")
  endif()
  string(REGEX REPLACE "=+$" "" b64 "${CMAKE_MATCH_1}")
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(digits "0123456789abcdef")
  set(hex "")
  set(bits 0)
  set(nbits 0)
  string(LENGTH "${b64}" len)
  math(EXPR last "${len} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${b64}" ${i} 1 c)
    string(FIND "${alphabet}" "${c}" v)
    math(EXPR bits "((${bits} << 6) | ${v}) & 4095")
    math(EXPR nbits "${nbits} + 6")
    while(nbits GREATER_EQUAL 4)
      math(EXPR nbits "${nbits} - 4")
      math(EXPR d "(${bits} >> ${nbits}) & 15")
      string(SUBSTRING "${digits}" ${d} 1 h)
      string(APPEND hex "${h}")
    endwhile()
  endforeach()
  # 86 characters carry 516 bits: the 512 of the hash and 4 of padding.
  string(SUBSTRING "${hex}" 0 128 hex)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

file(READ ${web_src}/package-lock.json lock)
string(JSON keys_n LENGTH "${lock}" packages)
math(EXPR keys_last "${keys_n} - 1")
set(TAVIO32_WEB_LICENSES "")
set(TAVIO32_WEB_PACKAGES "")
foreach(k RANGE ${keys_last})
  string(JSON key MEMBER "${lock}" packages ${k})
  if(key STREQUAL "")
    continue() # the page itself
  endif()
  string(REGEX REPLACE "^(.*/)?node_modules/" "" name "${key}")
  string(JSON version GET "${lock}" packages "${key}" version)
  string(JSON integrity ERROR_VARIABLE no_integrity GET "${lock}" packages "${key}" integrity)
  string(JSON resolved ERROR_VARIABLE no_resolved GET "${lock}" packages "${key}" resolved)
  string(MAKE_C_IDENTIFIER "${name}" id)
  if(TAVIO32_WEB_LIBS_DIR)
    set(dir ${TAVIO32_WEB_LIBS_DIR}/${name})
    if(NOT IS_DIRECTORY ${dir})
      message(FATAL_ERROR "TAVIO32_WEB_LIBS_DIR: no folder ${dir} for ${name} ${version} (web/package-lock.json)")
    endif()
  else()
    if(no_integrity)
      message(FATAL_ERROR "web/package-lock.json names ${name} without an integrity hash")
    endif()
    if(no_resolved)
      string(REGEX REPLACE "^@[^/]*/" "" base "${name}")
      set(resolved "${tavio32_npm_registry}/${name}/-/${base}-${version}.tgz")
    endif()
    string(FIND "${resolved}" "${tavio32_npm_registry}/" at)
    if(at EQUAL 0)
      string(REPLACE "${tavio32_npm_registry}/" "${TAVIO32_WEB_REGISTRY}/" resolved "${resolved}")
    endif()
    tavio32_integrity_hex("${integrity}" sha512)
    set(dir ${web_bin}/libs/${name})
    set(tarball ${web_bin}/libs/${id}-${version}.tgz)
    # A download whose file is there with the right hash is skipped.
    if(NOT EXISTS ${dir}/.integrity OR NOT EXISTS ${tarball})
      message(STATUS "Page library ${name} ${version}: ${resolved}")
    endif()
    file(DOWNLOAD "${resolved}" ${tarball} EXPECTED_HASH SHA512=${sha512} TLS_VERIFY ON STATUS st)
    list(GET st 0 code)
    if(NOT code EQUAL 0)
      list(GET st 1 why)
      file(REMOVE ${tarball})
      message(FATAL_ERROR "${name} ${version} could not be fetched from ${resolved}: ${why}. "
        "Check the network, or build with -DTAVIO32_WEB_LIBS_DIR=DIR holding ${name}/ unpacked")
    endif()
    set(unpacked_hash "")
    if(EXISTS ${dir}/.integrity)
      file(READ ${dir}/.integrity unpacked_hash)
    endif()
    if(NOT unpacked_hash STREQUAL sha512)
      file(REMOVE_RECURSE ${dir} ${web_bin}/libs/unpack-${id})
      file(ARCHIVE_EXTRACT INPUT ${tarball} DESTINATION ${web_bin}/libs/unpack-${id})
      # npm's tarballs hold one top folder, mostly package/.
      file(GLOB top LIST_DIRECTORIES true ${web_bin}/libs/unpack-${id}/*)
      file(RENAME ${top} ${dir})
      file(REMOVE_RECURSE ${web_bin}/libs/unpack-${id})
      file(WRITE ${dir}/.integrity "${sha512}")
    endif()
  endif()
  string(JSON licence_name ERROR_VARIABLE no_licence GET "${lock}" packages "${key}" license)
  list(APPEND TAVIO32_WEB_PACKAGES ${name})
  set(TAVIO32_WEB_LIB_${id} ${dir})
  set(TAVIO32_WEB_VERSION_${id} ${version})
  set(TAVIO32_WEB_LICENSE_NAME_${id} "${licence_name}")
  file(GLOB licence ${dir}/LICENSE* ${dir}/LICENCE* ${dir}/license* ${dir}/licence*)
  if(licence)
    list(GET licence 0 licence)
    configure_file(${licence} ${web_bin}/licenses/${id}.txt COPYONLY)
    list(APPEND TAVIO32_WEB_LICENSES ${web_bin}/licenses/${id}.txt)
    set(TAVIO32_WEB_LICENSE_FILE_${id} ${web_bin}/licenses/${id}.txt)
  endif()
endforeach()

# qrcode-generator ships its library unminified (57 KB): Debian's uglifyjs
# (scripts/setup.sh installs it) minifies it at build time, keeping its
# copyright and licence lines. Without uglifyjs it is embedded as it is.
set(web_qrcode ${TAVIO32_WEB_LIB_qrcode_generator}/dist/qrcode.js)
set(web_generated)
find_program(TAVIO32_UGLIFYJS uglifyjs)
if(TAVIO32_UGLIFYJS)
  add_custom_command(OUTPUT ${web_bin}/qrcode.min.js
    COMMAND ${TAVIO32_UGLIFYJS} ${web_qrcode} --compress --mangle --comments "/Copyright|license/i"
      -o ${web_bin}/qrcode.min.js
    DEPENDS ${web_qrcode}
    COMMENT "Minifying the QR library" VERBATIM)
  set(web_qrcode ${web_bin}/qrcode.min.js)
  list(APPEND web_generated ${web_qrcode})
else()
  message(STATUS "No uglifyjs: the page's QR library is embedded unminified (scripts/setup.sh demo installs it)")
endif()
# The page in other languages: each po/page/LANG.po becomes the catalog the
# page loads (LANG.json), by gettext's msgattrib and po/page/po2json.py.
# Without them (scripts/setup.sh demo installs them) the page is English only.
set(web_catalogs)
find_program(TAVIO32_MSGATTRIB msgattrib)
find_package(Python3 COMPONENTS Interpreter QUIET)
if(TAVIO32_MSGATTRIB AND Python3_Interpreter_FOUND)
  foreach(lang de)
    set(po ${PROJECT_SOURCE_DIR}/po/page/${lang}.po)
    add_custom_command(OUTPUT ${web_bin}/${lang}.json
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/po/page/po2json.py ${po} ${web_bin}/${lang}.json
      DEPENDS ${po} ${PROJECT_SOURCE_DIR}/po/page/po2json.py COMMENT "The page's texts in ${lang}" VERBATIM)
    list(APPEND web_generated ${web_bin}/${lang}.json)
    list(APPEND web_catalogs "/${lang}.json json ${web_bin}/${lang}.json")
  endforeach()
else()
  message(STATUS "No gettext or python3: the page is in English only (scripts/setup.sh demo installs them)")
endif()
# Each file is also embedded gzip-compressed (gzip -9 -n, the same bytes
# every build) for browsers that accept it. No Brotli: browsers ask for it
# over HTTPS and from localhost only, and the class's phones come over HTTP.
find_program(TAVIO32_GZIP gzip)
if(NOT TAVIO32_GZIP)
  message(STATUS "No gzip: the page's files are served uncompressed")
endif()

# url kind file, one a line (kinds: html js css json).
set(web_assets
  "/index.html html ${web_src}/index.html"
  "/app.js js ${web_src}/app.js"
  "/style.css css ${web_src}/style.css"
  "/uPlot.min.js js ${TAVIO32_WEB_LIB_uplot}/dist/uPlot.iife.min.js"
  "/uPlot.min.css css ${TAVIO32_WEB_LIB_uplot}/dist/uPlot.min.css"
  "/qrcode.js js ${web_qrcode}"
  "/i18n.js js ${web_src}/i18n.js"
  ${web_catalogs})
set(web_list ${web_bin}/assets.list)
set(web_files)
set(web_list_text)
foreach(asset IN LISTS web_assets)
  string(APPEND web_list_text "${asset}\n")
  string(REGEX REPLACE "^[^ ]+ [^ ]+ " "" file "${asset}")
  if(NOT EXISTS ${file} AND NOT file IN_LIST web_generated)
    message(FATAL_ERROR "The page needs ${file}, which is missing")
  endif()
  list(APPEND web_files ${file})
endforeach()
file(CONFIGURE OUTPUT ${web_list} CONTENT "${web_list_text}" @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/web_assets.cpp
  COMMAND ${CMAKE_COMMAND} -DOUT=${PROJECT_BINARY_DIR}/web_assets.cpp -DLIST=${web_list}
    "-DGZIP=${TAVIO32_GZIP}" -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${web_files} ${web_list} ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
  COMMENT "Embedding the page")
