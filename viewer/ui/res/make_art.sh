#!/usr/bin/env bash
# Draws the viewer's caption-button strips and icon. Run once by hand after a
# change; the results are kept in the tree and built into the program.
#
# Each strip holds three images side by side: 0 pressed (unused), 1 lit
# (mouse over), 2 normal. Pure black is transparent; nothing else may be black,
# so the glyphs are drawn without anti-aliasing.
set -euo pipefail
cd "$(dirname "$0")"

LIT="rgb(58,130,204)"        # lit background of minimise, maximise, restore
CLOSE_LIT="rgb(224,48,40)"   # lit background of close
PRESSED="rgb(40,80,140)"
GLYPH="rgb(255,255,255)"

# strip <output> <image width> <glyph primitives, relative to the image> <lit colour> [options]
strip() {
  local output=$1 width=$2 glyph=$3 lit=$4; shift 4
  local draw=()
  for i in 0 1 2; do
    local x=$((i * width))
    case $i in
      0) draw+=(-fill "$PRESSED" -draw "rectangle $x,0 $((x + width - 1)),17") ;;
      1) draw+=(-fill "$lit" -draw "rectangle $x,0 $((x + width - 1)),17") ;;
    esac
    draw+=(-fill none -stroke "$GLYPH" -strokewidth 1
           -draw "translate $x,0 $glyph" -stroke none)
  done
  convert -size "$((3 * width))x18" xc:black +antialias "${draw[@]}" "$@" "$output"
}

strip BMP3:close_130.bmp 46 "line 18,4 27,13 line 18,13 27,4 line 19,4 28,13 line 19,13 28,4" "$CLOSE_LIT" \
  -type TrueColor
strip BMP3:max_131.bmp 34 "rectangle 12,4 21,13 line 12,5 21,5" "$LIT" -type TrueColor
strip BMP3:min_132.bmp 33 "line 12,12 21,12 line 12,13 21,13" "$LIT" -type TrueColor
strip BMP:restore_133.bmp 34 "rectangle 11,6 19,14 line 11,7 19,7 polyline 14,6 14,3 22,3 22,11 19,11 line 14,4 22,4" "$LIT" \
  -alpha set -define bmp:format=bmp4

# Application icon, 32 x 32: a page with lines of text on the band's blue.
convert -size 32x32 xc:"rgb(21,96,165)" \
  -fill white -draw "rectangle 8,4 23,27" \
  -fill "rgb(21,96,165)" -draw "rectangle 10,8 21,9 rectangle 10,13 21,14 rectangle 10,18 18,19 rectangle 10,22 20,23" \
  PNG24:icon_128.png
