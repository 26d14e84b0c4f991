#!/bin/bash
# nvram-diff from the command line: the text report byte for byte, exit statuses, one-line
# messages on standard error, CSV and colour.
source "$(dirname "$0")/lib.sh"
: "${NVRAM_DIFF_BIN:?NVRAM_DIFF_BIN must name nvram-diff}"

run_diff() {
  (cd "$WORK" && "$NVRAM_DIFF_BIN" "$@" >"$OUT_FILE" 2>"$FAKE/stderr" </dev/null)
  STATUS=$?
}
expect_one_error_line() {  # the message on stderr: exactly one line, beginning as given
  [ "$(wc -l <"$FAKE/stderr")" = 1 ] && grep -q "^nvram-diff: $1" "$FAKE/stderr" ||
    fail "stderr: $(cat "$FAKE/stderr")"
  [ -s "$OUT_FILE" ] && fail "stdout not empty: $(cat "$OUT_FILE")"
}
question() {  # question NAME TOKEN CODE: a question with options 00 Disabled and 01 Enabled
  local off='' on='*'
  [ "$3" = 00 ] && { off='*'; on=''; }
  printf '%s\r\n' "Setup Question	= $1" "Token	=$2	// Do NOT change this line" "Offset	=$2" \
    "Options	=${off}[00]Disabled	// Move \"*\" to the desired Option" "         ${on}[01]Enabled" ''
}
scripts() {
  { printf '// Script File Name : old.txt\n// BIOS_VERSION = XB0A12\n\r\n'
    question 'Quiet Boot' 10 00; question 'Fast Boot' 11 01; question 'Fast Boot' 12 01
    printf 'Setup Question\t= Boot Delay\r\nToken\t=13\r\nOffset\t=13\r\nValue\t=<4500>\r\n\r\n'
    question 'tCL 40' 14 01; question 'Legacy' 15 00; } >"$WORK/old.txt"
  { question 'Quiet Boot' 10 00; question 'Fast Boot' 11 01; question 'Fast Boot' 12 00
    printf 'Setup Question\t= Boot Delay\r\nToken\t=13\r\nOffset\t=13\r\nValue\t="long"\r\n\r\n'
    question 'tCL 38' 14 01; question 'Logo' 16 01; } >"$WORK/new.txt"
}

begin_case "the text report, section by section"
scripts
run_diff old.txt new.txt
expect_status 1
expect_stdout 'OLD old.txt  (BIOS XB0A12)\nNEW new.txt\n\nChanged: 2
  QUESTION            OLD           NEW
  Fast Boot (2 of 2)  Enabled [01]  Disabled [00]
  Boot Delay          4500          "long"\n
Renamed: 1
  OLD QUESTION  NEW QUESTION  OLD           NEW
  tCL 40        tCL 38        Enabled [01]  Enabled [01]\n
Only in OLD (an update drops them): 1
  QUESTION  VALUE
  Legacy    Disabled [00]\n
Only in NEW: 1
  QUESTION  VALUE
  Logo      Enabled [01]\n
Not carried by an update from OLD into NEW: 1
  QUESTION    OLD   NEW     WHY
  Boot Delay  4500  "long"  NEW takes a text, OLD holds a number\n
2 changed, 1 renamed, 1 only in OLD, 1 only in NEW, 1 not carried, 0 excluded, 2 same\n'
[ -s "$FAKE/stderr" ] && fail "stderr: $(cat "$FAKE/stderr")"

begin_case "agreeing scripts: status 0; -q prints nothing; --all lists the agreeing questions"
scripts
run_diff new.txt new.txt
expect_status 0
[ "$(tail -n 1 "$OUT_FILE")" = "0 changed, 0 renamed, 0 only in OLD, 0 only in NEW, 0 not carried, 0 excluded, 6 same" ] ||
  fail "summary: $(tail -n 1 "$OUT_FILE")"
run_diff -q old.txt new.txt
expect_status 1
expect_stdout ''
run_diff --all old.txt new.txt
grep -q '^Same: 2$' "$OUT_FILE" && grep -q '^  Quiet Boot          Disabled \[00\]$' "$OUT_FILE" ||
  fail "no Same section"

begin_case "--exclude passes over and counts"
scripts
printf '// not these\r\nFast Boot\r\nBoot Delay\r\n' >"$WORK/skip.txt"
run_diff --exclude skip.txt old.txt new.txt
expect_status 1
[ "$(tail -n 1 "$OUT_FILE")" = "0 changed, 1 renamed, 1 only in OLD, 1 only in NEW, 0 not carried, 3 excluded, 1 same" ] ||
  fail "summary: $(tail -n 1 "$OUT_FILE")"

