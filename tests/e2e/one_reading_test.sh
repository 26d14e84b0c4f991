#!/bin/bash
# -c, -u and nvram-diff agree on where each question of a script begins and ends: long lines,
# blank lines, Setup lines inside a question, option lists after a blank line; and each script is
# read once, so a FIFO with one writer serves.
source "$(dirname "$0")/lib.sh"
: "${NVRAM_DIFF_BIN:?NVRAM_DIFF_BIN must name nvram-diff}"

HEAD='\r\nMiscompare Notification\r\n'
report() { printf 'ERROR:Saved value for %s is %s\\r\\n       BIOS value for %s is %s\\r\\n' "$1" "$2" "$1" "$3"; }
run_diff() {
  (cd "$WORK" && timeout 20 "$NVRAM_DIFF_BIN" "$@" >"$OUT_FILE" 2>"$FAKE/stderr" </dev/null)
  STATUS=$?
}
# expect_rows 'status,key,old value,new value,carried'...: the rows of the last `--format csv` run.
expect_rows() {
  local got want
  got=$(tail -n +2 "$OUT_FILE" | awk -F, '{ print $1 "," $2 "," $7 "," $9 "," $11 }')
  want=$(printf '%s\n' "$@")
  [ "$got" = "$want" ] || fail "rows [$got], expected [$want]"
}

# A question whose help line is 299 bytes, then TAIL and CR LF.
long_head() { printf 'Setup Question\t= Boot Delay\r\nHelp String\t= %0285d%s\r\nToken\t=13\r\nOffset\t=13\r\n' 0 "$1"; }
for tail in '' '   '; do
  begin_case "a help line that goes on past 299 bytes with${tail:+ blanks and} its line end alone"
  : >"$WORK/Exclude.txt"
  { long_head "$tail"; printf 'Value\t=<20>\r\n'; } >"$WORK/saved.txt"
  { long_head "$tail"; printf 'Value\t=<10>\r\n'; } | tee "$WORK/new.txt" >"$FAKE/export"
  run_nvram -c saved.txt
  expect_status 6
  expect_stdout "$HEAD$(report BootDelay 20 10)"
  run_nvram -u saved.txt new.txt
  expect_status 0
  expect_stdout ''
  { long_head "$tail"; printf 'Value\t=<20>\n'; } >"$FAKE/merged"
  expect_same_file merged.txt "$FAKE/merged"
  run_diff --format csv saved.txt new.txt
  expect_status 1
  expect_rows 'changed,BootDelay,20,10,yes'
done

# carried OLD NEW MERGED ROWS...: -u of the two scripts (printf formats) writes MERGED quietly, and
# nvram-diff --all gives ROWS.
carried() {
  : >"$WORK/Exclude.txt"
  printf "$1" >"$WORK/old.txt"
  printf "$2" >"$WORK/new.txt"
  run_nvram -u old.txt new.txt
  expect_status 0
  expect_stdout ''
  expect_file merged.txt "$3"
  run_diff --format csv --all old.txt new.txt
  expect_status 1
  expect_rows "${@:4}"
}

begin_case "a line of blanks after a value ends the question for the merge too"
carried 'Setup Question\t= A\r\nValue\t=1\r\n\r\nSetup Question\t= B\r\nValue\t=7\r\n' \
  'Setup Question\t= A\r\nValue\t=0\r\n    \r\nSetup Question\t= B\r\nValue\t=7\r\n' \
  'Setup Question\t= A\r\nValue\t=1\n    \r\nSetup Question\t= B\r\nValue\t=7\r\n' \
  'changed,A,1,0,yes' 'same,B,7,7,'

begin_case "a Setup line inside a question before its value opens no question for the merge"
carried 'Setup Question\t= A\r\nValue\t=5\r\n\r\nSetup Question\t= K\r\nValue\t=7\r\n' \
  'Setup Question\t= A\r\nHelp String\t= a\r\nSetup Question\t= K\r\nValue\t=5\r\n\r\nSetup Question\t= K\r\nValue\t=5\r\n' \
  'Setup Question\t= A\r\nHelp String\t= a\r\nSetup Question\t= K\r\nValue\t=5\r\n\r\nSetup Question\t= K\r\nValue\t=7\n' \
  'changed,K,7,5,yes' 'same,A,5,5,'

