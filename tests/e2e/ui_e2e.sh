#!/bin/bash
# Harborlight.exe as a user meets it: under Wine on an X display, the start
# button pressed with the mouse, the page fetched with curl and shown in a
# headless Chromium, stop pressed, and the program quit from the File menu.
# On the way, the File menu's other commands: DATA made and handed to
# Explorer, the QR code read back with zbarimg, the URL handed to a browser,
# the requests in the access window. Screenshots of the main window, the QR
# code dialog and the access window go to SHOTS (the README shows them).
# With HARBORLIGHT_WINE_DPI=144 the screen is at 150 %: the window is found
# and driven at that scale, its screenshots are named ...-150.png, and the
# browser is left out.
# Usage: [HARBORLIGHT_WINE_LOCALE=C.UTF-8] [HARBORLIGHT_WINE_DPI=144]
#        tests/e2e/ui_e2e.sh BUILD/ui/Harborlight.exe [SHOTS [HIGH_CONTRAST_EXE]]
#        (inside tools/netns-run.sh)
set -u
# shellcheck source=tests/e2e/e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"
e2e_require_netns ui_e2e
e2e_require_display ui_e2e
exe=$(realpath "$1")
high_contrast_exe=${3:+$(realpath "$3")}
root=$(cd "$(dirname "$0")/../.." && pwd)
# Absolute: the script works in a directory of its own.
shots=$(realpath -m "${2:-$root/docs/screenshots}")
host=10.231.0.1
shot_suffix=
[ "$e2e_dpi" = 96 ] || shot_suffix=-$((e2e_dpi * 100 / 96))

# The locale's prefix, shared with the other tests under Wine.
e2e_wine_prefix "${HARBORLIGHT_E2E_PREFIX:-$e2e_shared_prefix}"
e2e_wine_decorated_off
e2e_workdir ui-e2e
browser_stand_in

