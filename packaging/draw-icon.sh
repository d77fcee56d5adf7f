#!/usr/bin/env bash
# Draws the program's icon (ImageMagick): a blue shield-like rounded square
# with "Z58" and two signal arcs, at the sizes Windows and desktop menus use.
# The results are committed; run this only to change the icon.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
    -fill '#1d4f91' -draw 'roundrectangle 8,8 247,247 48,48' \
    -fill none -stroke '#9fd0ff' -strokewidth 9 -draw 'arc 166,44 226,104 220,320' -draw 'arc 146,24 246,124 220,320' \
    -stroke none -fill '#9fd0ff' -draw 'circle 196,82 196,91' \
    -fill white -font DejaVu-Sans-Bold -pointsize 92 -gravity center -annotate +0+28 'Z58' \
    z58.png
convert z58.png -define icon:auto-resize=256,48,32,16 z58.ico
