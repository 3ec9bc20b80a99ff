#!/bin/sh
# Fetches the C source of the QR code encoder that the Windows build
# compiles: Nayuki's QR Code generator, the release Debian packages
# (qr-code-generator 1.8.0-1.1, whose libqrcodegen-dev the native build
# links), from Debian's source archive. The archive is the one the system's
# own apt sources name; the deb-src list, apt's lists and the download live
# in DEST alone, so the system's apt configuration stays as it is. The file
# is checked against its known SHA-256 and unpacked in DEST. Does nothing
# when DEST already holds it unpacked (a folder unpacked before the C source
# was used holds only the C++ one, and is unpacked again).
# Usage: tools/fetch-qrcodegen.sh [DEST]   (default: build/third_party)
set -eu
cd "$(dirname "$0")/.."
dest=${1:-build/third_party}
package=qr-code-generator
version=1.8.0-1.1
tarball=qr-code-generator_1.8.0.orig.tar.gz
sha256=2ec0a4d33d6f521c942eeaf473d42d5fe139abcfa57d2beffe10c5cf7d34ae60
unpacked=QR-Code-generator-1.8.0

fail() {
  echo "fetch-qrcodegen: $*" >&2
  exit 1
}

mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
if [ -f "$dest/$unpacked/c/qrcodegen.c" ] && [ -f "$dest/$unpacked/c/qrcodegen.h" ] &&
   [ -f "$dest/$unpacked/Readme.markdown" ] && [ -f "$dest/$tarball" ]; then
  exit 0
fi

if [ ! -f "$dest/$tarball" ] || ! echo "$sha256  $dest/$tarball" | sha256sum -c --status; then
  # The Debian archive that serves this system's packages, for its release.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || fail "no release codename in /etc/os-release: is this Debian?"
  # Debian's by the label of its Release file; before the first apt-get
  # update there is none, and the first source for the release is taken.
  archive=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(LABEL)' \
              'Created-By: Packages' 'Component: main' 2>/dev/null |
            awk -v want="$codename" '$2 == want && $3 == "Debian" { print $1; exit }')
  [ -n "$archive" ] ||
    archive=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' \
                'Created-By: Packages' 'Component: main' 2>/dev/null |
              awk -v want="$codename" '$2 == want { print $1; exit }')
  [ -n "$archive" ] ||
    fail "the system's apt sources name no Debian archive for $codename (main): run apt-get update, or add one"
  apt_dir=$dest/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  echo "deb-src $archive $codename main" >"$apt_dir/sources.list"
  set -- -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
         -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" \
         -o Debug::NoLocking=1 -o APT::Sandbox::User=root -qq
  echo "fetch-qrcodegen: $package $version from $archive"
  apt-get "$@" update >"$apt_dir/update.log" 2>&1 ||
    { cat "$apt_dir/update.log" >&2; fail "apt-get update of $apt_dir/sources.list failed (above)"; }
  rm -f "$dest/$tarball"
  (cd "$dest" && apt-get "$@" source --download-only --tar-only "$package=$version") >"$apt_dir/source.log" 2>&1 ||
    { cat "$apt_dir/source.log" >&2; fail "apt-get source $package=$version failed (above)"; }
  rm -rf "$apt_dir"
  echo "$sha256  $dest/$tarball" | sha256sum -c --status ||
    fail "$tarball does not have the SHA-256 it should ($sha256): not used"
fi

rm -rf "${dest:?}/$unpacked"
tar -xzf "$dest/$tarball" -C "$dest" "$unpacked/c/qrcodegen.c" "$unpacked/c/qrcodegen.h" \
  "$unpacked/Readme.markdown"
echo "fetch-qrcodegen: $dest/$unpacked"
