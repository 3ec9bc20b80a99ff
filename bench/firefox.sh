#!/bin/sh
# Whole page loads in Firefox (headless, a fresh profile each): a page with 30
# images, a style sheet and a script from harborlight-serve and from busybox
# httpd in turn, with six busy loops beside them, in a private network
# namespace of its own (loopback only). About 2 minutes.
#
# Usage: bench/firefox.sh [--loads N] [--also NAME=PATH] [--write] [--no-install]
#   --also   another harborlight-serve build, loaded from in the same run
#   --write  put the results in docs/performance.md
# Needs root (for the namespace). Installs firefox-esr and busybox if missing.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. bench/need.sh
bench_need "$@" -- 'firefox-esr firefox-esr' 'busybox busybox'

cmake --preset native >/dev/null
cmake --build --preset native --target harborlight-serve >/dev/null

for a do
  shift
  [ "$a" = --no-install ] || set -- "$@" "$a"
done
exec unshare --net -- sh -c '
  ip link set lo up
  exec python3 "$0/bench/firefox.py" "$@"' "$root" "$@"
