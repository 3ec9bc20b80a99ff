#!/bin/sh
# Page loads over a link like a phone's Wi-Fi (a delay line between two
# network namespaces made here: D ms each way, 50 Mbit/s, a 256,000-byte
# drop-tail queue): harborlight-serve, the same build with a stock kernel's
# send-buffer cap, and harborlight-serve.exe under Wine against busybox
# httpd, then a few whole loads of the gallery in Firefox. About 15 minutes.
#
# Usage: bench/link.sh [--delays 5,10,20] [--reps N] [--pages gallery,photos,large,camera]
#                      [--skip wine,stock,firefox] [--also NAME=PATH] [--also-wine NAME=PATH.exe]
#                      [--fixed BYTES] [--firefox-loads N] [--write] [--no-install]
#   --write  put the results in docs/performance.md
# Needs root (for the namespaces and TUN devices). Installs busybox and
# firefox-esr from Debian if they are missing.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. bench/need.sh
bench_need "$@" -- 'busybox busybox' 'firefox-esr firefox-esr' 'cc gcc libc6-dev' 'nsenter util-linux'

cmake --preset native >/dev/null
cmake --build --preset native --target harborlight-serve >/dev/null
if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++ >/dev/null; then
  [ -f build/windows/build.ninja ] || cmake --preset windows >/dev/null
  cmake --build --preset windows --target harborlight-serve >/dev/null
  export WINEPREFIX="$root/build/wineprefix-bench"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX (once)"
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" timeout 600 wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # The wineserver must start inside the server's namespace, with the first
  # Wine server there.
  wineserver -k >/dev/null 2>&1 || true
fi

for a do
  shift
  [ "$a" = --no-install ] || set -- "$@" "$a"
done
# A namespace of its own around the two that the run makes, and the host's
# name resolving to the server's address (a private /etc/hosts): Wine falls
# back to the resolver when it cannot read the interfaces.
exec unshare --net --mount --propagation private -- sh -c '
  ip link set lo up
  hosts=$(mktemp)
  printf "127.0.0.1 localhost\n10.41.0.2 %s\n" "$(hostname)" > "$hosts"
  mount --bind "$hosts" /etc/hosts
  rm -f "$hosts"
  exec python3 "$0/bench/link.py" "$@"' "$root" "$@"
