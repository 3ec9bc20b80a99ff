#!/bin/sh
# Makes the Wine prefix WINEPREFIX ready to show Harborlight's windows as
# Windows shows them: created when missing (in the locale of LANG, which Wine
# fixes at creation), and given two fonts from Debian's packages that Wine
# lacks (each added once; the next Wine process sees them):
# - "MS UI Gothic", the control panel's and the About box's font (and the
#   dialog font of a Japanese system), is proportional on Windows. Wine's
#   stand-in is monospaced and wider, which cuts texts off; IPA P Gothic
#   (fonts-ipafont-gothic) is proportional and fits them as Windows does.
# - Marlett draws the title bars' buttons; without it they read "0 1 r".
#   fonts-wine ships it in a folder this Wine does not read, so it is copied
#   into the prefix's own font folder.
# A new prefix made beside another (build/wineprefix and build/wineprefix-C,
# one per locale, or the run's build/wineprefix-run) shares the other's
# Windows programs and libraries, some 700 MB that are the same bytes in every
# prefix of this Wine: they are hard-linked, not copied. Only files that Wine
# writes once, when it makes or updates a prefix (.dll, .exe ...), are shared;
# the registry and the .ini files stay each prefix's own.
# With HARBORLIGHT_WINE_DPI set (144, say), the prefix's screen has that DPI,
# as a screen at 150 % has on Windows.
# Runs inside the caller's network namespace, as it may start the wineserver.
# Usage: WINEPREFIX=DIR LANG=LOCALE [HARBORLIGHT_WINE_DPI=N] tools/wine-prefix.sh
set -u
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  if command -v hardlink >/dev/null 2>&1; then
    # All the prefixes at once: hardlink may keep the new prefix's copy and
    # link the other prefix's name to it, which, done pair by pair, would
    # part that prefix from the ones it already shared with.
    set -- "$WINEPREFIX/drive_c/windows"
    for other in "$(dirname "$WINEPREFIX")"/wineprefix*; do
      [ "$other" != "$WINEPREFIX" ] && [ -f "$other/system.reg" ] && set -- "$@" "$other/drive_c/windows"
    done
    [ $# -gt 1 ] && hardlink -q --content --respect-name \
      --include '\.(dll|exe|drv|sys|ocx|cpl|acm|ax|tlb|ttf|ttc|fon|nls)$' \
      "$@" >/dev/null 2>&1
  fi
fi

fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$fonts/marlett.ttf" ]; then
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/" ||
    echo "wine-prefix: no Marlett (is fonts-wine installed?): title bar buttons show as letters" >&2
fi

# replace FONT BY: Wine draws FONT, which it lacks, with BY. The wineserver
# writes the registry to user.reg when it ends: until then a second run adds
# the same value again, which does no harm.
replace() {
  grep -q "^\"$1\"=\"$2\"" "$WINEPREFIX/user.reg" 2>/dev/null ||
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$1" /d "$2" /f >/dev/null 2>&1 ||
    echo "wine-prefix: no font replacement for $1: texts may be cut" >&2
}
replace "MS UI Gothic" IPAPGothic
# The system font, the main window's default font, is a raster font that
# this Wine does not read either. Its stand-in would otherwise follow the
# replacement above and become proportional, where a Japanese system's
# system font is monospaced, as IPA Gothic is.
replace System IPAGothic

# Wine 8 takes its screen's DPI from HKCU\Control Panel\Desktop\LogPixels
# (before the machine's value under Hardware Profiles\Current\Software\Fonts).
dpi=${HARBORLIGHT_WINE_DPI:-}
if [ -n "$dpi" ] && ! grep -q "^\"LogPixels\"=dword:$(printf %08x "$dpi")" "$WINEPREFIX/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 ||
    echo "wine-prefix: could not set the screen to $dpi DPI" >&2
fi
exit 0
