#!/bin/bash
# Harborlight.exe as a user meets it: under Wine on an X display, the start
# button pressed with the mouse, the page fetched with curl and shown in a
# headless Chromium, stop pressed, and the program quit from the File menu.
# Screenshots of the main window go to SHOTS (the README shows them).
# Usage: tests/e2e/ui_e2e.sh BUILD/ui/Harborlight.exe [SHOTS]   (inside tools/netns-run.sh)
set -u
if [ "${HARBORLIGHT_NETNS:-}" != 1 ]; then
  echo "ui_e2e: run inside tools/netns-run.sh, never on the host's network" >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "ui_e2e: no X display: start Xvfb and export DISPLAY" >&2
  exit 1
fi
exe=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
shots=${2:-$root/docs/screenshots}
host=10.231.0.1

# A prefix of its own, so that nothing else's wineserver is touched; Wine
# draws the window frames itself, as there is no window manager.
export WINEPREFIX=${HARBORLIGHT_E2E_PREFIX:-$(dirname "$exe")/wineprefix-e2e}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
wineserver -k >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wineserver -w

work=$(mktemp -d /tmp/harborlight-ui-e2e-XXXXXX)
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# Finds, in a screenshot of the whole screen, the indicator block (yellow or
# green) and the panel's two button glyphs, and prints shell assignments:
# the client area's origin and the two buttons' centres, in screen pixels.
locate() {
  import -window root -depth 8 "$work/screen.ppm" 2>/dev/null || return 1
  python3 - "$work/screen.ppm" <<'EOF'
import sys
import re
data = open(sys.argv[1], "rb").read()
header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
width, height = int(header.group(1)), int(header.group(2))
pixels = data[header.end():]
def rgb(x, y):
    i = (y * width + x) * 3
    return pixels[i], pixels[i + 1], pixels[i + 2]
# The indicator: the first row with a run of at least 20 pure yellow or green
# pixels; its top-left corner lies at client (270, 90).
found = None
for y in range(height):
    row = pixels[y * width * 3:(y + 1) * width * 3]
    for colour, name in ((b"\xff\xff\x00" * 20, "yellow"), (b"\x00\xff\x00" * 20, "green")):
        at = row.find(colour)
        while at >= 0 and at % 3:
            at = row.find(colour, at + 1)
        if at >= 0:
            found = (at // 3, y, name)
            break
    if found:
        break
if not found:
    print("indicator=none")
    sys.exit(0)
ox, oy = found[0] - 270, found[1] - 90
print(f"indicator={found[2]} origin_x={ox} origin_y={oy}")
# The glyphs: dark pixels in the panel's left and right halves.
for name, x0, x1 in (("start", 10, 105), ("stop", 105, 200)):
    xs, ys = [], []
    for y in range(oy + 60, oy + 118):
        for x in range(ox + x0, ox + x1):
            if sum(rgb(x, y)) < 150:
                xs.append(x)
                ys.append(y)
    if xs:
        print(f"{name}_x={(min(xs) + max(xs)) // 2} {name}_y={(min(ys) + max(ys)) // 2}")
EOF
}

# Waits up to 15 s for the indicator to show COLOUR; leaves the layout in
# the shell's variables.
wait_for_indicator() {
  for _ in $(seq 1 30); do
    eval "$(locate)"
    [ "${indicator:-none}" = "$1" ] && return 0
    sleep 0.5
  done
  return 1
}

# The main window with its frame: Wine's X window of that name.
window_shot() {
  local id
  id=$(xdotool search --name '^Harborlight$' | head -1)
  mkdir -p "$shots"
  import -window "$id" "$1" 2>/dev/null && pass "screenshot $1" || fail "screenshot $1"
}

wine "$exe" > app.out 2>&1 &
app_pid=$!

if wait_for_indicator yellow; then pass "main window shows the server stopped"; else
  fail "no main window with a yellow indicator"; cat app.out >&2; exit 1; fi

xdotool mousemove "$start_x" "$start_y" click 1
if wait_for_indicator green; then pass "start button: indicator green"; else fail "start button: no green"; fi
window_shot "$shots/main-window-running.png"

curl -s -i --max-time 10 "http://$host/" -o root.answer
size=$(stat -c %s root.answer 2>/dev/null || echo 0)
[ "$size" = 340 ] && pass "GET / gives 340 bytes" || fail "GET / gave $size bytes"
[ -f DATA/index.html ] && pass "test page written to DATA/index.html" || fail "no DATA/index.html"

if command -v chromium >/dev/null; then
  profile=$(mktemp -d "$work/chromium-XXXXXX")
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --window-size=800,600 \
    --screenshot="$work/browser.png" "http://$host/" >/dev/null 2>&1
  if [ -s "$work/browser.png" ]; then
    cp "$work/browser.png" "$shots/browser-test-page.png"
    pass "Chromium shows the page ($shots/browser-test-page.png)"
  else
    fail "Chromium took no screenshot"
  fi
else
  echo "skip: chromium is not installed"
fi

xdotool mousemove "$stop_x" "$stop_y" click 1
if wait_for_indicator yellow; then pass "stop button: indicator yellow"; else fail "stop button: no yellow"; fi
window_shot "$shots/main-window-stopped.png"
curl -s --max-time 5 "http://$host/" -o /dev/null && fail "still serving after stop" || pass "not serving after stop"

# Start again so that quitting has a running server to end.
xdotool mousemove "$start_x" "$start_y" click 1
wait_for_indicator green || fail "restart: no green"

# File menu (left end of the menu bar, just above the client area), then its
# only item, then Yes in the confirmation (the default button).
xdotool mousemove $((origin_x + 25)) $((origin_y - 10)) click 1
sleep 1
xdotool mousemove $((origin_x + 60)) $((origin_y + 10)) click 1
box=
for _ in $(seq 1 20); do
  box=$(xdotool search --name '確認メッセージ' 2>/dev/null | head -1)
  [ -n "$box" ] && break
  sleep 0.5
done
if [ -n "$box" ]; then pass "quit asks for confirmation"; else fail "no confirmation box"; fi
xdotool key Return

status=timeout
for _ in $(seq 1 40); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"; status=$?; app_pid=
    break
  fi
  sleep 0.5
done
[ "$status" = 0 ] && pass "Harborlight.exe exits with 0" || fail "exit status $status"

# As a server would bind it: the closed connections' TIME_WAIT does not count.
python3 -c '
import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind((sys.argv[1], 80))
s.listen()' "$host" && pass "port 80 free at once" || fail "port 80 still held"

echo "$failures failure(s)"
[ "$failures" = 0 ]