begin_case "a saved script given as a FIFO: a renamed question is paired without reading it again"
: >"$WORK/Exclude.txt"
q() { printf 'Setup Question\t= %s\r\nToken\t=%s\t// Do NOT change this line\r\nOffset\t=%s\r\nValue\t=%s\r\n\r\n' "$@"; }
{ q 'Quiet Boot' 10 10 01; q 'tCL 40' 14 14 01; } >"$WORK/saved.txt"
{ q 'Quiet Boot' 10 10 01; q 'tCL 38' 14 14 00; } >"$FAKE/export"
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD""ERROR:Saved value for tCL40 is 01\r\n       BIOS value for tCL38 is 00\r\n"
cp "$OUT_FILE" "$FAKE/from-file"
mkfifo "$WORK/saved.fifo"
cat "$WORK/saved.txt" >"$WORK/saved.fifo" &
writer=$!
(cd "$WORK" && PATH="$FAKE/bin:$PATH" timeout 20 "$NVRAM_BIN" -c saved.fifo >"$OUT_FILE" 2>"$FAKE/stderr" </dev/null)
STATUS=$?
kill "$writer" 2>/dev/null
wait "$writer" 2>/dev/null
expect_status 6
cmp -s "$OUT_FILE" "$FAKE/from-file" || fail "the FIFO gives another report: $(od -c "$OUT_FILE" | head -5)"

begin_case "nvram-diff on 8,000 questions parted by lines that begin with a NUL byte: linear"
gen() {  # gen VALUE: 8,000 questions, each with its own Token, parted by "\0-\r\n"
  awk -v v="$1" 'BEGIN { ORS = ""; for (i = 1; i <= 8000; i++)
    printf "Setup Question\t= Q%d\r\nToken\t=%04X\t// Do NOT change this line\r\nOffset\t=%04X\r\nValue\t=<%d>\r\n%c-\r\n", i, i, i, v, 0 }'
}
gen 1 >"$WORK/old.txt"
gen 2 >"$WORK/new.txt"
# A quadratic search took 18 s here; a sanitizer build runs some ten times slower than an optimised one.
limit=3; grep -q -a __asan_init "$NVRAM_DIFF_BIN" && limit=30
(cd "$WORK" && timeout "$limit" "$NVRAM_DIFF_BIN" --format json old.txt new.txt >"$OUT_FILE" 2>"$FAKE/stderr" </dev/null)
STATUS=$?
expect_status 1
[ "$(grep -m 2 '"token"' "$OUT_FILE" | tr -d ' \n')" = '"token":"0001","token":"0001",' ] ||
  fail "Q1's tokens: $(grep -m 2 '"token"' "$OUT_FILE")"
grep -q '"changed": 8000,' "$OUT_FILE" || fail "not 8000 changed: $(grep -A 3 '"summary"' "$OUT_FILE")"

begin_case "real export: options after a blank line belong to their question"
if corpus_or_skip; then
  : >"$WORK/Exclude.txt"
  cp "$CORPUS/real01.txt" "$WORK/real01.txt"
  set_export_file "$CORPUS/real01.txt"
  # "Fan select Main page" (Token 2B38): a blank line stands between its Width and Options lines.
  # The copy selects [06] instead of [04], written as the merge writes a moved marker.
  sed '/^Options\t=\*\[04\]CPU 1\t/{s/=\*\[04\]/= [04]/;n;s/^         \[06\]System 1\r$/        *[06]System 1\r/}' \
    "$CORPUS/real01.txt" >"$WORK/copy.txt"
  [ "$(cmp -l "$CORPUS/real01.txt" "$WORK/copy.txt" | wc -l)" = 2 ] || fail "the copy is not as meant"
  run_nvram -c copy.txt
  expect_status 6
  expect_stdout "$HEAD$(report FanselectMainpage 06 04)"
  run_nvram -u copy.txt real01.txt
  expect_status 0
  expect_stdout ''
  expect_same_file merged.txt "$WORK/copy.txt"
  run_diff --format csv copy.txt real01.txt
  expect_status 1
  expect_rows 'changed,FanselectMainpage,06,04,yes'
fi

finish
