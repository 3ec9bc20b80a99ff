#!/bin/sh
# Builds Harborlight and runs it in the current directory, which then holds
# DATA/ (the files served) and LOG/. With a display, the Windows application
# runs under Wine in a Japanese locale; without one, the headless server.
# Installs what is missing first (as root on Debian 12): for the headless
# server, the native tool chain alone.
# Usage: tools/run.sh [--headless] [harborlight-serve options]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

case ${1:-} in
  --help|-h)
    echo "Usage: tools/run.sh [--headless] [harborlight-serve options]"
    echo
    echo "Builds Harborlight and runs it in the current directory, which then holds"
    echo "DATA/ (the files served) and LOG/. With a display, Harborlight.exe runs under"
    echo "Wine in a Japanese locale; without one, or with --headless, harborlight-serve,"
    echo "given the options that follow (its own --help lists them)."
    echo
    echo "  --headless  run harborlight-serve even with a display"
    echo "  --help      show this text"
    exit 0
    ;;
esac

headless=""
if [ "${1:-}" = "--headless" ]; then
  headless=1
  shift
fi
if [ -z "$headless" ] && [ -z "${DISPLAY:-}" ]; then
  echo "No display (DISPLAY is not set): running the headless server instead."
  headless=1
elif [ ! -f "$root/ui/CMakeLists.txt" ]; then
  headless=1
fi

# build PRESET TARGET: configures quietly (its output shown only if it
# fails) and builds TARGET, showing Ninja's progress and any compiler error.
build() {
  log=$(mktemp)
  if ! (cd "$root" && cmake --preset "$1" -DBUILD_TESTING=OFF) >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "Configuring ($1) failed." >&2
    exit 1
  fi
  rm -f "$log"
  if ! (cd "$root" && cmake --build --preset "$1" --target "$2"); then
    echo "The build ($1) failed: the error is above." >&2
    exit 1
  fi
}

if [ -z "$headless" ]; then
  "$root/tools/setup.sh" run
  echo "Building Harborlight.exe ..."
  build windows Harborlight
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

"$root/tools/setup.sh" headless
echo "Building harborlight-serve ..."
build native harborlight-serve
port_given=""
for a in "$@"; do
  case $a in --port|--port=*) port_given=1 ;; esac
done
if [ -z "$port_given" ] && [ "$(id -u)" != 0 ]; then
  echo "Not root, so port 80 is not ours to take: using port 8080 (choose with --port N)."
  set -- --port 8080 "$@"
fi
exec "$root/build/native/harborlight-serve" "$@"
