#!/bin/sh
# Benchmarks harborlight-serve against the floor server (bench/floor.c) and
# the peers that are installed, in a private network namespace of its own,
# and writes docs/performance.md and docs/performance.svg.
#
# Usage: bench/run.sh [--quick] [--reps N] [--skip nginx,lighttpd,python,wine,memory,soak] [--no-write]
#                     [--also NAME=PATH] [--also-wine NAME=PATH.exe] [--only page32,...] [--requests N]
#   --quick      about two minutes instead of about ten
#   --no-install use what is installed; do not call apt-get
# Needs root (for the namespace). Installs from Debian what it lacks.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. bench/need.sh
bench_need "$@" -- 'ab apache2-utils' 'curl curl' 'taskset util-linux' 'cc gcc libc6-dev' \
  'nginx nginx-light' 'lighttpd lighttpd'

cmake --preset native >/dev/null
cmake --build --preset native --target harborlight-serve engine_tests >/dev/null
if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++ >/dev/null; then
  [ -f build/windows/build.ninja ] || cmake --preset windows >/dev/null
  cmake --build --preset windows --target harborlight-serve engine_tests >/dev/null
fi
if command -v wine >/dev/null && [ -f build/windows/harborlight-serve.exe ]; then
  # A Wine prefix of the benchmark's own, so tests using the shared one run on.
  export WINEPREFIX="$root/build/wineprefix-bench"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX (once)"
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" timeout 600 wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
fi

args=$(printf '%s\n' "$@" | grep -vx -- --no-install || true)
# Loopback only: the engine then finds 127.0.0.1 as the host's address. A
# wineserver of this prefix outside the namespace would make the sockets
# there, so it is ended first, inside.
exec unshare --net -- sh -c '
  ip link set lo up
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  python3 "$0/bench/bench.py" "$@"
  status=$?
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  exit $status' "$root" $args
