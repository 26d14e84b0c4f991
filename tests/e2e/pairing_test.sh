#!/bin/bash
# Which question takes which value: questions pair by Token, Offset and text first, and -u, -c
# and nvram-diff agree on the pairs.
. "$(dirname "$0")/lib.sh"
: "${NVRAM_DIFF_BIN:?NVRAM_DIFF_BIN must name nvram-diff}"

# q TEXT TOKEN VALUE [DEFAULT]: a question whose Offset is its Token; m: as merged.txt writes it.
q() {
  printf 'Setup Question\t= %s\r\nToken\t=%s\t// Do NOT change this line\r\n' "$1" "$2"
  printf 'Offset\t=%s\r\n%sValue\t=%s%s\r\n' "$2" "${4:+BIOS Default	=$4 $'\r\n'}" "$3" "${EOL-$'\r\n'}"
}
m() { EOL=$'\n' q "$@"; }
scripts() { cat >"$WORK/old.txt"; : >"$WORK/Exclude.txt"; }
update_gives() {  # update_gives MERGED [STDOUT]: -u old.txt new.txt succeeds and writes MERGED
  run_nvram -u old.txt new.txt
  expect_status 0; expect_stdout "${2-}"; expect_same_file merged.txt "$1"
}
diff_rows() {  # diff_rows ROWS ARGS...: nvram-diff's CSV rows, as status,copy,old,new,carried
  local got
  got=$(cd "$WORK" && "$NVRAM_DIFF_BIN" --format csv "${@:2}" | cut -d, -f1,4,7,9,11 | tail -n +2)
  [ "$got" = "$(printf "$1")" ] || fail "nvram-diff rows: $got"
}
HEAD='\r\nMiscompare Notification\r\n'
report() {  # report KEY SAVED LIVE: the two lines of a miscompare, as a printf format
  printf 'ERROR:Saved value for %s is %s\\r\\n' "$1" "$2"
  printf '       BIOS value for %s is %s\\r\\n' "$1" "$3"
}

begin_case "repeated questions each take the value of their own Token, wherever NEW puts them"
{ q K 01 1; q Y 02 5; q K 03 2; } | scripts
{ q Y 02 5; q K 01 0; q K 03 0; } >"$WORK/new.txt"
{ q Y 02 5; m K 01 1; m K 03 2; } >"$FAKE/merged"
update_gives "$FAKE/merged"
diff_rows 'changed,1,1,0,yes\nchanged,2,2,0,yes' old.txt new.txt
set_export_file "$WORK/merged.txt"
run_nvram -c old.txt
expect_status 0; expect_stdout "$HEAD"
set_export_file "$WORK/new.txt"
run_nvram -c old.txt
expect_status 6
expect_stdout "$HEAD$(report K 1 0)$(report K 2 0)"

begin_case "two readings that move on by one: each Token keeps its own value"
{ q 'tRTP 19' 1219 '<5>'; q 'tRTP 20' 121B '<6>'; } | scripts
{ q 'tRTP 20' 1219 '<0>'; q 'tRTP 21' 121B '<0>'; } >"$WORK/new.txt"
{ m 'tRTP 20' 1219 '<5>'; m 'tRTP 21' 121B '<6>'; } >"$FAKE/merged"
update_gives "$FAKE/merged"

begin_case "a renamed question is carried past an earlier new one of its new name"
{ q Y 02 5; q 'tCL 40' 14 '<40>'; } | scripts
{ q 'tCL 38' 20 '<0>'; q Y 02 5; q 'tCL 38' 14 '<0>'; } >"$WORK/new.txt"
{ m 'tCL 38' 20 '<0>'; q Y 02 5; m 'tCL 38' 14 '<40>'; } >"$FAKE/merged"
update_gives "$FAKE/merged"
expect_file Difftemp.ini '{tCL38},[?],<0>\r\n{tCL38},[?],<40>\r\n'

begin_case "a decimal number stays out of a bare Value line; a set question NEW lacks is named"
{ q Y 02 5; q Idle 30 '<110>'; q Gone 40 '<7>' '<5>'; q Unset 41 '<5>' '<5>'; } | scripts
{ q Y 02 5; q Idle 30 6E; q Gone 42 '<5>'; } >"$WORK/new.txt"  # another Token: another question
update_gives "$WORK/new.txt" 'Not carried: Idle = 110\r\nNot carried: Gone = 7\r\n'
diff_rows 'changed,1,110,6E,no\nonly_old,1,7,,no\nonly_old,1,5,,\nonly_new,1,,5,' old.txt new.txt
# The same digits are another number in the other form: decimal 10 is no bare (hexadecimal) 10.
{ q Y 02 5; q Idle 30 '<10>'; q Low 31 '<7>'; } | scripts
{ q Y 02 5; q Idle 30 10; q Low 31 7; } >"$WORK/new.txt"
update_gives "$WORK/new.txt" 'Not carried: Idle = 10\r\n'

for saved in log other; do
  begin_case "a $saved file shares no question with the scripts: an error, nothing merged"
  printf 'Setup of line 7 started\r\nDone\r\n' >"$WORK/log.txt"
  { q 'Fan Curve' 90 1; q 'Board LED' 91 0; } >"$WORK/other.txt"
  { q Y 02 5; q K 01 0; } | scripts
  set_export_file "$WORK/old.txt"
  run_nvram -c $saved.txt
  expect_status 3; expect_stdout "Error, no question of $saved.txt is in the live settings\r\n"
  run_nvram -u $saved.txt old.txt
  expect_status 3; expect_stdout "Error, no question of $saved.txt is in old.txt\r\n"
  expect_no_file merged.txt Difftemp.ini old.ini $saved.ini
  expect_tool_words '/o|/s|biostemp.sh'  # the export of -c only: nothing imported
done

begin_case "Exclude.txt names a question by its key as -c prints it"
{ q Y 02 5; q 'D0->D3 idle timeout (screen off)' 50 '<300>'; } | scripts
{ q Y 02 5; q 'D0->D3 idle timeout (screen off)' 50 '<60>'; } >"$WORK/new.txt"
set_export_file "$WORK/new.txt"
run_nvram -c old.txt
expect_status 6
printf 'D0-%%3ED3idletimeout(screenoff)\r\n' >"$WORK/Exclude.txt"
run_nvram -c old.txt
expect_status 0; expect_stdout "$HEAD"
update_gives "$WORK/new.txt"
diff_rows '' --exclude Exclude.txt old.txt new.txt

finish
