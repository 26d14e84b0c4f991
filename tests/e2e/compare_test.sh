#!/bin/bash
# -c: the live settings against a saved script, the miscompare report and status 6.
. "$(dirname "$0")/lib.sh"

# q KEY DEFAULT CURRENT: one numeric question of a setup script, CR LF line ends.
q() { printf 'Setup Question = %s\r\nBIOS Default =[%s]\r\nValue =%s\r\n\r\n' "$1" "$2" "$3"; }
HEAD='\r\nMiscompare Notification\r\n'
END='\r\n== Complete MISCOMPARE Function ==\r\n'
report() { printf 'ERROR:Saved value for %s is %s\\r\\n       BIOS value for %s is %s\\r\\n' "$1" "$2" "$1" "$3"; }
exclude() { printf "$1" >"$WORK/Exclude.txt"; }

begin_case "worked example"
exclude '// questions that may differ\nQuietBoot\n'
{ q BootupNumLockState 01 00; q QuietBoot 00 01; q SataMode 01 02; q WakeOnLan 00 00; } >"$WORK/saved.txt"
{ printf '// Script File Name : biostemp.sh\r\n\r\n'; q BootupNumLockState 01 01; q WakeOnLan 00 01
  q SataMode 01 02; q QuietBoot 00 00; q SerialPort 01 01; } >"$FAKE/export"
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD$(report BootupNumLockState 00 01)$(report WakeOnLan 00 01)$END"
expect_tool_words '/o|/s|biostemp.sh'
expect_file saved.ini '{BootupNumLockState},[01],<00>\r\n{QuietBoot},[00],<01>\r\n{SataMode},[01],<02>\r\n{WakeOnLan},[00],<00>\r\n'
expect_files Exclude.txt saved.txt saved.ini biostemp.sh biostemp.ini

begin_case "equal settings: heading only, status 0"
exclude ''
{ q A 00 01; q B 01 02; } | tee "$WORK/saved.txt" >"$FAKE/export"
run_nvram -c saved.txt
expect_status 0
expect_stdout "$HEAD"

begin_case "keys in the other order: the end message, then the question is still compared"
exclude ''
{ q A 00 01; q B 00 01; } >"$WORK/saved.txt"
{ q B 00 02; q A 00 02; } >"$FAKE/export"
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD$(report B 01 02)$END$(report A 01 02)"

begin_case "one more live question at the end: the end message once"
exclude ''
{ q A 00 01; q B 00 01; } >"$WORK/saved.txt"
{ q A 00 01; q B 00 01; q C 00 01; } >"$FAKE/export"
run_nvram -c saved.txt
expect_status 0
expect_stdout "$HEAD$END"

begin_case "excluded and default-only differences are not reported"
exclude 'Wake on LAN\n'
{ q WakeonLAN 00 01; q Beep 00 01; } >"$WORK/saved.txt"
{ q 'Wake on LAN' 00 00; q Beep 01 01; } >"$FAKE/export"
run_nvram -c saved.txt
expect_status 0
expect_stdout "$HEAD"

begin_case "a saved script with a directory part"
exclude ''
mkdir "$WORK/gold"
q A 00 01 >"$WORK/gold/saved.v1.txt"
q A 00 02 >"$FAKE/export"
run_nvram -c ./gold/saved.v1.txt
expect_status 6
expect_stdout "$HEAD$(report A 01 02)"
expect_file gold/saved.ini '{A},[00],<01>\r\n'

begin_case "repeated keys pair in order"
exclude ''
{ q A 00 01; q A 00 02; q B 00 03; } >"$WORK/saved.txt"
{ q A 00 01; q A 00 05; q B 00 03; } >"$FAKE/export"
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD$(report A 02 05)"

begin_case "-c without a file name"
run_nvram -c
expect_status 2
expect_stdout 'NVRAM -c [fn]\n'
expect_tool_words

begin_case "no Exclude.txt: nothing run"
q A 00 01 >"$WORK/saved.txt"
run_nvram -c saved.txt
expect_status 3
expect_stdout "can't open Exclude.txt"
expect_tool_words

