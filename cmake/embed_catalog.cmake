# Writes OUT, a C++ source holding the .mo file MO as the array
# tavio::cli::kGermanCatalog (tools/i18n.cpp reads it on Windows).
#   cmake -DMO=tavio32.mo -DOUT=catalog_de.cpp -P embed_catalog.cmake
file(READ "${MO}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}" "// Written by cmake/embed_catalog.cmake at build time: do not edit.\nnamespace tavio::cli {\n"
  "extern const unsigned char kGermanCatalog[];\nextern const unsigned kGermanCatalogSize;\n"
  "const unsigned char kGermanCatalog[] = {\n${bytes}0};\nconst unsigned kGermanCatalogSize = ${size};\n}\n")
