# cmake -DINPUT=file -DOUTPUT=file.h -DSYMBOL=name -P EmbedFile.cmake
# Writes the bytes of a file as a C++ array, so that a program carries its
# artwork inside itself and needs no files beside it.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.\n#pragma once\n#include <cstddef>\n"
"inline constexpr unsigned char ${SYMBOL}[${size}] = {\n    ${bytes}\n};\n")
