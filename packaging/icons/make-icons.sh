#!/bin/sh
# Draws the PNG sizes of the hicolor theme with ImageMagick's own drawing
# primitives (Debian's ImageMagick has no SVG reader without extra
# delegates). The figure is the one of kv20-tool.svg, in the same 256x256
# coordinates: keep both in step when changing it. The PNGs and the .ico are
# kept in the repository, so that building the packages needs no drawing tool.
set -eu
cd "$(dirname "$0")"

pins=""
for x in 58 86 114 142 170 198; do
    pins="$pins roundrectangle $x,100 $((x + 12)),122 3,3 roundrectangle $x,210 $((x + 12)),232 3,3"
done

convert -size 256x256 xc:none \
    -fill '#1d5f7a' -draw 'roundrectangle 8,8 248,248 44,44' \
    -fill '#c9d6dc' -draw "$pins" \
    -fill '#f4f7f8' -draw 'roundrectangle 44,114 212,216 12,12' \
    -fill none -stroke '#1d5f7a' -strokewidth 9 \
    -draw "stroke-linecap round stroke-linejoin round path 'M68 165 h14 l10 -26 l16 52 l14 -40 l12 28 l10 -14 h38'" \
    -stroke none -fill '#f29b30' -draw "path 'M112 24 h32 v42 h26 l-42 42 l-42 -42 h26 z'" \
    -strip PNG32:kv20-tool-256.png

for size in 16 24 32 48 64 128; do
    convert kv20-tool-256.png -filter Lanczos -resize "${size}x${size}" -strip "PNG32:kv20-tool-${size}.png"
done

# The Windows programs' icon (Debian: icoutils), every size in one file; the
# 256 px image stays PNG, as Windows expects it at that size.
icotool -c -o kv20-tool.ico kv20-tool-16.png kv20-tool-24.png kv20-tool-32.png kv20-tool-48.png \
    kv20-tool-64.png kv20-tool-128.png -r kv20-tool-256.png
