#!/usr/bin/env bash
# Draws the updater's artwork with ImageMagick: the dialog's side picture
# (163 x 278, 24 bits per pixel) and the application icon (32 x 32, 16 x 16).
# Run once by hand; the PNG files it writes are committed and embedded.
set -euo pipefail
cd "$(dirname "$0")"
latin=$(fc-match -f '%{file}' 'DejaVu Sans:bold')
cjk=$(fc-match -f '%{file}' 'WenQuanYi Micro Hei')

# Side picture: a deep-blue band with a globe, an upward arrow and the name.
convert -size 163x278 gradient:'#0b2f6b'-'#3f8fd8' \
  -fill none -stroke '#9fd0ff' -strokewidth 2 \
  -draw 'circle 81,104 81,50' \
  -strokewidth 1 -stroke '#7fb6ee' \
  -draw 'ellipse 81,104 22,54 0,360' \
  -draw 'ellipse 81,104 42,54 0,360' \
  -draw 'line 27,104 135,104' \
  -draw 'line 35,77 127,77' -draw 'line 35,131 127,131' \
  -stroke none -fill '#ffffff' \
  -draw 'polygon 81,66 108,98 92,98 92,140 70,140 70,98 54,98' \
  -fill '#ffb000' -draw 'rectangle 70,134 92,140' \
  -font "$latin" -pointsize 22 -fill white -gravity north -annotate +0+180 'Morvex' \
  -font "$cjk" -pointsize 15 -fill '#e6f2ff' -annotate +0+212 '自动升级' \
  -fill '#ffffff30' -draw 'rectangle 0,262 163,278' \
  -depth 8 -type TrueColor -define png:color-type=2 side_picture.png

# Icon: a blue rounded square with a white upward arrow.
icon() {
  local size=$1 out=$2
  local s=$((size - 1)) r=$((size / 5))
  local cx=$((size / 2)) top=$((size / 6)) mid=$((size / 2)) bottom=$((size * 5 / 6))
  local wing=$((size * 3 / 10)) stem=$((size / 8))
  convert -size "${size}x${size}" xc:none \
    -fill '#1f5fb8' -draw "roundrectangle 0,0 $s,$s $r,$r" \
    -fill white -draw "polygon $cx,$top $((cx + wing)),$mid $((cx + stem)),$mid $((cx + stem)),$bottom $((cx - stem)),$bottom $((cx - stem)),$mid $((cx - wing)),$mid" \
    -depth 8 "$out"
}
icon 32 icon32.png
icon 16 icon16.png
