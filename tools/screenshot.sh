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
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config VELLORAN_SETTINGS_DIR=$work/settings
export LC_ALL=C.UTF-8
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# A window of readable size for the picture: a settings file with a larger window.
mkdir -p "$work/settings"
printf '[Window]\r\nTop=600\r\nLeft=600\r\nWidth=%s\r\nHeight=%s\r\n' 9600 5400 > "$work/settings/velloran.ini"
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
