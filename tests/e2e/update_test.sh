#!/bin/bash
# -u: the dumped script's values carried into the new script, merged.txt imported.
. "$(dirname "$0")/lib.sh"

crlf() { printf '%s\r\n' "$@"; }
NEW=(
  'Setup Question = Quiet Boot' 'BIOS Default =[00]Disabled'
  'Options =*[00]Disabled   // Move "*" to the desired Option' '         [01]Enabled' ''
  'Setup Question = Boot Delay' 'Value =05   // Seconds' ''
  'Setup Question = Wake On LAN' 'Options =[00]Disabled' '         *[01]Enabled' ''
  'Setup Question = Only New' 'Value =07' '')
OLD=(
  'Setup Question = Wake On LAN' 'Options =*[00]Disabled' '         [01]Enabled' ''
  'Setup Question = Quiet Boot' 'BIOS Default =[00]Disabled' 'Options =[00]Disabled' '         *[01]Enabled' ''
  'Setup Question = Boot Delay' 'Value =0A' ''
  'Setup Question = Only Old' 'Value =01' '')
MERGED='Setup Question = Quiet Boot\r\nBIOS Default =[00]Disabled\r\n'
MERGED+='Options = [00]Disabled   // Move "*" to the desired Option\r\n        *[01]Enabled\r\n\r\n'
MERGED+='Setup Question = Boot Delay\r\nValue =0A\n\r\n'
MERGED+='Setup Question = Wake On LAN\r\nOptions=*[00]Disabled\r\n          [01]Enabled\r\n\r\n'
MERGED+='Setup Question = Only New\r\nValue =07\r\n\r\n'
DIFF='{QuietBoot},[00],<01>\r\n{BootDelay},[?],<0A>\r\n{WakeOnLAN},[?],<00>\r\n'
scripts() { crlf "${OLD[@]}" >"$WORK/old.txt"; crlf "${NEW[@]}" >"$WORK/new.txt"; : >"$WORK/Exclude.txt"; }

begin_case "the dumped values are carried into the new script and imported"
scripts
run_nvram -u old.txt new.txt
expect_status 0
expect_stdout ''
expect_file Difftemp.ini "$DIFF"
expect_file merged.txt "$MERGED"
expect_tool_words '/i|/q|/s|merged.txt'
expect_files Exclude.txt old.txt new.txt Difftemp.ini merged.txt

begin_case "resource and defaults files give the long command line"
scripts
run_nvram -u old.txt new.txt res.bin def.bin
expect_status 0
expect_tool_words '/i|/q|/s|merged.txt|/rh|res.bin|/rd|def.bin'

begin_case "a lone resource file is ignored"
scripts
run_nvram -u old.txt new.txt res.bin
expect_tool_words '/i|/q|/s|merged.txt'

begin_case "no differences: empty Difftemp.ini, merged.txt is the new script"
scripts
cp "$WORK/new.txt" "$WORK/old.txt"
run_nvram -u old.txt new.txt
expect_status 0
expect_file Difftemp.ini ''
expect_same_file merged.txt "$WORK/new.txt"

begin_case "excluded questions keep the new script's value"
scripts
printf '// keep these\nWake On LAN\nQuiet Boot\n' >"$WORK/Exclude.txt"
run_nvram -u old.txt new.txt
expect_file Difftemp.ini '{BootDelay},[?],<0A>\r\n'

begin_case "without the tool all files are still written"
scripts
no_tool
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout 'No SCELNX_64 found!\n'
expect_file merged.txt "$MERGED"

begin_case "the import fails"
scripts
set_tool_exit 1
run_nvram -u old.txt new.txt
expect_status 1
expect_stdout 'Error occurred during BIOS setting operation!\n'
expect_file merged.txt "$MERGED"

begin_case "a dumped script that cannot be opened"
scripts
rm "$WORK/old.txt"
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot open file old.txt\r\n'
expect_files Exclude.txt new.txt new.ini
expect_tool_words

begin_case "a new script that cannot be opened is tried twice"
scripts
rm "$WORK/new.txt"
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot open file new.txt\r\nError, cannot open file new.txt\r\n'
expect_files Exclude.txt old.txt

begin_case "a script without a setup question: status 3, record files removed, nothing merged"
for empty in new old; do
  scripts
  printf 'not a setup script\r\n' >"$WORK/$empty.txt"
  printf 'kept' | tee "$WORK/Difftemp.ini" >"$WORK/merged.txt"
  run_nvram -u old.txt new.txt
  expect_status 3
  expect_stdout "Error, no setup question in $empty.txt\r\n"
  expect_files Exclude.txt old.txt new.txt Difftemp.ini merged.txt
  expect_file merged.txt 'kept'
  expect_tool_words
done

begin_case "a help line of 302 bytes does not end its question: the value is carried"
help="Help String	= $(printf 'a%.0s' $(seq 285))x"
crlf 'Setup Question = Boot Delay' "$help" 'Value	=01' '' >"$WORK/new.txt"
crlf 'Setup Question = Boot Delay' 'Value	=05' '' >"$WORK/old.txt"
: >"$WORK/Exclude.txt"
run_nvram -u old.txt new.txt
expect_status 0
expect_stdout ''
expect_file merged.txt "Setup Question = Boot Delay\r\n$help\r\nValue	=05\n\r\n"
(cd "$WORK" && "$NVRAM_DIFF_BIN" --format json old.txt new.txt) | grep -q '"carried": true' ||
  fail "nvram-diff does not call it carried"

begin_case "no Exclude.txt"
scripts
rm "$WORK/Exclude.txt"
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout "can't open Exclude.txt"
expect_tool_words

for args in "" "old.txt"; do
  begin_case "missing names: -u $args"
  run_nvram -u $args
  expect_status 2
  expect_stdout 'NVRAM -u [fn1,fn2,fn3,fn4]\n'
done

for c in "old.txt old.sh|old.ini" "a.txt ./a.txt|./a.ini" "x.txt x.txt|x.ini" "x.ini new.txt|x.ini" \
         "merged.txt new.txt|merged.txt" "old.txt Difftemp.ini|Difftemp.ini" "old.txt new.txt merged.txt d|merged.txt" "old.txt new.txt|SCELNX_64"; do
  begin_case "file name conflict: -u ${c%|*}"
  scripts
  for f in ${c%|*}; do [ -e "$WORK/$f" ] || printf 'keep\n' >"$WORK/$f"; done
  [ "${c#*|}" = SCELNX_64 ] && ln -s SCELNX_64 "$WORK/merged.txt"
  before=$(cd "$WORK" && ls -l --time-style=+%s.%N; md5sum * 2>/dev/null)
  run_nvram -u ${c%|*}
  expect_status 3
  expect_stdout "Error, file name conflict: ${c#*|}\r\n"
  expect_tool_words
  [ "$before" = "$(cd "$WORK" && ls -l --time-style=+%s.%N; md5sum * 2>/dev/null)" ] || fail "files changed"
done

finish
