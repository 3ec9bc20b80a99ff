#!/bin/sh
# The long storm: every kind of client at once (tests/e2e/storm.py) against
# harborlight-serve, natively and under Wine, in a private network namespace
# of its own. Prints each run's lines per kind; exits 1 when any run lost or
# garbled an answer.
#
# Usage: bench/storm.sh [--seconds N] [--workers N] [--seed N] [--runs N] [--native|--wine]
#   defaults: 60 s, 24 workers, a seed from the clock, one run, both builds
# Needs root (for the namespace). Builds what it lacks.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
[ "${HARBORLIGHT_NETNS:-}" = 1 ] || exec "$root/tools/netns-run.sh" "$0" "$@"
seconds=60 workers=24 seed=$(date +%s) runs=1 which="native wine"
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift ;;
    --workers) workers=$2; shift ;;
    --seed) seed=$2; shift ;;
    --runs) runs=$2; shift ;;
    --native) which=native ;;
    --wine) which=wine ;;
    *) echo "usage: bench/storm.sh [--seconds N] [--workers N] [--seed N] [--runs N] [--native|--wine]" >&2
       exit 2 ;;
  esac
  shift
done

cd "$root"
cmake --preset native >/dev/null
cmake --build --preset native --target harborlight-serve >/dev/null
if [ "$which" != native ]; then
  [ -f build/windows/build.ninja ] || cmake --preset windows >/dev/null
  cmake --build --preset windows --target harborlight-serve >/dev/null
  # A prefix of the benchmark's own, so that tests in the shared one run on.
  export WINEPREFIX="$root/build/wineprefix-bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fi

# One run: a server in a fresh directory, the storm, the server's stop.
# Under Wine the wineserver makes the sockets, so it starts in here.
storm_once() {
  work=$(mktemp -d /tmp/harborlight-storm-XXXXXX)
  cd "$work"
  if [ "$1" = wine ]; then
    wineserver -k >/dev/null 2>&1 || true
    "$root/tools/wine-prefix.sh"
    wine "$root/build/windows/harborlight-serve.exe" --port 18080 > serve.out 2>&1 &
  else
    "$root/build/native/harborlight-serve" --port 18080 > serve.out 2>&1 &
  fi
  pid=$!
  for _ in $(seq 1 300); do grep -q http serve.out && break; sleep 0.1; done
  echo "== $1, run $2 of $runs"
  status=0
  python3 "$root/tests/e2e/storm.py" 10.231.0.1 18080 DATA "$seconds" "$workers" "$3" || status=1
  kill -INT "$pid"
  wait "$pid" || true
  [ "$1" = wine ] && { wineserver -k >/dev/null 2>&1 || true; }
  cd "$root"
  rm -rf "$work"
  return $status
}

failed=0
for build in $which; do
  for run in $(seq 1 "$runs"); do
    storm_once "$build" "$run" $((seed + run - 1)) || failed=$((failed + 1))
  done
done
echo "storm: $failed failed run(s)"
[ $failed = 0 ]
