#!/bin/sh
# Builds Harborlight and runs it in the current directory, which then holds
# DATA/ (the files served) and LOG/. With a display, the Windows application
# runs under Wine in a Japanese locale; without one, the headless server.
# Installs what is missing first (as root on Debian 12).
# Usage: tools/run.sh [--headless] [harborlight-serve options]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh" run

headless=""
if [ "${1:-}" = "--headless" ]; then
  headless=1
  shift
fi

build() {
  (cd "$root" && cmake --preset "$1" -DBUILD_TESTING=OFF >/dev/null && cmake --build --preset "$1" >/dev/null)
}

if [ -z "$headless" ] && [ -n "${DISPLAY:-}" ] && [ -f "$root/ui/CMakeLists.txt" ]; then
  echo "Building Harborlight.exe ..."
  build windows
  export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix-run}"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEDEBUG="${WINEDEBUG:--all}"
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  [ -f "$WINEPREFIX/system.reg" ] || echo "Preparing the Wine prefix $WINEPREFIX (once) ..."
  "$root/tools/wine-prefix.sh"
  if [ "$(id -u)" != 0 ]; then
    echo "Not root: Linux lets only root bind port 80. Choose another port (8080, say)"
    echo "with the menu-bar command for the port number before you press start."
  fi
  echo "Starting Harborlight in $(pwd)"
  exec wine "$root/build/windows/ui/Harborlight.exe"
fi

if [ -z "$headless" ]; then
  echo "No display (DISPLAY is not set): running the headless server instead."
fi
echo "Building harborlight-serve ..."
build native
port_given=""
for a in "$@"; do
  case $a in --port|--port=*) port_given=1 ;; esac
done
if [ -z "$port_given" ] && [ "$(id -u)" != 0 ]; then
  echo "Not root, so port 80 is not ours to take: using port 8080 (choose with --port N)."
  set -- --port 8080 "$@"
fi
exec "$root/build/native/harborlight-serve" "$@"
