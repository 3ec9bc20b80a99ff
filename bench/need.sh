# Sourced by the benchmark's scripts: installs from Debian what a script
# needs and the machine lacks, unless the script was given --no-install.
# Each need is a command and the packages that bring it:
#   bench_need "$@" -- 'busybox busybox' 'cc gcc libc6-dev'
# Packaged services must not start on their own (RUNLEVEL=1): nginx and
# lighttpd would take port 80.
bench_need() {
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    [ "$1" = --no-install ] && return 0
    shift
  done
  [ $# -gt 0 ] && shift
  missing=""
  for need do
    set -- $need
    command -v "$1" >/dev/null || { shift; missing="$missing $*"; }
  done
  [ -n "$missing" ] || return 0
  echo "installing:$missing"
  DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 apt-get -o DPkg::Lock::Timeout=300 install -y \
    --no-install-recommends $missing >/dev/null
}