begin_case "trouble: status 2 and one line on standard error"
scripts
run_diff old.txt
expect_status 2; expect_one_error_line 'NEW is required'
run_diff --format xml old.txt new.txt
expect_status 2; expect_one_error_line '--format: xml not in'
run_diff --colour always old.txt new.txt
expect_status 2; expect_one_error_line 'The following arguments were not expected: .*--colour'
run_diff old.txt missing.txt
expect_status 2; expect_one_error_line 'cannot open missing.txt: No such file or directory'
mkdir "$WORK/dir.txt"
run_diff dir.txt new.txt
expect_status 2; expect_one_error_line 'cannot read dir.txt: Is a directory'
run_diff --exclude nothere.txt old.txt new.txt
expect_status 2; expect_one_error_line 'cannot open nothere.txt'
run_diff --help
expect_status 0; grep -q -- '--exclude FILE' "$OUT_FILE" || fail "--help: $(cat "$OUT_FILE")"
run_diff --version
expect_status 0; expect_stdout 'nvram-diff 1.01\n'

begin_case "each input read once: a pipe, a FIFO and standard input give what the file gives"
scripts
run_diff --format json old.txt new.txt
cp "$OUT_FILE" "$FAKE/from-files"
(cd "$WORK" && "$NVRAM_DIFF_BIN" --format json <(cat old.txt) - <new.txt >"$OUT_FILE" 2>"$FAKE/stderr")
expect_status 1
sed 's/"file": "[^"]*"/"file": ""/' "$FAKE/from-files" >"$FAKE/want"
sed 's/"file": "[^"]*"/"file": ""/' "$OUT_FILE" | cmp -s - "$FAKE/want" || fail "a pipe and - differ from the files"
mkfifo "$WORK/fifo"
(cat "$WORK/old.txt" >"$WORK/fifo" &)
(cd "$WORK" && timeout 10 "$NVRAM_DIFF_BIN" --format json fifo new.txt >"$OUT_FILE" 2>"$FAKE/stderr")
sed 's/"file": "[^"]*"/"file": ""/' "$OUT_FILE" | cmp -s - "$FAKE/want" || fail "a FIFO differs from the file"

begin_case "no setup question, or no memory for the input: one line, status 2"
scripts
cp /etc/passwd /etc/group "$WORK/"
run_diff passwd group
expect_status 2; expect_one_error_line 'no setup question in passwd$'
run_diff old.txt group
expect_status 2; expect_one_error_line 'no setup question in group$'
# A sanitizer's runtime cannot start under a limit on address space.
if ! grep -q -a __asan_init "$NVRAM_DIFF_BIN"; then
  (cd "$WORK" && ulimit -v 400000 && exec "$NVRAM_DIFF_BIN" /dev/zero new.txt >"$OUT_FILE" 2>"$FAKE/stderr" </dev/null)
  STATUS=$?
  expect_status 2; expect_one_error_line 'out of memory$'
fi

begin_case "renamed questions that agree are listed, but are no difference"
question 'tCL 40' 14 01 >"$WORK/old.txt"
question 'tCL 38' 14 01 >"$WORK/new.txt"
run_diff old.txt new.txt
expect_status 0
grep -q '^Renamed: 1$' "$OUT_FILE" || fail "renamed not listed: $(cat "$OUT_FILE")"

begin_case "CSV for tools; colour only when asked or on a terminal"
scripts
run_diff --format csv --all old.txt new.txt
expect_status 1
python3 - "$OUT_FILE" <<'PY' || fail "CSV: $(cat "$OUT_FILE")"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
got = [(r["status"], r["text"], r["copy"], r["old_shown"], r["new_shown"], r["carried"]) for r in rows]
assert got == [("changed", "Fast Boot", "2", "Enabled [01]", "Disabled [00]", "yes"),
               ("changed", "Boot Delay", "1", "4500", '"long"', "no"),
               ("renamed", "tCL 38", "1", "Enabled [01]", "Enabled [01]", ""),
               ("only_old", "Legacy", "1", "Disabled [00]", "", ""),
               ("only_new", "Logo", "1", "", "Enabled [01]", ""),
               ("same", "Quiet Boot", "1", "Disabled [00]", "Disabled [00]", ""),
               ("same", "Fast Boot", "1", "Enabled [01]", "Enabled [01]", "")], got
PY
run_diff old.txt new.txt
grep -q $'\x1b' "$OUT_FILE" && fail "colour on a file"
run_diff --color always old.txt new.txt
grep -q $'^\x1b\\[1mChanged: 2\x1b\\[0m$' "$OUT_FILE" || fail "no colour with --color always"
(cd "$WORK" && script -qec "$NVRAM_DIFF_BIN old.txt new.txt" /dev/null >"$OUT_FILE" 2>&1 </dev/null)
grep -q $'\x1b' "$OUT_FILE" || fail "no colour on a terminal"
(cd "$WORK" && NO_COLOR=1 script -qec "$NVRAM_DIFF_BIN old.txt new.txt" /dev/null >"$OUT_FILE" 2>&1 </dev/null)
grep -q 'Changed: 2' "$OUT_FILE" || fail "no report on a terminal: $(cat "$OUT_FILE")"
grep -q $'\x1b' "$OUT_FILE" && fail "colour on a terminal with NO_COLOR set"

finish
