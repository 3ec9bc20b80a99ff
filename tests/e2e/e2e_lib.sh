# Sourced by the end-to-end scripts: the guards, the Wine prefix, the working
# directory and its clean-up, and the pass/fail counters.
# shellcheck shell=bash

# python3 able to import this folder's screen.py (and writing no bytecode
# into the source tree).
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
e2e_python() { PYTHONPATH=$e2e_dir PYTHONDONTWRITEBYTECODE=1 python3 "$@"; }

# e2e_require_netns NAME: refuses to run on the host's network.
e2e_require_netns() {
  if [ "${HARBORLIGHT_NETNS:-}" != 1 ]; then
    echo "$1: run inside tools/netns-run.sh, never on the host's network" >&2
    exit 1
  fi
}

# e2e_require_display NAME: refuses to run without an X display.
e2e_require_display() {
  if [ -z "${DISPLAY:-}" ]; then
    echo "$1: no X display: start Xvfb and export DISPLAY" >&2
    exit 1
  fi
}

# The locale Wine runs in: Japanese unless HARBORLIGHT_WINE_LOCALE names
# another (C.UTF-8, say). Wine fixes a prefix's language when it creates it,
# so each locale has a prefix of its own, shared with the tests that
# tools/wine-run.sh runs: build/wineprefix for Japanese, else one whose name
# ends in e2e_prefix_suffix ("-C" for C.UTF-8), build/wineprefix-C. So has
# each display scale other than 96 DPI (HARBORLIGHT_WINE_DPI=144:
# build/wineprefix-144dpi). CTest runs the tests of one prefix one at a time
# (their RESOURCE_LOCK), as each ends the prefix's wineserver when it starts
# and ends.
e2e_locale=${HARBORLIGHT_WINE_LOCALE:-ja_JP.UTF-8}
e2e_dpi=${HARBORLIGHT_WINE_DPI:-96}
e2e_prefix_suffix=
[ "$e2e_locale" = ja_JP.UTF-8 ] || e2e_prefix_suffix=-${e2e_locale%%.*}
[ "$e2e_dpi" = 96 ] || e2e_prefix_suffix=$e2e_prefix_suffix-${e2e_dpi}dpi
e2e_shared_prefix=$(cd "$e2e_dir/../.." && pwd)/build/wineprefix$e2e_prefix_suffix

# e2e_wine_prefix PREFIX: Wine in PREFIX (made ready by tools/wine-prefix.sh),
# in e2e_locale, with a wineserver of this namespace, ended again on exit.
e2e_wine=
e2e_wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=" LANG=$e2e_locale LC_ALL=$e2e_locale
  e2e_wine=1
  wineserver -k >/dev/null 2>&1
  "$e2e_dir/../../tools/wine-prefix.sh"
}

# Wine draws Harborlight.exe's window frames itself, as there is no window
# manager: set for that program alone, as the prefix is shared.
e2e_wine_decorated_off() {
  wine reg add 'HKCU\Software\Wine\AppDefaults\Harborlight.exe\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
  wineserver -w
}

# e2e_workdir NAME: a fresh /tmp/harborlight-NAME-XXXXXX as the current
# directory ($work), removed on exit, when app_pid (the program under test,
# once started) is ended too.
app_pid=
e2e_cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  # The prefix is also tools/wine-run.sh's: its browser is Wine's own again.
  [ -n "${e2e_stand_in:-}" ] && wine reg delete 'HKCU\Software\Wine\WineBrowser' /v Browsers /f >/dev/null 2>&1
  for saved in ${e2e_saved_keys:-}; do wine reg import "$saved" >/dev/null 2>&1; done
  [ -n "$e2e_wine" ] && wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
e2e_workdir() {
  work=$(mktemp -d "/tmp/harborlight-$1-XXXXXX")
  trap e2e_cleanup EXIT
  cd "$work" || exit 1
}

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# A length of the window's 96-DPI layout at the screen's scale.
at() { echo $(( ($1 * e2e_dpi + 48) / 96 )); }

# Waits up to 10 s for a window titled NAME; prints its id.
window_named() {
  local id
  for _ in $(seq 1 20); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.5
  done
  return 1
}

# Waits up to 10 s for the window ID to be gone.
window_gone() {
  for _ in $(seq 1 20); do
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
    xwininfo -id "$1" 2>/dev/null | grep -q IsViewable || return 0
    sleep 0.5
  done
  return 1
}

# file_menu KEY: the File menu's item KEY from the keyboard, after a click on
# the main window's client area (at origin_x, origin_y) has given it the focus.
file_menu() {
  xdotool mousemove $((origin_x + $(at 300))) $((origin_y + $(at 250))) click 1
  xdotool key alt+f
  sleep 0.5
  xdotool key "$1"
}

# A stand-in browser that writes down its URL in browser.url: Wine's http
# handler, winebrowser, starts the first program of its Browsers list.
browser_stand_in() {
  printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "%s/browser.url"\n' "$work" > browser.sh
  chmod +x browser.sh
  wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$work/browser.sh" /f >/dev/null 2>&1
  e2e_stand_in=1
}

# browser_gets URL: "ブラウザで開く" hands the browser exactly URL.
browser_gets() {
  rm -f browser.url
  file_menu b
  for _ in $(seq 1 20); do [ -s browser.url ] && break; sleep 0.5; done
  [ "$(cat browser.url 2>/dev/null)" = "$1" ] && pass "browser given $1" ||
    fail "browser given '$(cat browser.url 2>/dev/null)', not $1"
}

# qr_reads URL [SHOT]: zbarimg reads exactly URL off a screenshot (kept as
# SHOT) of the QR code dialog; Esc closes it.
qr_reads() {
  local dialog got=
  file_menu q
  dialog=$(window_named 'QRコード') || { fail "no QR code dialog"; return; }
  for _ in $(seq 1 10); do
    import -window "$dialog" qr.png 2>/dev/null
    got=$(zbarimg --raw -q qr.png 2>/dev/null) && [ "$got" = "$1" ] && break
    sleep 0.5
  done
  [ "$got" = "$1" ] && pass "QR code reads $1" || fail "QR code reads '$got', not $1"
  [ -z "${2:-}" ] || cp qr.png "$2"
  xdotool key Escape
  window_gone "$dialog" || fail "QR code dialog still open"
}
