#!/bin/bash
# The manual page renders without a single formatter warning and documents every option, exit
# status and working file of the program. Skipped (status 77) where neither man nor groff exists.
set -u
: "${NVRAM_SOURCE_DIR:?NVRAM_SOURCE_DIR must name the source directory}"
page="$NVRAM_SOURCE_DIR/doc/NVRAM.1"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/nvram-man.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

if command -v man >/dev/null && man --help 2>&1 | grep -q -- --warnings; then
  MANWIDTH=80 LC_ALL=C man --warnings -l "$page" >"$scratch/text" 2>"$scratch/warnings"
elif command -v groff >/dev/null; then
  LC_ALL=C groff -man -ww -Tascii "$page" >"$scratch/text" 2>"$scratch/warnings"
else
  echo "SKIP: neither man nor groff is installed"
  exit 77
fi
[ -s "$scratch/warnings" ] && fail "formatter warnings:$(echo; cat "$scratch/warnings")"
# Rendered text without overstriking, so that plain greps work.
sed 's/.\x08//g' "$scratch/text" >"$scratch/plain"

# Every option has its own entry, indented as an item of the OPTIONS section.
for opt in '-?' -v -t '-s fn1 fn2' '-c fn' '-u fn1 fn2 \[fn3 fn4\]' '-p fn' '-r fn' '-g fn' '-j fn'; do
  grep -q -- "^ \{7\}$opt\( \|\$\)" "$scratch/plain" || fail "no entry for option $opt"
done
# Every exit status the program produces, and no other.
statuses=$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' "$scratch/plain" | grep -o '^ \{7\}[0-9]\b' | tr -d ' ' | tr '\n' ' ')
[ "$statuses" = "0 1 2 3 5 6 " ] || fail "exit statuses listed: [$statuses], expected [0 1 2 3 5 6 ]"
for f in temp.txt biostemp.sh biostemp.ini Difftemp.ini merged.txt pwd.lst hdd.lst t01.db t02.db \
  Exclude.txt SCELNX_64 'file name conflict'; do
  grep -q -- "$f" "$scratch/plain" || fail "$f is not mentioned"
done

grep -q 'nvram-diff(1)' <(sed -n '/^SEE ALSO/,$p' "$scratch/plain") || fail "SEE ALSO does not name nvram-diff(1)"

# nvram-diff's page: no warnings, every option and exit status.
if command -v man >/dev/null && man --help 2>&1 | grep -q -- --warnings; then
  MANWIDTH=80 LC_ALL=C man --warnings -l "$NVRAM_SOURCE_DIR/doc/nvram-diff.1" >"$scratch/diff" 2>"$scratch/diff-warnings"
else
  LC_ALL=C groff -man -ww -Tascii "$NVRAM_SOURCE_DIR/doc/nvram-diff.1" >"$scratch/diff" 2>"$scratch/diff-warnings"
fi
[ -s "$scratch/diff-warnings" ] && fail "nvram-diff.1: formatter warnings:$(echo; cat "$scratch/diff-warnings")"
sed -i 's/.\x08//g' "$scratch/diff"
for opt in --exclude --format --color --all -q --help --version; do
  grep -q -- "^ \{7\}$opt\b" "$scratch/diff" || fail "nvram-diff.1: no entry for option $opt"
done
statuses=$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' "$scratch/diff" | grep -o '^ \{7\}[0-9]\b' | tr -d ' ' | tr '\n' ' ')
[ "$statuses" = "0 1 2 " ] || fail "nvram-diff.1: exit statuses listed: [$statuses]"

[ "$failed" = 0 ] && echo "manual page ok"
exit "$failed"
