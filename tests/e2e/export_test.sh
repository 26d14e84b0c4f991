#!/bin/bash
# -s: the tool's export rewritten with the output name and the BIOS version stamp.
. "$(dirname "$0")/lib.sh"

begin_case "worked example"
set_export '// Script File Name : temp.txt\n// Setup questions of this machine follow\n(further lines)\n'
run_nvram -s bios.db settings.txt
expect_status 0
expect_stdout ''
expect_tool_words '/o|/s|temp.txt|/h|bios.db'
expect_file settings.txt '// Script File Name : settings.txt\n// BIOS_VERSION = XB0A12\n// Setup questions of this machine follow\n(further lines)\n'
expect_files bios.db settings.txt

begin_case "CR LF export: the CR after the name is dropped, its LF stays"
set_export '// Script File Name : temp.txt\r\n// second\r\nSetup Question\t= A\r\n'
run_nvram -S db out.txt
expect_status 0
expect_file out.txt '// Script File Name : out.txt\n// BIOS_VERSION = XB0A12\n\n// second\r\nSetup Question\t= A\r\n'

begin_case "an earlier 'temp' in the first block is the one replaced"
set_export '// template for temp.txt\nrest\n'
run_nvram -s db out.txt
expect_file out.txt '// out.txt\n// BIOS_VERSION = XB0A12\nfor temp.txt\nrest\n'

begin_case "the output name keeps its directory part and its odd characters"
mkdir "$WORK/sub dir"
set_export '// Script File Name : temp.txt\n'
run_nvram -s db "sub dir/a'b\$(touch pwned);c.txt"
expect_status 0
expect_file "sub dir/a'b\$(touch pwned);c.txt" "// Script File Name : sub dir/a'b\$(touch pwned);c.txt\n// BIOS_VERSION = XB0A12\n"
expect_no_file pwned "sub dir/pwned"

begin_case "a long export is copied byte for byte"
{ printf '// Script File Name : temp.txt\r\n'; for i in $(seq 1 3000); do printf 'Setup Question\t= Q%d\r\nValue\t=%x\r\n\r\n' "$i" "$i"; done; } >"$FAKE/export"
run_nvram -s db big.txt
expect_status 0
{ printf '// Script File Name : big.txt\n// BIOS_VERSION = XB0A12\n\n'; tail -c +33 "$FAKE/export"; } >"$FAKE/big.expected"
expect_same_file big.txt "$FAKE/big.expected"

begin_case "no 'temp' within the first block: stamp line, then the whole export"
set_export 'Setup Question = A\r\nOptions =*[00]Off\r\n         [01]On\r\n// Script File Name : temp.txt\r\n'
run_nvram -s db out.txt
expect_status 0
expect_file out.txt '// BIOS_VERSION = XB0A12\nSetup Question = A\r\nOptions =*[00]Off\r\n         [01]On\r\n// Script File Name : temp.txt\r\n'

begin_case "a short export holds only the bytes read"
set_export 'temp.txt'
run_nvram -s db out.txt
expect_file out.txt 'out.txt\n// BIOS_VERSION = XB0A12\n'

begin_case "only one file name"
run_nvram -s db
expect_status 3
expect_stdout 'NVRAM -s [fn1,fn2]\n'
expect_tool_words
expect_files

begin_case "the tool is absent"
no_tool
run_nvram -s db out.txt
expect_status 3
expect_stdout 'No SCELNX_64 found!\n'
expect_files

begin_case "the tool fails: temp.txt stays as the tool left it"
set_export 'half'
set_tool_exit 1
run_nvram -s db out.txt
expect_status 1
expect_stdout 'Error occurred during BIOS setting operation!\n'
expect_file temp.txt 'half'
expect_no_file out.txt

begin_case "the tool writes no export"
run_nvram -s db out.txt
expect_status 3
expect_stdout 'Error, cannot open file temp.txt\r\n'
expect_files db

begin_case "an export left from an earlier run is not taken for a new one"
printf '// Script File Name : temp.txt\nold settings\n' >"$WORK/temp.txt"
run_nvram -s db out.txt
expect_status 3
expect_stdout 'Error, cannot open file temp.txt\r\n'
expect_no_file out.txt

begin_case "the output cannot be created: temp.txt stays"
set_export '// Script File Name : temp.txt\n'
run_nvram -s db missing/out.txt
expect_status 3
expect_stdout 'Error, cannot open file missing/out.txt\r\n'
expect_file temp.txt '// Script File Name : temp.txt\n'
run_nvram -s db ''
expect_status 3
expect_stdout 'Error, cannot open file \r\n'

