#!/bin/sh
# Runs a Windows program under Wine as Harborlight's tests need it: its own
# prefix, a locale (Japanese unless HARBORLIGHT_WINE_LOCALE names another, such
# as C.UTF-8), a display scale (96 DPI, 100 %, unless HARBORLIGHT_WINE_DPI
# names another, such as 144 for 150 %), and a private network namespace.
# Each locale and scale has a prefix of its own (build/wineprefix,
# build/wineprefix-C, build/wineprefix-144dpi), since Wine fixes a prefix's
# language when it creates it. The wineserver makes the sockets, so it must
# live in the same namespace: one started elsewhere for this prefix is ended
# first.
# Usage: [HARBORLIGHT_WINE_LOCALE=C.UTF-8] [HARBORLIGHT_WINE_DPI=144]
#        tools/wine-run.sh PROGRAM.exe [ARG...]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
locale="${HARBORLIGHT_WINE_LOCALE:-ja_JP.UTF-8}"
suffix=
[ "$locale" = ja_JP.UTF-8 ] || suffix="-${locale%%.*}"
[ "${HARBORLIGHT_WINE_DPI:-96}" = 96 ] || suffix="$suffix-${HARBORLIGHT_WINE_DPI}dpi"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix$suffix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG="$locale"
export LC_ALL="$locale"

if [ "${HARBORLIGHT_NETNS:-}" != 1 ]; then
  exec "$root/tools/netns-run.sh" "$0" "$@"
fi

wineserver -k >/dev/null 2>&1
"$root/tools/wine-prefix.sh"

# The tests' X display has no window manager, so none ever tells Wine that a
# managed window has been withdrawn, and every window hidden or destroyed
# would wait 2 s for it (winex11's wait_for_withdrawn_state). The programs
# run here get unmanaged windows, which Wine maps and unmaps at once; what
# they draw and how they behave is the same. Only these programs: the
# end-to-end scripts drive Harborlight.exe in the same prefix as it is.
program=$(basename "$1")
if ! grep -A3 -F "[Software\\\\Wine\\\\AppDefaults\\\\$program\\\\X11 Driver]" "$WINEPREFIX/user.reg" 2>/dev/null |
    grep -q '^"Managed"="N"'; then
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
fi
wine "$@"
status=$?
wineserver -k >/dev/null 2>&1
exit $status
