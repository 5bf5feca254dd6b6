#!/usr/bin/env bash
# Takes docs/screenshot.png: the main window with a picture in it, under a
# virtual X server. Usage: scripts/screenshot.sh [picture] (default: a made one).
#   PW_SCREENSHOT_DISPLAY=N  the X display to use (default: a free one)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/builds.sh
# The virtual X server, xdotool, ImageMagick and Python are the test group's.
scripts/install-dependencies.sh test
build_program

work="$(mktemp -d /tmp/pw-screenshot-XXXXXX)"
trap 'rm -rf "$work"' EXIT
picture="${1:-}"
if [ -z "$picture" ]; then
  picture="$work/shapes.png"
  convert -size 448x336 radial-gradient:'#ffe9a8'-'#2b5c8a' \
    \( -size 448x336 xc:none -fill '#c0392b' -draw 'circle 150,180 150,96' \
       -fill '#27ae60' -draw 'rectangle 250,80 390,250' \
       -fill '#f1c40f' -draw 'polygon 80,310 200,280 140,210' \) -composite "$picture"
fi
python3 scripts/screenshot.py ${PW_SCREENSHOT_DISPLAY:+--display "$PW_SCREENSHOT_DISPLAY"} \
  "$program_build/app/picture-workbench" "$(realpath "$picture")" docs/screenshot.png
