#!/usr/bin/env bash
# End to end on a real X server: the program under Xvfb finds a song typed with xdotool, Enter in
# the list puts its number on the X clipboard, ALT-Q quits and the settings file is written.
#   window_e2e.sh VELLORAN_BINARY SHARED_DIR        (exit 77: skipped)
set -euo pipefail
bin=$1
fixture=$2/fixtures/generated/songsV2000.mdb
[ -f "$fixture" ] || { echo "SKIP: no fixture at $fixture"; exit 77; }
for tool in Xvfb xdotool xclip; do
  command -v "$tool" >/dev/null || { echo "missing $tool: install the test packages (scripts/deps.sh)"; exit 1; }
done
work=$(mktemp -d)
app= xvfb=
cleanup() { for p in $app $xvfb; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

cp "$fixture" "$work/songs.mdb"
mkdir -p "$work/settings"
printf '[Databases]\r\nCurrentDB=1\r\nDatabase=%s\r\nTable=MyList\r\n' "$work/songs.mdb" > "$work/settings/velloran.ini"

# Xvfb picks a free display itself (other people's servers may run on this machine).
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -1 "$work/display") VELLORAN_SETTINGS_DIR=$work/settings XDG_CONFIG_HOME=$work/config
export XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
unset QT_QPA_PLATFORM

"$bin" > "$work/app.log" 2>&1 &
app=$!
win=$(timeout 60 xdotool search --sync --onlyvisible --name velloran | head -1)
[ -n "$win" ] || fail "the window did not appear: $(cat "$work/app.log")"
xdotool windowfocus --sync "$win" 2>/dev/null || true
sleep 0.3
xdotool type --delay 30 "1250"
xdotool key Return
sleep 0.5
xdotool key Down Up Return   # list mode: the highlighted song's number to the clipboard
clip=
for _ in $(seq 150); do  # a busy machine may take a while
  clip=$(timeout 2 xclip -o -selection clipboard 2>/dev/null || true)
  [ -n "$clip" ] && break
  sleep 0.1
done
[ "$clip" = "1250" ] || fail "clipboard holds '$clip', expected 1250"

xdotool key alt+q
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "ALT-Q did not end the program"
wait "$app" || fail "the program ended with status $?: $(cat "$work/app.log")"
app=
ini=$work/settings/velloran.ini
grep -q $'^Version=2.00.0014\r$' "$ini" || fail "settings not written: $(cat "$ini")"
grep -qF "Database=$work/songs.mdb"$'\r' "$ini" || fail "database not kept: $(cat "$ini")"
tail -c 2 "$ini" | od -c | grep -q '\\r  \\n' || fail "settings file does not end with CR LF"
echo "PASS: searched, copied 1250, quit with ALT-Q, settings written"