begin_case "the output cannot be written whole: temp.txt stays"
set_export '// Script File Name : temp.txt\n'
run_nvram -s db /dev/full
expect_status 3
expect_stdout 'Error, cannot write file /dev/full\r\n'
expect_file temp.txt '// Script File Name : temp.txt\n'

begin_case "a pipe is written in place: -s db /dev/stdout into a pipe"
set_export '// Script File Name : temp.txt\n'
(cd "$WORK" && PATH="$FAKE/bin:$PATH" "$NVRAM_BIN" -s db /dev/stdout </dev/null | cat >"$OUT_FILE"; exit "${PIPESTATUS[0]}")
STATUS=$?
expect_status 0
expect_stdout '// Script File Name : /dev/stdout\n// BIOS_VERSION = XB0A12\n'

for args in "db.bin temp.txt|temp.txt" "db.bin ./temp.txt|./temp.txt" "temp.txt out.txt|temp.txt" "same same|same" \
  "db.bin SCELNX_64|SCELNX_64" "SCELNX_64 out.txt|SCELNX_64"; do
  begin_case "file name conflict: -s ${args%|*}"
  printf 'keep' >"$WORK/same"
  set_export '// Script File Name : temp.txt\n'
  run_nvram -s ${args%|*}
  expect_status 3
  expect_stdout "Error, file name conflict: ${args#*|}\r\n"
  expect_tool_words
  expect_file same 'keep'
done

begin_case "an existing output script is replaced"
printf 'old content that is longer than the new one\n%.0s' $(seq 1 50) >"$WORK/out.txt"
set_export '// Script File Name : temp.txt\n'
run_nvram -s db out.txt
expect_file out.txt '// Script File Name : out.txt\n// BIOS_VERSION = XB0A12\n'

begin_case "the output is replaced whole: its mode stays, a link to it stays a link"
mkdir "$WORK/golden"
printf 'old\n' >"$WORK/golden/line7.txt"
chmod 640 "$WORK/golden/line7.txt"
ln -s golden/line7.txt "$WORK/saved.txt"
ln -s golden/new.txt "$WORK/dangling.txt"
set_export '// Script File Name : temp.txt\n'
(umask 077 && run_nvram -s db saved.txt && run_nvram -s db dangling.txt)
expect_file golden/line7.txt '// Script File Name : saved.txt\n// BIOS_VERSION = XB0A12\n'
expect_file golden/new.txt '// Script File Name : dangling.txt\n// BIOS_VERSION = XB0A12\n'
[ "$(readlink "$WORK/saved.txt")" = golden/line7.txt ] || fail "saved.txt is no longer the link"
[ "$(stat -c %a "$WORK/golden/line7.txt") $(stat -c %a "$WORK/golden/new.txt")" = "640 600" ] ||
  fail "modes $(stat -c %a "$WORK/golden/line7.txt") $(stat -c %a "$WORK/golden/new.txt"), expected 640 600"
[ "$(ls -A "$WORK/golden")" = "$(printf 'line7.txt\nnew.txt')" ] || fail "golden/ holds $(ls -A "$WORK/golden")"

begin_case "a loop of links names no file: it cannot be written, and both links stay"
ln -s loop.b "$WORK/loop.a"
ln -s loop.a "$WORK/loop.b"
set_export '// Script File Name : temp.txt\n'
run_nvram -s db loop.a
expect_status 3
expect_stdout 'Error, cannot open file loop.a\r\n'
[ -L "$WORK/loop.a" ] && [ -L "$WORK/loop.b" ] || fail "a link was replaced"
expect_files db loop.a loop.b temp.txt

begin_case "an output its user may not write stays as it is (run as nobody)"
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null; then
  chmod 755 "$ROOT" "${WORK%/work}" "$FAKE" "$FAKE/bin"
  chmod 777 "$WORK" "$FAKE"
  printf 'golden\n' >"$WORK/saved.txt"
  chmod 444 "$WORK/saved.txt"
  set_export '// Script File Name : temp.txt\n'
  (cd "$WORK" && PATH="$FAKE/bin:$PATH" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$NVRAM_BIN" -s db saved.txt >"$OUT_FILE" 2>/dev/null </dev/null)
  STATUS=$?
  expect_status 3
  expect_stdout 'Error, cannot open file saved.txt\r\n'
  expect_file saved.txt 'golden\n'
else
  echo "skipped: running as another user needs root and setpriv" >&2
fi

finish
