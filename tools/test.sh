#!/bin/bash
# Builds Harborlight natively and for Windows and runs every test: the engine
# suite natively (plain, ASan+UBSan, TSan), the fuzzers for a bounded time, the
# same engine suite and the window's tests under Wine, the end-to-end runs, and
# the docs check (tools/check-docs.py, in the native suite as "docs").
# Installs what is missing first (as root on Debian 12).
# Usage: tools/test.sh
set -u
cd "$(dirname "$0")/.."
started=$(date +%s)

# Every test that starts a server runs in a network namespace of its own,
# with a private /etc/hosts (tools/netns-run.sh): without them no suite can
# pass. Said once, before anything is installed or built.
if ! netns_error=$(unshare --net --mount --propagation private true 2>&1); then
  echo "test: the tests need a private network namespace with private mount propagation" >&2
  echo "test: (unshare --net --mount --propagation private), and this machine cannot make one:" >&2
  echo "test:   ${netns_error:-unshare failed}" >&2
  if ! command -v unshare >/dev/null 2>&1; then
    echo "test: unshare is missing: install util-linux (apt-get install util-linux)." >&2
  elif [ "$(id -u)" != 0 ]; then
    echo "test: run it as root (sudo tools/test.sh): only root may make these namespaces here." >&2
  elif [ ! -r /proc/self/mountinfo ]; then
    echo "test: /proc is not mounted: mount it (mount -t proc proc /proc) and run this again." >&2
  elif ! mountpoint -q /; then
    echo "test: / is not a mount point (a chroot into a plain directory): bind-mount the" >&2
    echo "test: directory onto itself before entering it (mount --bind DIR DIR), with proc," >&2
    echo "test: sys and dev mounted inside, or use a container or machine of its own." >&2
  else
    echo "test: root here may not make namespaces (an unprivileged container?): give it" >&2
    echo "test: CAP_SYS_ADMIN (docker run --privileged, say), or use a machine of its own." >&2
  fi
  exit 2
fi

tools/setup.sh test || exit 1

passed=0
failed=0
failures=""

# count_suite NAME LOG: adds the counts of a suite's finished run to the
# totals.
count_suite() {
  local name=$1 log=$2 line p f
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    failures="$failures $name(no-result)"
    return
  fi
  f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  p=$(( $(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/') - f ))
  passed=$((passed + p))
  failed=$((failed + f))
  [ "$f" = 0 ] || failures="$failures $name"
}

# Runs one CTest suite and adds its counts to the totals.
run_suite() {
  local name=$1 dir=$2
  shift 2
  echo "=== $name"
  local log
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$log"
  count_suite "$name" "$log"
  rm -f "$log"
}

# Configures quietly (the output shown if it fails) and builds, showing
# Ninja's progress and any compiler error.
build() {
  local preset=$1 log
  echo "=== build $preset"
  log=$(mktemp)
  if ! cmake --preset "$preset" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    echo "test: configuring $preset failed"
    return 1
  fi
  rm -f "$log"
  cmake --build --preset "$preset" || { echo "test: building $preset failed: the error is above"; return 1; }
}

if build native; then
  # Side by side: most of these tests wait out time-outs, and one sends 2 GiB.
  run_suite native build/native -j "$(( $(nproc) > 2 ? $(nproc) : 2 ))"
else
  failed=$((failed + 1)); failures="$failures build-native"
fi

# The fuzzer's fixed minute runs beside the Windows build: it has no time
# bound that a busy core could break. The Windows suite, which has, waits for
# it.
fuzz_pid=
if build fuzz; then
  echo "=== fuzz (beside the Windows build)"
  fuzz_log=$(mktemp)
  ctest --test-dir build/fuzz --output-on-failure >"$fuzz_log" 2>&1 &
  fuzz_pid=$!
else
  failed=$((failed + 1)); failures="$failures build-fuzz"
fi
end_fuzz() {
  [ -n "$fuzz_pid" ] || return
  wait "$fuzz_pid"
  fuzz_pid=
  echo "=== fuzz"
  cat "$fuzz_log"
  count_suite fuzz "$fuzz_log"
  rm -f "$fuzz_log"
}

if build windows; then
  end_fuzz
  # The window's tests need a display: always a private one of their own, on
  # the first free display number, so that they never meet the user's.
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$display_file")"
  rm -f "$display_file"
  run_suite windows build/windows
  kill "$xvfb_pid" 2>/dev/null
else
  failed=$((failed + 1)); failures="$failures build-windows"
fi
end_fuzz

echo
elapsed=$(( $(date +%s) - started ))
echo "test: set up, built and tested in $((elapsed / 60)) min $((elapsed % 60)) s; build/ holds $(du -sh build | cut -f1)"
[ -n "$failures" ] && echo "Failing:$failures"
echo "Harborlight: $passed passed, $failed failed"
[ "$failed" = 0 ]
