#!/bin/sh
# Runs a Windows program under Wine as Harborlight's tests need it: its own
# prefix, a Japanese locale (ANSI code page 932), and a private network
# namespace. The wineserver makes the sockets, so it must live in the same
# namespace: one started elsewhere for this prefix is ended first.
# Usage: tools/wine-run.sh PROGRAM.exe [ARG...]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8

if [ "${HARBORLIGHT_NETNS:-}" != 1 ]; then
  exec "$root/tools/netns-run.sh" "$0" "$@"
fi

wineserver -k >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
wine "$@"
status=$?
wineserver -k >/dev/null 2>&1
exit $status
