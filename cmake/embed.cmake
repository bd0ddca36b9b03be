# Writes OUT, a C++ source holding the files named in LIST ("URL KIND FILE"
# a line, KIND html, js, css or json) as byte arrays with their URL paths and
# content types, and find_asset() over them. With GZIP (the gzip program)
# each file is held gzip-compressed as well, where that is smaller. An html
# file comes twice: as it is, and as a watcher gets it (URL#watch: its body
# of class "watch", without the teacher's parts from the first paint on).
#   cmake -DOUT=file.cpp -DLIST=assets.list [-DGZIP=gzip] -P embed.cmake
set(body "// Written by cmake/embed.cmake at build time: do not edit.\n#include \"assets.h\"\n\n#include <cstring>\n\nnamespace tavio::serve {\nnamespace {\n")
set(table "")
set(n 0)
set(type_html "text/html; charset=utf-8")
set(type_js "text/javascript; charset=utf-8")
set(type_css "text/css; charset=utf-8")
set(type_json "application/json; charset=utf-8")

# Appends the bytes of `file` to the source as array `name`; its size in
# `size_out`.
function(embed_bytes file name size_out)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  set(body "${body}const unsigned char ${name}[] = {\n${bytes}0};\n" PARENT_SCOPE)
  set(${size_out} ${size} PARENT_SCOPE)
endfunction()

# One table entry: the file as it is and, where smaller, gzip-compressed.
function(embed_asset url type file)
  embed_bytes("${file}" a${n} size)
  set(gz "nullptr, 0")
  if(GZIP)
    execute_process(COMMAND "${GZIP}" -9 -n -c "${file}" OUTPUT_FILE "${OUT}.gz" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip could not compress ${file}")
    endif()
    file(SIZE "${OUT}.gz" gz_size)
    if(gz_size LESS size)
      embed_bytes("${OUT}.gz" z${n} gz_size)
      set(gz "z${n}, ${gz_size}")
    endif()
    file(REMOVE "${OUT}.gz")
  endif()
  math(EXPR next "${n} + 1")
  set(n ${next} PARENT_SCOPE)
  set(body "${body}" PARENT_SCOPE)
  set(table "${table}    {\"${url}\", \"${type}\", a${n}, ${size}, ${gz}},\n" PARENT_SCOPE)
endfunction()

file(STRINGS "${LIST}" entries)
foreach(entry IN LISTS entries)
  string(REPLACE " " ";" parts "${entry}")
  list(GET parts 0 url)
  list(GET parts 1 kind)
  list(GET parts 2 file)
  embed_asset("${url}" "${type_${kind}}" "${file}")
  if(kind STREQUAL "html")
    file(READ "${file}" page)
    string(FIND "${page}" "<body>" at)
    if(at LESS 0)
      message(FATAL_ERROR "${file} has no <body> to give the watchers' class")
    endif()
    string(REPLACE "<body>" "<body class=\"watch\">" page "${page}")
    file(WRITE "${OUT}.watch" "${page}")
    embed_asset("${url}#watch" "${type_html}" "${OUT}.watch")
    file(REMOVE "${OUT}.watch")
  endif()
endforeach()
string(APPEND body "const Asset kAssets[] = {\n${table}};\n} // namespace\n\n"
  "const Asset *find_asset(const std::string &path) {\n"
  "  for (const Asset &a : kAssets)\n    if (path == a.path) return &a;\n  return nullptr;\n}\n\n"
  "} // namespace tavio::serve\n")
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
