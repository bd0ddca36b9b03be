# Writes OUT, a C++ source holding the files named in LIST ("URL KIND FILE"
# a line, KIND html, js or css) as byte arrays with their URL paths and
# content types, and find_asset() over them.
#   cmake -DOUT=file.cpp -DLIST=assets.list -P embed.cmake
set(body "// Written by cmake/embed.cmake at build time: do not edit.\n#include \"assets.h\"\n\n#include <cstring>\n\nnamespace tavio::serve {\nnamespace {\n")
set(table "")
set(n 0)
set(type_html "text/html; charset=utf-8")
set(type_js "text/javascript; charset=utf-8")
set(type_css "text/css; charset=utf-8")
file(STRINGS "${LIST}" entries)
foreach(entry IN LISTS entries)
  string(REPLACE " " ";" parts "${entry}")
  list(GET parts 0 url)
  list(GET parts 1 kind)
  list(GET parts 2 file)
  set(type "${type_${kind}}")
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND body "const unsigned char a${n}[] = {\n${bytes}0};\n")
  string(APPEND table "    {\"${url}\", \"${type}\", a${n}, ${size}},\n")
  math(EXPR n "${n} + 1")
endforeach()
string(APPEND body "const Asset kAssets[] = {\n${table}};\n} // namespace\n\n"
  "const Asset *find_asset(const std::string &path) {\n"
  "  for (const Asset &a : kAssets)\n    if (path == a.path) return &a;\n  return nullptr;\n}\n\n"
  "} // namespace tavio::serve\n")
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
