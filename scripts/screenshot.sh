#!/usr/bin/env bash
# Takes docs/screenshot.png: the main window with a picture in it, under a
# virtual X server. Usage: scripts/screenshot.sh [picture] (default: a made one).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${PW_SCREENSHOT_DISPLAY:-}" ]; then
  scripts/install-dependencies.sh
  build="${PW_BUILD_DIR:-build}"
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPW_BUILD_TESTS=OFF
  cmake --build "$build" --target picture-workbench
  # Again, on a display of its own: -a picks a free display number.
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    env PW_SCREENSHOT_DISPLAY=1 PW_PROGRAM="$build/app/picture-workbench" "$0" "$@"
fi

work="$(mktemp -d /tmp/pw-screenshot-XXXXXX)"
program_pid=
cleanup() {
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 20 s for a window with this exact title; prints its id.
window() {
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1
}

picture="${1:-}"
if [ -z "$picture" ]; then
  picture="$work/shapes.png"
  convert -size 448x336 radial-gradient:'#ffe9a8'-'#2b5c8a' \
    \( -size 448x336 xc:none -fill '#c0392b' -draw 'circle 150,180 150,96' \
       -fill '#27ae60' -draw 'rectangle 250,80 390,250' \
       -fill '#f1c40f' -draw 'polygon 80,310 200,280 140,210' \) -composite "$picture"
fi
picture="$(realpath "$picture")"

mkdir -m 700 "$work/runtime"
env -u QT_QPA_PLATFORM -u QT_SCALE_FACTOR QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
  XDG_CONFIG_HOME="$work/config" NO_AT_BRIDGE=1 "$PW_PROGRAM" >"$work/program.log" 2>&1 &
program_pid=$!
main="$(window Form1)"

# File -> Open through its shortcut and the file dialog.
xdotool windowfocus --sync "$main" key ctrl+o
dialog="$(window Open)"
xdotool windowfocus --sync "$dialog"
xdotool key --delay 40 ctrl+a
xdotool type --delay 10 "$picture"
xdotool key Return
for _ in $(seq 100); do
  xdotool search --onlyvisible --name '^Open$' >/dev/null || break
  sleep 0.1
done

# The pointer over the picture fills in the status bar and the label.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool windowfocus --sync "$main"
xdotool mousemove --window "$main" 150 150
sleep 1
import -window "$main" -strip docs/screenshot.png
echo "docs/screenshot.png: $(identify -format '%w x %h' docs/screenshot.png) of window ${WIDTH} x ${HEIGHT}"
