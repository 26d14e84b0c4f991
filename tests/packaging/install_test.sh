#!/bin/bash
# Installs the current build into a scratch prefix and checks the tree: the programs (NVRAM and
# nvram-diff), runnable, and their manual pages, identical to those in the source tree.
set -u
: "${NVRAM_BUILD_DIR:?NVRAM_BUILD_DIR must name the build directory}"
: "${NVRAM_SOURCE_DIR:?NVRAM_SOURCE_DIR must name the source directory}"
CMAKE=${CMAKE_COMMAND:-cmake}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/nvram-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

"$CMAKE" --install "$NVRAM_BUILD_DIR" --prefix "$prefix" >"$prefix.log" 2>&1 ||
  { cat "$prefix.log" >&2; rm -f "$prefix.log"; echo "FAIL: cmake --install" >&2; exit 1; }
rm -f "$prefix.log"

[ -x "$prefix/bin/NVRAM" ] || fail "bin/NVRAM missing or not executable"
cmp -s "$NVRAM_SOURCE_DIR/doc/NVRAM.1" "$prefix/share/man/man1/NVRAM.1" ||
  fail "share/man/man1/NVRAM.1 missing or not the source page"
[ -x "$prefix/bin/nvram-diff" ] || fail "bin/nvram-diff missing or not executable"
cmp -s "$NVRAM_SOURCE_DIR/doc/nvram-diff.1" "$prefix/share/man/man1/nvram-diff.1" ||
  fail "share/man/man1/nvram-diff.1 missing or not the source page"
extra=$(cd "$prefix" && find . -type f ! -path ./bin/NVRAM ! -path ./share/man/man1/NVRAM.1 \
  ! -path ./bin/nvram-diff ! -path ./share/man/man1/nvram-diff.1)
[ -z "$extra" ] || fail "unexpected files installed: $extra"

# Without arguments the installed program prints its usage and succeeds on any machine.
if [ -x "$prefix/bin/NVRAM" ]; then
  out=$(cd "$prefix" && ./bin/NVRAM </dev/null)
  status=$?
  [ "$status" = 0 ] || fail "installed NVRAM exited with $status"
  grep -q '^Usage: NVRAM ' <<<"$out" || fail "installed NVRAM printed no usage"
fi

if [ -x "$prefix/bin/nvram-diff" ]; then
  "$prefix/bin/nvram-diff" --version | grep -q '^nvram-diff ' || fail "installed nvram-diff has no --version"
fi

[ "$failed" = 0 ] && echo "install tree ok"
exit "$failed"
