# cmake -DINPUT=file.png -DOUTPUT=file.h -DSYMBOL=name -P embed_png.cmake
# Writes the bytes of a PNG file as a C++ array, so the program carries its
# artwork inside itself and needs no files beside it.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.\n#pragma once\n#include <cstddef>\n"
"inline constexpr unsigned char ${SYMBOL}[${size}] = {\n    ${bytes}\n};\n")
