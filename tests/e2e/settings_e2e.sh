#!/bin/bash
# The settings dialogs as a user meets them: Harborlight.exe under Wine on an
# X display, the menu-bar items clicked with the mouse, the port typed and
# confirmed with the keyboard, logging switched on with a click on its radio
# button, pages fetched with curl and the day's log file read from disk.
# Screenshots of the dialogs and the main window go to SHOTS when given.
# Usage: [HARBORLIGHT_WINE_LOCALE=C.UTF-8] tests/e2e/settings_e2e.sh BUILD/ui/Harborlight.exe [SHOTS]
#        (inside tools/netns-run.sh)
set -u
# shellcheck source=tests/e2e/e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"
e2e_require_netns settings_e2e
e2e_require_display settings_e2e
exe=$(realpath "$1")
# Absolute: the script works in a directory of its own.
shots=${2:+$(realpath -m "$2")}
host=10.231.0.1
port=8080

# The locale's prefix, shared with the other tests under Wine.
e2e_wine_prefix "${HARBORLIGHT_SETTINGS_E2E_PREFIX:-$e2e_shared_prefix}"
e2e_wine_decorated_off
e2e_workdir settings-e2e
browser_stand_in

# From a screenshot of the whole screen: the indicator block (yellow or
# green), whose top-left corner lies at client (270, 90), gives the client
# area's origin; the dark text of the menu bar just above it gives the four
# menu items' centres (menu1_x ... menu4_x, menu_y); the start button's glyph
# gives its centre. Printed as shell assignments, in screen pixels.
# With a NAME, the port and URL lines are saved to NAME-port.ppm and the
# logging line to NAME-log.ppm.
locate() {
  import -window root -depth 8 "$work/screen.ppm" 2>/dev/null || return 1
  e2e_python - "$work/screen.ppm" "${1:-}" <<'EOF'
import sys
from screen import Screen
screen = Screen(sys.argv[1])
width, pixels = screen.width, screen.pixels
def dark(x, y):
    return sum(screen.rgb(x, y)) < 300
ox, oy = screen.locate_indicator()
# Menu items: columns holding text in the band above the client area, split
# where the gap between columns is wider than the gaps inside a word.
columns = [x for x in range(ox, min(ox + 400, width))
           if any(dark(x, y) for y in range(max(oy - 18, 0), oy - 1))]
items = []
for x in columns:
    if items and x - items[-1][1] <= 9:
        items[-1][1] = x
    else:
        items.append([x, x])
for n, (left, right) in enumerate(items[:4], 1):
    print(f"menu{n}_x={(left + right) // 2}")
print(f"menu_y={oy - 10} menu_items={len(items)}")
xs, ys = [], []
for y in range(oy + 60, oy + 118):
    for x in range(ox + 10, ox + 105):
        if dark(x, y):
            xs.append(x)
            ys.append(y)
if xs:
    print(f"start_x={(min(xs) + max(xs)) // 2} start_y={(min(ys) + max(ys)) // 2}")
def save(name, top, bottom):
    w = 390
    out = bytearray(b"P6 %d %d 255\n" % (w, bottom - top))
    for y in range(oy + top, oy + bottom):
        start = ((y * width) + ox + 10) * 3
        out += pixels[start:start + w * 3]
    open(name, "wb").write(out)
if sys.argv[2]:
    # The lines are drawn from client y 160 (port), 190 (URL) and 220 (log).
    save(sys.argv[2] + "-port.ppm", 155, 212)
    save(sys.argv[2] + "-log.ppm", 215, 245)
EOF
}

# Waits up to 15 s for CONDITION (a shell test) after each new locate.
wait_for() {
  for _ in $(seq 1 30); do
    eval "$(locate "${2:-}")"
    eval "$1" && return 0
    sleep 0.5
  done
  return 1
}

# The screen's top-left part, where the window lies (or the window ID), to
# SHOTS/NAME.png.
shot() {
  [ -n "$shots" ] || return 0
  mkdir -p "$shots"
  if [ -n "${2:-}" ]; then
    import -window "$2" "$shots/$1.png" 2>/dev/null
  else
    import -window root -crop 420x330+0+0 "$shots/$1.png" 2>/dev/null
  fi
}

