#!/bin/bash
# Makes the Windows release of the commit checked out: a clean Release build
# of the Windows preset (static, stripped), packed as
# dist/Harborlight-<version>-win64.zip with the user's guide and the licences, and
# dist/SHA256SUMS for the zip and each file in it. The same commit gives the
# same bytes in any folder at any time: the archive's times come from the
# commit (or from SOURCE_DATE_EPOCH when it is set).
# Usage: tools/release.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fail() {
  echo "release: $*" >&2
  exit 1
}

# What is packed, as "name in the archive=file in the tree", in archive order.
build=build/release
files=(
  "Harborlight.exe=$build/ui/Harborlight.exe"
  "harborlight-serve.exe=$build/harborlight-serve.exe"
  "readme.txt=docs/guide-ja.txt"
  "license.txt=$build/license.txt"
  "qrcodegen-license.txt=$build/qrcodegen-license.txt"
)

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres; do
  command -v "$tool" >/dev/null ||
    fail "$tool is missing: the release needs mingw-w64 (run tools/setup.sh as root, or apt-get install g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)"
done
for tool in cmake ninja git python3 sha256sum; do
  command -v "$tool" >/dev/null || fail "$tool is missing (run tools/setup.sh as root)"
done

# A release is of a commit: nothing may differ from it, untracked files
# included, or the archive would hold what no commit holds.
git rev-parse --verify -q HEAD >/dev/null || fail "$root is not a git clone with a commit"
changes=$(git status --porcelain)
if [ -n "$changes" ]; then
  echo "release: the work tree differs from commit $(git rev-parse --short HEAD):" >&2
  echo "$changes" | sed 's/^/  /' >&2
  fail "commit or stash these changes first: a release is made from a commit"
fi

version_part() {
  sed -n "s/^#define HARBORLIGHT_VERSION_$1 \([0-9][0-9]*\)$/\1/p" resources/version.h
}
version="$(version_part MAJOR).$(version_part MINOR).$(version_part PATCH)"
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no version in resources/version.h"
commit=$(git rev-parse --short HEAD)
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}"
zip_name="Harborlight-$version-win64.zip"

# Nothing is written into dist/ until everything is ready: the archive and
# its sums are made in a temporary folder beside it and moved in at the end.
mkdir -p dist
stage=$(mktemp -d "dist/.release-XXXXXX")
trap 'rm -rf "$stage"' EXIT
trap 'exit 1' INT TERM

echo "release: Harborlight $version, commit $commit, clean build in $build"
tools/fetch-qrcodegen.sh || fail "the QR code encoder's source is missing (above); nothing was written to dist/"
rm -rf "$build"
if ! cmake --preset windows -B "$build" -DBUILD_TESTING=OFF >"$stage/configure.log" 2>&1; then
  cat "$stage/configure.log" >&2
  fail "configuring the Windows build failed (above); nothing was written to dist/"
fi
cmake --build "$build" || fail "the Windows build failed (above); nothing was written to dist/"

# Harborlight's own licence and that of the QR code encoder compiled in, both
# MIT, whose text goes with every copy: with Windows' line ends, for Notepad.
sed 's/$/\r/' LICENSE >"$build/license.txt"
qrcodegen_readme=build/third_party/QR-Code-generator-1.8.0/Readme.markdown
{
  printf 'Harborlight draws the URL as a QR code with the QR Code generator library\n'
  printf '1.8.0 by Project Nayuki, compiled into Harborlight.exe and\n'
  printf 'harborlight-serve.exe under this licence:\n\n'
  sed -n '/^License$/,$p' "$qrcodegen_readme"
} | sed 's/$/\r/' >"$build/qrcodegen-license.txt"
grep -q "Permission is hereby granted" "$build/qrcodegen-license.txt" ||
  fail "no licence text in $qrcodegen_readme; nothing was written to dist/"

for entry in "${files[@]}"; do
  [ -f "${entry#*=}" ] || fail "${entry#*=} is missing after the build; nothing was written to dist/"
done

# The archive: entries in the order above, each dated with the commit's time
# (in UTC, as zip keeps no zone), read and write for everyone who unpacks
# it on a system with permissions (the programs executable too), marked as
# made on Unix so that those permissions are read.
python3 - "$stage/$zip_name" "${files[@]}" <<'EOF'
import os, sys, time, zipfile

archive, entries = sys.argv[1], sys.argv[2:]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))
with zipfile.ZipFile(archive, "w") as out:
    for entry in entries:
        name, path = entry.split("=", 1)
        info = zipfile.ZipInfo(name, date_time=stamp[:6])
        info.create_system = 3
        mode = 0o755 if name.endswith(".exe") else 0o644
        info.external_attr = (0o100000 | mode) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as f:
            out.writestr(info, f.read(), compresslevel=9)
EOF

# The sums: the archive's, then those of the files in it, under their names
# in the archive, so that `sha256sum -c` checks them once it is unpacked.
(
  cd "$stage"
  sha256sum "$zip_name"
  for entry in "${files[@]}"; do
    echo "$(sha256sum <"$root/${entry#*=}" | cut -d' ' -f1)  ${entry%%=*}"
  done
) >"$stage/SHA256SUMS"

mv -f "$stage/$zip_name" "dist/$zip_name"
mv -f "$stage/SHA256SUMS" dist/SHA256SUMS
echo "release: dist/$zip_name"
cat dist/SHA256SUMS
