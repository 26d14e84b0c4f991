#!/bin/bash
# Builds the Debian package with cpack from the build under test and checks it: a release build of
# the program (whatever the build under test is), every manual page compressed, the copyright and
# change log, and no lintian error. Skipped (status 77) without cpack's Debian tools; the lintian
# check alone is skipped, with a note, where lintian is not installed.
set -u
: "${NVRAM_BUILD_DIR:?NVRAM_BUILD_DIR must name the build directory}"
: "${NVRAM_SOURCE_DIR:?NVRAM_SOURCE_DIR must name the source directory}"
CMAKE=${CMAKE_COMMAND:-cmake}
CPACK=$(dirname "$CMAKE")/cpack
command -v dpkg-deb >/dev/null && [ -x "$CPACK" ] || { echo "SKIP: cpack or dpkg-deb is missing"; exit 77; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/nvram-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

"$CPACK" --config "$NVRAM_BUILD_DIR/CPackConfig.cmake" -B "$scratch/out" >"$scratch/log" 2>&1 ||
  { cat "$scratch/log" >&2; echo "FAIL: cpack" >&2; exit 1; }
deb=$(ls "$scratch"/out/nvram_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "FAIL: no package made" >&2; exit 1; }
dpkg-deb -x "$deb" "$scratch/root"

# The program is the stripped program of a release tree: this one, or the one it made for the package.
tree=$NVRAM_BUILD_DIR
grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$tree/CMakeCache.txt" || tree=$NVRAM_BUILD_DIR/package-release
grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$tree/CMakeCache.txt" || fail "no release tree made the package"
cp "$tree/NVRAM" "$scratch/NVRAM.stripped" && strip "$scratch/NVRAM.stripped"
cmp -s "$scratch/NVRAM.stripped" "$scratch/root/usr/bin/NVRAM" || fail "usr/bin/NVRAM is not the release tree's program"
grep -q '^Usage: NVRAM ' <<<"$("$scratch/root/usr/bin/NVRAM" </dev/null)" || fail "the packaged NVRAM prints no usage"
grep -q '^nvram-diff ' <<<"$("$scratch/root/usr/bin/nvram-diff" --version)" || fail "the package has no working nvram-diff"

for page in "$NVRAM_SOURCE_DIR"/doc/*.1; do
  gz=$scratch/root/usr/share/man/man1/$(basename "$page").gz
  [ "$(gzip -dc "$gz" 2>/dev/null | md5sum)" = "$(md5sum <"$page")" ] || fail "$gz is not $page compressed"
done
for f in NVRAM nvram-diff; do
  cmp -s "$scratch/root/usr/share/bash-completion/completions/$f" "$NVRAM_SOURCE_DIR/packaging/completion/$f" ||
    fail "no bash completion for $f"
done
[ -s "$scratch/root/usr/share/doc/nvram/copyright" ] || fail "no copyright file"
gzip -t "$scratch/root/usr/share/doc/nvram/changelog.gz" 2>/dev/null || fail "no changelog.gz"

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" 2>&1 | grep -v '^running with root' >"$scratch/lintian"
  status=${PIPESTATUS[0]}
  cat "$scratch/lintian"
  [ "$status" = 0 ] || fail "lintian reports errors"
else
  echo "SKIP (lintian check only): lintian is not installed"
fi

[ "$failed" = 0 ] && echo "package ok: $(basename "$deb")"
exit "$failed"
