#!/bin/sh
# Draws the program's icon (a fuel dispenser with its controller board's display and a
# service plug) with ImageMagick and writes the hicolor sizes the package installs.
# Run it again only when the drawing changes; the PNGs are kept in the repository.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$here/icons
convert=${CONVERT:-/usr/bin/convert}
mkdir -p "$out"
"$convert" -size 256x256 xc:none \
  -fill '#1d3f6e' -draw 'roundrectangle 8,8 247,247 36,36' \
  -fill '#2f6db3' -draw 'roundrectangle 8,8 247,120 36,36' -draw 'rectangle 8,60 247,120' \
  -fill '#f2f2f2' -draw 'roundrectangle 58,40 158,226 10,10' \
  -fill '#1b1b1b' -draw 'rectangle 70,56 146,98' \
  -fill '#5cff7a' -draw 'rectangle 76,64 96,90' -draw 'rectangle 102,64 118,90' -draw 'rectangle 124,64 140,90' \
  -fill '#1b1b1b' -draw 'rectangle 80,70 92,84' -draw 'rectangle 106,70 114,84' -draw 'rectangle 128,70 136,84' \
  -fill '#e8731c' -draw 'rectangle 70,112 146,150' \
  -fill '#f2f2f2' -draw 'rectangle 78,120 138,126' -draw 'rectangle 78,134 120,140' \
  -fill '#7a7a7a' -draw 'rectangle 48,214 168,232' \
  -stroke '#1b1b1b' -strokewidth 9 -fill none -draw 'path "M 158,120 C 200,120 206,150 204,200"' \
  -stroke none -fill '#e8731c' -draw 'polygon 190,196 218,196 214,222 194,222' \
  -fill '#1b1b1b' -draw 'rectangle 199,222 209,238' \
  "$out/korvane_v3-256.png"
for size in 128 64 48 32; do
  "$convert" "$out/korvane_v3-256.png" -resize ${size}x${size} "$out/korvane_v3-$size.png"
done
# The Windows icon resource of korvane_v3.exe: every size Explorer and the task bar ask for.
"$convert" "$out/korvane_v3-256.png" -define icon:auto-resize=256,48,32,16 "$out/korvane_v3.ico"
