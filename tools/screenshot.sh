#!/usr/bin/env bash
# Takes the README's picture: starts the real program on the demo catalogue under a virtual X
# display, searches, moves the highlight, and saves the window as a PNG.
#   tools/screenshot.sh [OUTPUT.png]   (default docs/main-window.png)
# Needs xvfb, xdotool and imagemagick (scripts/deps.sh installs them with the test packages).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/main-window.png}
bin=build/bin/velloran
[ -x "$bin" ] || { echo "build first: ./run.sh or velloran_build build"; exit 1; }
work=$(mktemp -d)
trap 'kill ${app:-} ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT
# Xvfb picks a free display itself.
Xvfb -displayfd 1 -screen 0 1024x640x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display") XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
export VELLORAN_SETTINGS_DIR=$work/settings LC_ALL=C.UTF-8
# A larger window than the design's, with columns widened as a host would drag them.
mkdir -p "$work/settings"
printf '%s\r\n' "[Display]" "List Font Name=" "List Font Size=8" "Title Font Name=" "Title Font Size=14" \
  "Column Order=NDSA" "Column Width=1,800" "Column Width=2,1700" "Column Width=3,4900" "Column Width=4,8700" \
  "[Window]" "Top=600" "Left=600" "Width=9600" "Height=5400" > "$work/settings/velloran.ini"
"$bin" --demo >/dev/null &
app=$!
win=$(xdotool search --sync --onlyvisible --name velloran | head -1)
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
sleep 0.5
xdotool type --delay 40 "love"
xdotool key Return
sleep 0.5
xdotool key Down Down Down Tab
sleep 0.5
mkdir -p "$(dirname "$out")"
import -window "$win" "$out"
echo "saved $out"
