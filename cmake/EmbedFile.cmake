# Artwork built into a program: the bytes of each file become a C++ array in a
# generated header, so that a program carries its pictures inside itself and
# needs no files beside it.
#
# Included: morvex_embed_artwork(<target> <folder> <file>...) makes, for each
# file such as icon_128.png, the header icon_128_png.h holding the array
# k_icon_128_png, on the target's include path (ui/artwork.h reads them).
# Run as a script: cmake -DINPUT=file -DOUTPUT=file.h -DSYMBOL=name -P EmbedFile.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ ${INPUT} hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
  file(WRITE ${OUTPUT}
  "// Generated from ${INPUT}; do not edit.\n#pragma once\n#include <cstddef>\n"
  "inline constexpr unsigned char ${SYMBOL}[${size}] = {\n    ${bytes}\n};\n")
  return()
endif()

function(morvex_embed_artwork target folder)
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_FILE})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/art)
  foreach(art ${ARGN})
    string(REPLACE "." "_" symbol ${art})
    set(header ${out}/${symbol}.h)
    add_custom_command(
      OUTPUT ${header}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${folder}/${art} -DOUTPUT=${header} -DSYMBOL=k_${symbol}
              -P ${script}
      DEPENDS ${folder}/${art} ${script}
      VERBATIM)
    target_sources(${target} PRIVATE ${header})
  endforeach()
  target_include_directories(${target} PRIVATE ${out})
endfunction()
