#!/bin/sh
# Installs what Harborlight needs on Debian 12, and nothing that is already
# there. Needs root for the installs. The purpose says how much:
# - headless: the native tool chain alone, for harborlight-serve;
# - run: also mingw-w64, Wine, Xvfb and the fonts, for Harborlight.exe;
# - test (the default): also what the tests use (GoogleTest, clang,
#   xdotool, ImageMagick, Chromium ...).
# While apt works it says how far it has got, a line at every tenth of each
# step; on a failure the end of apt's own output follows.
# Usage: tools/setup.sh [headless|run|test]
set -eu
purpose=${1:-test}

# libqrcodegen-dev: the QR code encoder (C), which both programs draw the URL
# with.
packages="cmake ninja-build g++ pkg-config libqrcodegen-dev"
# Recommended packages too, but not for the headless server: g++'s would
# bring fonts and image libraries (libc-devtools, libgd3) that it never uses.
recommends=""
case $purpose in
  headless) recommends=--no-install-recommends ;;
  run|test)
    # fonts-ipafont-gothic and fonts-wine: the fonts tools/wine-prefix.sh
    # gives each Wine prefix, so that it draws the windows as Windows does.
    packages="$packages iproute2 util-linux curl python3 locales git
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth
      fonts-ipafont-gothic fonts-wine"
    if [ "$purpose" = test ]; then
      packages="$packages googletest clang libclang-rt-14-dev xdotool x11-apps
        imagemagick chromium fuse3 libfuse3-dev zbar-tools xclip"
    fi
    ;;
  *)
    echo "usage: tools/setup.sh [headless|run|test]" >&2
    exit 2
    ;;
esac

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

# apt_install [OPTION] PACKAGE...: apt-get install, its output cut down to a
# few lines of progress. debconf's notes (such as "delaying package
# configuration, since apt-utils is not installed") are left out; errors are
# not.
apt_install() {
  log=$(mktemp)
  status=$(mktemp)
  started=$(date +%s)
  # Use-Pty=0: dpkg writes plain lines, and needs no /dev/pts (a chroot).
  { DEBIAN_FRONTEND=noninteractive apt-get install -y -o Dpkg::Use-Pty=0 "$@" 2>&1
    echo $? >"$status"; } | tee "$log" | awk '
    function report(what, n) {
      if (total > 0 && (n == total || n >= next_mark[what])) {
        printf "setup: %s %d of %d packages\n", what, n, total
        fflush()
        while (next_mark[what] <= n) next_mark[what] += step
      }
    }
    /newly installed/ {
      total = $1 + $3
      step = int((total + 9) / 10); if (step < 1) step = 1
      next_mark["downloaded"] = next_mark["unpacked"] = next_mark["set up"] = step
      next
    }
    /^Need to get / || /^After this operation/ { print "setup: " $0; fflush(); next }
    /^Get:[0-9]+ / { got++; report("downloaded", got); next }
    /^Unpacking / { unpacked++; report("unpacked", unpacked); next }
    /^Setting up / { set_up++; report("set up", set_up); next }
    /^E: / || /^dpkg: error/ || /^Errors were encountered/ { print; fflush() }
  '
  code=$(cat "$status")
  rm -f "$status"
  if [ "$code" != 0 ]; then
    echo "setup: apt-get install failed ($code); the end of its output:" >&2
    grep -v '^debconf: ' "$log" | tail -n 25 >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
  echo "setup: installed in $(( $(date +%s) - started )) s"
}

if [ -n "$missing" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: these Debian packages are missing:$missing" >&2
    echo "setup: install them as root (apt-get install$missing) and run this again" >&2
    exit 1
  fi
  # With their recommended packages for the window: Wine draws text through
  # XRender and the fonts it recommends, and the window's tests compare what
  # it draws.
  echo "setup: installing$missing"
  echo "setup: reading the package lists (apt-get update) ..."
  apt-get update -qq
  # shellcheck disable=SC2086
  apt_install $recommends $missing
fi

# Wine shows the program's Shift_JIS texts only under a Japanese locale.
if [ "$purpose" != headless ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  if [ "$(id -u)" = 0 ]; then
    echo "setup: making the locale ja_JP.UTF-8 ..."
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  else
    echo "setup: the ja_JP.UTF-8 locale is missing (as root: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)" >&2
  fi
fi

# The Windows build compiles the encoder from the source of the release that
# Debian packages.
if [ "$purpose" != headless ]; then
  "$(dirname "$0")/fetch-qrcodegen.sh"
fi
