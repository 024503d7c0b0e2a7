#!/usr/bin/env bash
# Draws the launcher's icon (a play mark on a rounded square) at twelve sizes into one .ico. The result is
# committed; run this only to change the icon. Needs ImageMagick.
set -euo pipefail
out=${1:-src/windows/wrappers/wrapper4wrapper/resources/launcher.ico}
convert -size 256x256 xc:none \
    -fill '#1f5fbf' -draw 'roundrectangle 12,12,244,244,44,44' \
    -fill '#ffffff' -draw 'polygon 96,68 96,188 196,128' \
    -define icon:auto-resize=256,128,96,72,64,56,48,40,32,24,20,16 "$out"
