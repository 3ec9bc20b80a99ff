#!/bin/sh
# Installs what Harborlight needs to build, run and test on Debian 12, and
# nothing that is already there. Needs root for the installs.
# Usage: tools/setup.sh [run|test]
set -eu
purpose=${1:-test}

# fonts-ipafont-gothic and fonts-wine: the fonts tools/wine-prefix.sh gives
# each Wine prefix, so that it draws the windows as Windows does.
packages="cmake ninja-build g++ pkg-config iproute2 util-linux curl python3 locales git
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth
  fonts-ipafont-gothic fonts-wine"
if [ "$purpose" = test ]; then
  packages="$packages googletest clang libclang-rt-14-dev xdotool x11-apps
    imagemagick chromium fuse3 libfuse3-dev"
fi

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: these Debian packages are missing:$missing" >&2
    echo "setup: install them as root (apt-get install$missing) and run this again" >&2
    exit 1
  fi
  # With their recommended packages: Wine draws text through XRender and the
  # fonts it recommends, and the window's tests compare what it draws.
  echo "setup: installing$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi

# Wine shows the program's Shift_JIS texts only under a Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  if [ "$(id -u)" = 0 ]; then
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  else
    echo "setup: the ja_JP.UTF-8 locale is missing (as root: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)" >&2
  fi
fi
