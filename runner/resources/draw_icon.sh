#!/bin/sh
# Draws the product mark (a ring with its satellite on a violet-to-teal tile)
# and writes it as an icon with 16 to 256 pixel 32-bpp images.
#   draw_icon.sh <output.ico>
set -eu
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 256x256 xc:none \
  \( -size 256x256 gradient:'#6d4aff-#14b8a6' \) -compose over -composite \
  \( -size 256x256 xc:none -fill white \
     -draw 'roundrectangle 0,0 255,255 56,56' \) -compose DstIn -composite \
  -compose over -fill none -stroke white -strokewidth 26 \
  -draw 'circle 128,128 128,52' \
  -stroke none -fill white -draw 'circle 186,74 186,52' \
  "PNG32:$work/mark.png"
convert "$work/mark.png" -define icon:auto-resize=256,128,64,48,32,24,16 \
  "$out"
