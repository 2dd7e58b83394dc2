#!/usr/bin/env bash
# Draws the patcher's own icon (sarvik.ico: 16, 24, 32, 48 and 256 pixels) with ImageMagick.
# The output is reproducible: no time stamps or other metadata go into the images.
# Usage: patcher/app/make_icon.sh [output.ico]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="${1:-$here/sarvik.ico}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
strip=(-strip -define png:exclude-chunks=date,time +set date:create +set date:modify)

# 256 px master: a rounded tile with a deep blue to teal gradient, a light rim, and a white arrow
# coming down into a tray: "what you need arrives here".
convert -size 256x256 xc:none \
  \( -size 256x256 -define gradient:angle=160 gradient:'#1c3f8c-#14a39a' \) \
  -compose over -composite \
  \( -size 256x256 xc:none -fill white -draw 'roundrectangle 12,12 243,243 46,46' \) \
  -compose dst_in -composite \
  -fill none -stroke 'rgba(255,255,255,0.35)' -strokewidth 4 -draw 'roundrectangle 14,14 241,241 44,44' \
  -stroke none -fill white \
  -draw 'polygon 108,44 148,44 148,122 182,122 128,178 74,122 108,122' \
  -draw 'roundrectangle 56,186 200,206 10,10' \
  -draw 'roundrectangle 56,160 76,206 10,10' \
  -draw 'roundrectangle 180,160 200,206 10,10' \
  "${strip[@]}" "PNG32:$work/256.png"

for size in 48 32 24 16; do
  convert "$work/256.png" -filter Lanczos -resize "${size}x${size}" -unsharp 0x0.6 \
    "${strip[@]}" "PNG32:$work/$size.png"
done
# Largest first, the order Windows shell tools use.
convert "$work/256.png" "$work/48.png" "$work/32.png" "$work/24.png" "$work/16.png" \
  "${strip[@]}" "ICO:$out"
