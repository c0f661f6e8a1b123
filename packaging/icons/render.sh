#!/bin/sh
# Renders the icon's PNG sizes from its drawings (rsvg-convert, package
# librsvg2-bin): 16 to 24 pixels from small.svg, the rest from the full
# drawing. The PNGs are kept in the repository; run this after changing a
# drawing.
set -eu
cd "$(dirname "$0")"
name=com.trellaneemc.tallyhouse
for size in 16 22 24 32 48 64 128 256; do
  drawing=$name.svg
  [ "$size" -le 24 ] && drawing=small.svg
  rsvg-convert -w "$size" -h "$size" "$drawing" -o "$name-$size.png"
done
