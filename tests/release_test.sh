#!/bin/bash
# The release, made as its users make it: tools/release.sh in two fresh
# clones of the commit, in folders of different lengths and at different
# times, must give the same zip and sums, the sums must check, and the zip's
# programs must be the ones given (the builds the other tests ran), unless
# the work tree holds changes that no commit has. A start that cannot make
# a release must fail, say why, and leave dist/ as it was.
# Usage: release_test.sh SOURCE_DIR Harborlight.exe harborlight-serve.exe
set -u
source_dir=$1 tested_app=$2 tested_serve=$3

work=$(mktemp -d /tmp/harborlight-release-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

commit=$(git -C "$source_dir" rev-parse HEAD) || exit 1
release() { # release FOLDER: a fresh clone of the commit, released
  # With the encoder's source that set-up fetched, which the release checks.
  git clone -q "$source_dir" "$1" && git -C "$1" checkout -q --detach "$commit" && mkdir -p "$1/build/third_party" &&
    cp "$source_dir"/build/third_party/*.orig.tar.gz "$1/build/third_party" &&
    (cd "$1" && tools/release.sh >"$1.out" 2>&1) || { cat "$1.out"; return 1; }
}

release "$work/a" || { fail "release in a fresh clone"; exit 1; }
release "$work/second-folder-b" || { fail "release in a second clone"; exit 1; }
a=$work/a/dist b=$work/second-folder-b/dist
zip=$(cd "$a" && ls Harborlight-*-win64.zip)

cmp "$a/$zip" "$b/$zip" && cmp "$a/SHA256SUMS" "$b/SHA256SUMS" &&
  pass "two clones give the same $zip and SHA256SUMS" || fail "the two releases differ"

mkdir "$work/unpacked" && cp "$a/SHA256SUMS" "$work/unpacked" &&
  python3 -m zipfile -e "$a/$zip" "$work/unpacked" && cp "$a/$zip" "$work/unpacked"
(cd "$work/unpacked" && sha256sum --quiet -c SHA256SUMS) && [ "$(wc -l <"$a/SHA256SUMS")" = 6 ] &&
  pass "SHA256SUMS checks the zip and the five files in it" || fail "SHA256SUMS"
[ "$(python3 -m zipfile -l "$a/$zip" | awk 'NR > 1 { print $1 }' | tr '\n' ' ')" = \
  "Harborlight.exe harborlight-serve.exe readme.txt license.txt qrcodegen-license.txt " ] &&
  grep -q "Permission is hereby granted" "$work/unpacked/qrcodegen-license.txt" &&
  grep -q $'^Copyright (c) [0-9]* The Harborlight developers\r$' "$work/unpacked/license.txt" &&
  pass "the zip holds the two programs, the guide and both licences" || fail "the zip's entries"
guide=$work/unpacked/readme.txt
[ "$(head -c 3 "$guide" | od -An -tx1 | tr -d ' ')" = efbbbf ] && [ "$(grep -c $'[^\r]$' "$guide")" = 0 ] &&
  pass "the guide is UTF-8 with a BOM and CR LF line ends" || fail "the guide's encoding"

# Each program names itself to Windows: a manifest where the loader looks for
# it (type 24, id 1) asking for code page 932, and a version resource with a
# description and the program's own file name.
version_value() { # version_value EXE KEY: a text of the version resource
  python3 -c 'import re, sys
found = re.search(re.escape((sys.argv[2] + "\0").encode("utf-16-le")) + rb"(?:\0\0)?((?:[^\0]\0)+)\0\0",
                  open(sys.argv[1], "rb").read())
print(found.group(1).decode("utf-16-le") if found else "")' "$1" "$2"
}
for program in Harborlight.exe harborlight-serve.exe; do
  exe=$work/unpacked/$program
  description=$(version_value "$exe" FileDescription)
  x86_64-w64-mingw32-objdump -p "$exe" | grep -A2 'Entry: ID: 0x000018,' | grep -q 'Entry: ID: 0x000001,' &&
    grep -aq '>ja-JP</activeCodePage>' "$exe" && [ -n "$description" ] &&
    [ "$(version_value "$exe" OriginalFilename)" = "$program" ] &&
    pass "$program has its manifest and says what it is: \"$description\"" || fail "$program's manifest or version resource"
done

# Neither program takes in libstdc++'s streams or locales (their classes'
# type names stay in a stripped program too), and each is at least 600 KiB
# smaller than it was with them: 1,060,864 and 994,304 bytes.
for bound in Harborlight.exe=446464 harborlight-serve.exe=379904; do
  program=${bound%=*} exe=$work/unpacked/${bound%=*} bound=${bound#*=}
  size=$(stat -c %s "$exe")
  streams=$(LC_ALL=C grep -aoE 'St6locale|St8ios_base|St15basic_streambuf|St5ctypeI|basic_[a-z]*stringstream' "$exe" |
            sort -u | tr '\n' ' ')
  [ -z "$streams" ] && [ "$size" -le "$bound" ] &&
    pass "$program: $size bytes (at most $bound), no C++ streams or locales" ||
    fail "$program: $size bytes (at most $bound); C++ stream and locale classes in it: ${streams:-none}"
done

if [ -z "$(git -C "$source_dir" status --porcelain)" ]; then
  cmp "$tested_app" "$work/unpacked/Harborlight.exe" && cmp "$tested_serve" "$work/unpacked/harborlight-serve.exe" &&
    pass "the zip's programs are the tested ones" || fail "the zip's programs differ from the tested ones"
else
  echo "note: the work tree has changes, so the tested programs are not the commit's: not compared"
fi

# Bad starts, in the first clone: a file no commit has, then a commit that
# does not build. Each must fail with its reason and leave dist/ as it was.
listing() { ls -lA --time-style=full-iso "$a"; }
before=$(listing)
bad_start() { # bad_start WHAT EXPECTED-TEXT
  if (cd "$work/a" && tools/release.sh >"$work/bad.out" 2>&1); then
    fail "$1: the release went on"
  elif ! grep -q "$2" "$work/bad.out"; then
    fail "$1: no clear reason"; cat "$work/bad.out"
  elif [ "$(listing)" != "$before" ] || ! cmp -s "$a/$zip" "$b/$zip"; then
    fail "$1: dist/ changed"
  else
    pass "$1: refused, dist/ untouched"
  fi
}
touch "$work/a/stray.txt"
bad_start "a file outside the commit" "a release is made from a commit"
rm "$work/a/stray.txt"
echo 'this does not compile' >>"$work/a/server/request.cpp"
git -C "$work/a" -c user.name=t -c user.email=t@t commit -qam broken
bad_start "a commit that does not build" "the Windows build failed"

echo "release: $failures failure(s)"
[ "$failures" = 0 ]