# Finds, in a screenshot of the whole screen, the indicator block (yellow or
# green) and the panel's two button glyphs, and prints shell assignments:
# the client area's origin and the two buttons' centres, in screen pixels.
locate() {
  import -window root -depth 8 "$work/screen.ppm" 2>/dev/null || return 1
  e2e_python - "$work/screen.ppm" "$e2e_dpi" <<'EOF'
import sys
from screen import Screen, scaled
screen = Screen(sys.argv[1])
dpi = int(sys.argv[2])
ox, oy = screen.locate_indicator(dpi)
# The glyphs: dark pixels in the panel's left and right halves.
for name, x0, x1 in (("start", 10, 105), ("stop", 105, 200)):
    xs, ys = [], []
    for y in range(oy + scaled(60, dpi), oy + scaled(118, dpi)):
        for x in range(ox + scaled(x0, dpi), ox + scaled(x1, dpi)):
            if sum(screen.rgb(x, y)) < 150:
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

# window_shot FILE [ID]: Wine's X window ID, or the main window, with its
# frame.
window_shot() {
  local id=${2:-$(xdotool search --name '^Harborlight$' | head -1)}
  mkdir -p "$shots"
  import -window "$id" "$1" 2>/dev/null && pass "screenshot $1" || fail "screenshot $1"
}

WINEDEBUG=-all,+process wine "$exe" > app.out 2>&1 &
app_pid=$!

if wait_for_indicator yellow; then pass "main window shows the server stopped"; else
  fail "no main window with a yellow indicator"; cat app.out >&2; exit 1; fi

# DATA is missing until the command makes it; Wine's Explorer gets its path,
# quoted, with a trailing \ (which ps shows as Wine splits the line: \" as ").
# Windows' shell would run the DATA.bat beside a bare path; Wine would not.
printf '@echo ran> DATA.ran\r\n' > DATA.bat
file_menu d
want="C:\\windows\\system32\\explorer.exe Z:$(echo "$work/DATA" | tr / '\\')\""
for _ in $(seq 1 20); do
  explorer=$(ps -eo pid=,args= | while read -r pid args; do [ "$args" = "$want" ] && echo "$pid"; done)
  [ -n "$explorer" ] && break
  sleep 0.5
done
[ -d DATA ] && [ -n "$explorer" ] && pass "DATA made, $want" || fail "DATA: $(ps -eo args | grep explorer)"
[ -z "$explorer" ] || kill "$explorer"
[ ! -e DATA.ran ] && pass "DATA.bat beside DATA not run" || fail "DATA.bat ran in place of the folder"

xdotool mousemove "$start_x" "$start_y" click 1
if wait_for_indicator green; then pass "start button: indicator green"; else fail "start button: no green"; fi
window_shot "$shots/main-window-running$shot_suffix.png"
qr_reads "http://$host/" "$shots/qr-dialog$shot_suffix.png"

# The dialog's firewall button (Alt+F): the Control Panel by its whole path,
# as Wine's trace of process creation shows it.
file_menu q
dialog=$(window_named 'QRコード') && xdotool key alt+f
want='app L"C:\\windows\\system32\\control.exe" cmdline L"\"C:\\windows\\system32\\control.exe\" /name Microsoft.WindowsFirewall /page pageConfigureApps"'
for _ in $(seq 1 20); do grep -aqF "$want" app.out && break; sleep 0.5; done
grep -aqF "$want" app.out && pass "firewall's list: $want" || fail "firewall's list: $(grep -a control app.out)"
xdotool key Escape
window_gone "$dialog" || fail "QR code dialog still open"
browser_gets "http://$host/"

curl -s -i --max-time 10 "http://$host/" -o root.answer
size=$(stat -c %s root.answer 2>/dev/null || echo 0)
[ "$size" = 340 ] && pass "GET / gives 340 bytes" || fail "GET / gave $size bytes"
[ -f DATA/index.html ] && pass "test page written to DATA/index.html" || fail "no DATA/index.html"

if [ -n "$shot_suffix" ]; then
  echo "skip: the browser, at $e2e_dpi DPI"
elif command -v chromium >/dev/null; then
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

# The access window from the File menu: a row for each request, the
# not-found one among them, copied with Ctrl+A and Ctrl+C as a user would.
head -c 1500000 /dev/zero > DATA/photo.jpg
for path in photo.jpg %E5%86%99%E7%9C%9F.png; do curl -s --max-time 10 "http://$host/$path" -o /dev/null; done
curl -s --max-time 10 -d x "http://$host/" -o /dev/null
file_menu a
if access=$(window_named 'アクセス状況'); then
  sleep 1
  window_shot "$shots/access-window$shot_suffix.png" "$access"
  row='^\d\d:\d\d:\d\d\t10\.231\.0\.1\tGET /%E5%86%99%E7%9C%9F\.png\t見つかりません\t78\t'
  xdotool key ctrl+a ctrl+c
  for _ in $(seq 1 20); do
    copied=$(timeout 5 xclip -o -selection clipboard 2>/dev/null)
    printf '%s\n' "$copied" | grep -qP "$row" && break
    sleep 0.5
  done
  printf '%s\n' "$copied" | grep -qP "$row" && pass "access window shows the not-found request" ||
    fail "access window copied: $copied"
  xdotool key Escape
  window_gone "$access" && pass "Esc hides the access window" || fail "access window still shown"
else
  fail "no access window"
fi

xdotool mousemove "$stop_x" "$stop_y" click 1
if wait_for_indicator yellow; then pass "stop button: indicator yellow"; else fail "stop button: no yellow"; fi
window_shot "$shots/main-window-stopped$shot_suffix.png"
curl -s --max-time 5 "http://$host/" -o /dev/null && fail "still serving after stop" || pass "not serving after stop"

# Start again so that quitting has a running server to end.
xdotool mousemove "$start_x" "$start_y" click 1
wait_for_indicator green || fail "restart: no green"

# File menu (left end of the menu bar, just above the client area), then its
# last item, "アプリケーションの終了" (its mnemonic X), then Yes in the
# confirmation (the default button).
xdotool mousemove $((origin_x + $(at 25))) $((origin_y - $(at 10))) click 1
sleep 1
xdotool key x
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

# The window in a high-contrast theme, which Wine cannot switch on: the build
# that takes it as on (HIGH_CONTRAST_EXE), with the prefix's colours set to a
# black high-contrast scheme and its visual style off, as on Windows, until
# the saved ones come back. The server started from the keyboard: File menu,
# サーバーを開始 (Alt+F, S).
if [ -n "$high_contrast_exe" ]; then
  wine reg export 'HKCU\Control Panel\Colors' colours.reg /y >/dev/null 2>&1
  wine reg export 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' theme.reg /y >/dev/null 2>&1
  e2e_saved_keys="$work/colours.reg $work/theme.reg"
  wine reg import "$root/tests/e2e/high-contrast.reg" >/dev/null 2>&1
  wine "$high_contrast_exe" > high-contrast.out 2>&1 &
  app_pid=$!
  # The share of light pixels in a screenshot: white on black, the texts'
  # strokes, the frame and the indicator (none before the window is first
  # painted): 0.1 here, where white strips behind the texts made it 0.28.
  light() { import -window "$id" "$1" 2>/dev/null && convert "$1" -threshold 50% -format '%[fx:mean]' info:; }
  if id=$(window_named Harborlight); then
    for _ in $(seq 1 30); do [ "$(light hc.png)" != 0 ] && break; sleep 0.5; done
    xdotool mousemove --window "$id" "$(at 300)" "$(at 280)" click 1 sleep 0.5 key alt+f sleep 0.5 key s
    for _ in $(seq 1 30); do curl -s --max-time 2 "http://$host/" -o /dev/null && break; sleep 0.5; done
    curl -s --max-time 2 "http://$host/" -o /dev/null && pass "Alt+F, S starts the server" || fail "Alt+F, S: not serving"
    sleep 1
    window_shot "$shots/main-window-high-contrast$shot_suffix.png" "$id"
    share=$(light hc.png)
    awk "BEGIN { exit !($share > 0 && $share < 0.2) }" && pass "high contrast: $share of the window light" ||
      fail "high contrast: $share of the window light"
  else
    fail "no high-contrast window"
  fi
  kill "$app_pid"; wait "$app_pid"; app_pid=
  wineserver -k
  for saved in $e2e_saved_keys; do wine reg import "$saved" >/dev/null 2>&1; done
  e2e_saved_keys=
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
