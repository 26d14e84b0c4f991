#!/bin/bash
# Installs the current build into a scratch prefix and checks the tree: the programs (NVRAM and
# nvram-diff), runnable, every manual page compressed and identical to the one in the source tree,
# the copyright and change log, and nothing else.
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

expected="./bin/NVRAM ./share/doc/nvram/changelog.gz ./share/doc/nvram/copyright"
[ -x "$prefix/bin/NVRAM" ] || fail "bin/NVRAM missing or not executable"
[ -x "$prefix/bin/nvram-diff" ] || fail "bin/nvram-diff missing or not executable"
expected+=" ./bin/nvram-diff"
comp=share/bash-completion/completions
for f in NVRAM nvram-diff; do
  expected+=" ./$comp/$f"
  cmp -s "$prefix/$comp/$f" "$NVRAM_SOURCE_DIR/packaging/completion/$f" || fail "$comp/$f missing or not the source file"
done
for page in "$NVRAM_SOURCE_DIR"/doc/*.1; do
  gz=share/man/man1/$(basename "$page").gz
  expected+=" ./$gz"
  [ "$(gzip -dc "$prefix/$gz" 2>/dev/null | md5sum)" = "$(md5sum <"$page")" ] ||
    fail "$gz missing or not the source page"
done
files=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
[ "$files" = "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ] || fail "installed: $files; expected: $expected"

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

# The installed completions, asked as bash asks them: options, a file name, --format's values.
got=$(cd "$prefix" && bash --norc --noprofile -c '. "$1/NVRAM" && . "$1/nvram-diff" && complete -p NVRAM nvram-diff
  COMP_WORDS=(NVRAM -v -); COMP_CWORD=2; _nvram; echo "${COMPREPLY[*]}"
  COMP_WORDS=(NVRAM -s b); COMP_CWORD=2; _nvram; echo "${COMPREPLY[*]}"
  COMP_WORDS=(nvram-diff --format ""); COMP_CWORD=2; _nvram_diff; echo "${COMPREPLY[*]}"
  COMP_WORDS=(nvram-diff --q); COMP_CWORD=1; _nvram_diff; echo "${COMPREPLY[*]}"' _ "$prefix/$comp" 2>&1)
want='complete -F _nvram NVRAM
complete -F _nvram_diff nvram-diff
-? -s -u -c -p -r -g -j -v -t --help --version
bin
text json csv
--quiet'
[ "$got" = "$want" ] || fail "completion gave [$got], expected [$want]"

[ "$failed" = 0 ] && echo "install tree ok"
exit "$failed"