# Answers the confirmation box with Enter (Yes is its default button).
confirm_yes() {
  local box
  if box=$(window_named '確認メッセージ'); then
    pass "$1: confirmation asked"
    shot "confirmation-$2" "$box"
    xdotool key --window "$box" Return 2>/dev/null || xdotool key Return
    window_gone "$box" || fail "$1: confirmation box still open"
  else
    fail "$1: no confirmation box"
  fi
}

wine "$exe" > app.out 2>&1 &
app_pid=$!

if wait_for '[ "${indicator:-none}" = yellow ]' lines-80; then
  pass "main window shows the server stopped"
else
  fail "no main window with a yellow indicator"; cat app.out >&2; exit 1
fi
[ "${menu_items:-0}" = 4 ] && pass "four menu-bar items" || fail "menu bar items found: ${menu_items:-0}"

# The port: a click on "ポート番号の変更", Tab twice from OK to the field,
# the number, Enter (the default button, OK), then Yes.
xdotool mousemove "$menu3_x" "$menu_y" click 1
if dialog=$(window_named 'ポート番号の設定'); then
  pass "port dialog opens from the menu bar"
  xdotool key Tab Tab
  xdotool type --delay 50 "$port"
  shot port-dialog
  xdotool key Return
  confirm_yes "port $port" port
  window_gone "$dialog" && pass "port dialog closed" || fail "port dialog still open"
else
  fail "no port dialog"
fi
if wait_for '! cmp -s lines-80-port.ppm lines-now-port.ppm' lines-now; then
  pass "port and URL lines changed"
else
  fail "port and URL lines unchanged after the port change"
fi
cmp -s lines-80-log.ppm lines-now-log.ppm && pass "logging line unchanged" ||
  fail "logging line changed with the port"
[ "$indicator" = yellow ] && pass "server not started by the port change" || fail "indicator $indicator"

xdotool mousemove "$start_x" "$start_y" click 1
wait_for '[ "$indicator" = green ]' lines-port && pass "start: indicator green" || fail "start: no green"
shot main-window-port
code=$(curl -s -o root.answer -w '%{http_code}' --max-time 10 "http://$host:$port/")
[ "$code" = 200 ] && grep -q '<html' root.answer && pass "serves on port $port" ||
  fail "port $port: status $code"
curl -s --max-time 5 -o /dev/null "http://$host/" && fail "port 80 still answers" ||
  pass "port 80 refuses"
qr_reads "http://$host:$port/"
browser_gets "http://$host:$port/"

# Logging: a click on "ログの取得", a click on the radio "ログを取得する",
# Enter, then Yes. The dialog's client area lies at the main window's
# client origin; its size, 186 by 90 dialog units, gives the unit.
xdotool mousemove "$menu4_x" "$menu_y" click 1
if dialog=$(window_named 'ログファイルの取得'); then
  pass "log dialog opens from the menu bar"
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  frame=$((origin_x - X))
  client_w=$((WIDTH - 2 * frame))
  client_h=$((Y + HEIGHT - frame - origin_y))
  xdotool mousemove $((origin_x + 40 * client_w / 186)) $((origin_y + 13 * client_h / 90)) click 1
  sleep 0.5
  shot log-dialog
  xdotool key Return
  confirm_yes "logging on" log
  window_gone "$dialog" && pass "log dialog closed" || fail "log dialog still open"
else
  fail "no log dialog"
fi
if wait_for '! cmp -s lines-port-log.ppm lines-now-log.ppm' lines-now; then
  pass "logging line changed"
  shot main-window-logging
else
  fail "logging line unchanged"
fi

log=LOG/HarborlightLog_$(LC_ALL=C date +%Y%-m%-d).log
mkdir -p DATA && printf '\x89PNG' > DATA/lamp.png
curl -s --max-time 10 -o /dev/null "http://$host:$port/lamp.png"
[ -e "$log" ] && fail "an image was logged" || pass "no log line for an image"
curl -s --max-time 10 -o /dev/null "http://$host:$port/"
if python3 - "$log" "$host" <<'EOF'
import re
import sys
data = open(sys.argv[1], "rb").read()
line = re.escape(sys.argv[2].encode()) + rb" \x81\x46 [A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}\r\n"
sys.exit(0 if re.fullmatch(line, data) else 1)
EOF
then
  pass "$log holds the page's line"
else
  fail "$log: $(od -c "$log" 2>&1 | head -3)"
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