begin_case "no tool"
exclude ''
q A 00 01 >"$WORK/saved.txt"
no_tool
run_nvram -c saved.txt
expect_status 3
expect_stdout 'No SCELNX_64 found!\n'

begin_case "the tool fails"
exclude ''
q A 00 01 >"$WORK/saved.txt"
set_tool_exit 1
run_nvram -c saved.txt
expect_status 1
expect_stdout 'Error occurred during BIOS setting operation!\n'

begin_case "a missing saved script ends the command; a leftover record file is not used"
exclude ''
printf '{A},[00],<01>\r\n' >"$WORK/gone.ini"
q A 00 01 >"$FAKE/export"
run_nvram -c gone.txt
expect_status 3
expect_stdout 'Error, cannot open file gone.txt\r\n'

begin_case "a live export that was not written ends the command, even with one left from before"
exclude ''
q A 00 01 >"$WORK/saved.txt"
q A 00 01 >"$WORK/biostemp.sh"
run_nvram -c saved.txt
expect_status 3
expect_stdout 'Error, cannot open file biostemp.sh\r\n'

begin_case "a saved script or live export without a setup question: status 3, files left"
exclude ''
: >"$WORK/empty.txt"
q A 00 01 >"$FAKE/export"
run_nvram -c empty.txt
expect_status 3
expect_stdout 'Error, no setup question in empty.txt\r\n'
expect_files Exclude.txt empty.txt empty.ini biostemp.sh biostemp.ini
cp /etc/passwd "$WORK/saved.txt"
cp /etc/group "$FAKE/export"
run_nvram -c saved.txt
expect_stdout 'Error, no setup question in saved.txt\r\n'
q A 00 01 >"$WORK/saved.txt"
run_nvram -c saved.txt
expect_status 3
expect_stdout 'Error, no setup question in biostemp.sh\r\n'

for name in biostemp.sh biostemp.txt ./biostemp.sh saved.ini biostemp.ini; do
  begin_case "file name conflict: -c $name"
  exclude ''
  printf 'keep\n' >"$WORK/$name"
  run_nvram -c "$name"
  expect_status 3
  expect_stdout "Error, file name conflict: $name\r\n"
  expect_tool_words
  expect_file "$name" 'keep\n'
done

# Working files linked to each other, with and without an export left from an earlier run: the
# clash is found before anything is run, written or removed.
for c in "biostemp.ini biostemp.sh|biostemp.sh" "saved.ini biostemp.sh|saved.txt" "saved.ini biostemp.ini|saved.txt" \
         "biostemp.ini SCELNX_64|SCELNX_64"; do
  for earlier in yes no; do
    begin_case "working files linked: ${c%|*} (earlier export: $earlier)"
    exclude ''
    q A 00 01 | tee "$WORK/saved.txt" >"$FAKE/export"
    link=${c%|*}
    [ $earlier = yes ] && printf 'keep\n' >"$WORK/${link#* }"
    ln -s "${link#* }" "$WORK/${link% *}"
    before=$(cd "$WORK" && ls -l --time-style=+%s.%N; cat ./* 2>/dev/null)
    run_nvram -c saved.txt
    expect_status 3
    expect_stdout "Error, file name conflict: ${c#*|}\r\n"
    expect_tool_words
    [ "$before" = "$(cd "$WORK" && ls -l --time-style=+%s.%N; cat ./* 2>/dev/null)" ] || fail "files changed"
  done
done

begin_case "20,000 questions in reversed order, a tenth of them changed"
exclude ''
awk 'BEGIN { for (i = 1; i <= 20000; i++) printf "Setup Question = Q%d\r\nValue =%x\r\n\r\n", i, i }' >"$WORK/saved.txt"
awk 'BEGIN { for (i = 20000; i >= 1; i--) printf "Setup Question = Q%d\r\nValue =%x\r\n\r\n", i, (i % 10 == 0 ? i + 1 : i) }' >"$FAKE/export"
run_nvram -c saved.txt
expect_status 6
[ "$(grep -c '^ERROR:Saved value' "$OUT_FILE")" = 2000 ] || fail "expected 2000 reports"

finish
