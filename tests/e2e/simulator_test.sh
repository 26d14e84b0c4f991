#!/bin/bash
# Round trips on the simulated platform, and the real exported scripts.
. "$(dirname "$0")/lib.sh"

QUIET_ON='Setup Question\t= Quiet Boot\r\nToken\t=12\r\nOffset\t=03\r\nOptions\t=[00]Disabled\r\n         *[01]Enabled\r\n\r\n'

begin_case "export, change, compare (6), update back, compare (0)"
use_simulator
: >"$WORK/Exclude.txt"
run_nvram -s db saved.txt
expect_status 0
printf "$QUIET_ON" >"$WORK/quiet.txt"
sim /i /s quiet.txt || fail "the simulator refused the change"
run_nvram -c saved.txt
expect_status 6
expect_stdout '\r\nMiscompare Notification\r\nERROR:Saved value for QuietBoot is 00\r\n       BIOS value for QuietBoot is 01\r\n'
run_nvram -s db now.txt
run_nvram -u saved.txt now.txt
expect_status 0
expect_file Difftemp.ini '{QuietBoot},[00],<00>\r\n'
run_nvram -c saved.txt
expect_status 0
expect_stdout '\r\nMiscompare Notification\r\n'

begin_case "a new release takes the saved settings"
use_simulator
: >"$WORK/Exclude.txt"
printf "$QUIET_ON" >"$WORK/quiet.txt"
sim /i /s quiet.txt
run_nvram -s db saved.txt
sim /sim-new-bios new.txt && sim /sim-flash || fail "the simulator could not flash the new release"
run_nvram -c saved.txt
expect_status 6
run_nvram -u saved.txt new.txt res.bin def.bin
expect_status 1  # the import refuses resource files that do not exist
printf 'r' >"$WORK/res.bin"
printf 'd' >"$WORK/def.bin"
run_nvram -u saved.txt new.txt res.bin def.bin
expect_status 0
run_nvram -c merged.txt
expect_status 0
grep -q '{QuietBoot},\[00\],<01>' "$WORK/Difftemp.ini" || fail "Quiet Boot was not carried over"

begin_case "an excluded question keeps the new release's value"
use_simulator
printf 'Quiet Boot\n' >"$WORK/Exclude.txt"
printf "$QUIET_ON" >"$WORK/quiet.txt"
sim /i /s quiet.txt
run_nvram -s db saved.txt
sim /sim-new-bios new.txt && sim /sim-flash
run_nvram -u saved.txt new.txt
expect_status 0
grep -q 'QuietBoot' "$WORK/Difftemp.ini" && fail "an excluded question was carried over"
: >"$WORK/Exclude.txt"
run_nvram -c saved.txt
expect_status 6
grep -q 'BIOS value for QuietBoot is 00' "$OUT_FILE" || fail "Quiet Boot should still differ"

if corpus_or_skip; then
  # The second of twelve "Custom HID" questions of real03, given a text on the old machine.
  CUSTOM_HID='Setup Question\t= Custom HID\r\nToken\t=71B\t// Do NOT change this line\r\nOffset\t=22D\r\nValue\t="INT33D5"\r\n\r\n'
  for pair in "real03 real01" "real01 real03"; do
    set -- $pair
    begin_case "real scripts: a machine of $1 flashed with $2 keeps every setting"
    use_simulator
    : >"$WORK/Exclude.txt"
    sim /sim-seed "$CORPUS/$1.txt" || fail "seeding the simulator with $1 failed"
    if [ "$1" = real03 ]; then
      printf "$CUSTOM_HID" >"$WORK/hid.txt"
      sim /i /s hid.txt || fail "the simulator refused the text"
    fi
    run_nvram -s db old.txt
    expect_status 0
    sim /sim-seed "$CORPUS/$2.txt" || fail "seeding the simulator with $2 failed"
    run_nvram -s db new.txt
    sum_before=$(md5sum <"$WORK/new.txt")
    run_nvram -u old.txt new.txt
    expect_status 0
    [ "$(md5sum <"$WORK/new.txt")" = "$sum_before" ] || fail "the new script was changed"
    [ -s "$WORK/Difftemp.ini" ] || fail "no differences between two different real scripts"
    run_nvram -c old.txt
    expect_status 0
    run_nvram -c merged.txt
    expect_status 0
    run_nvram -c new.txt
    expect_status 6
    if [ "$1" = real03 ]; then
      grep -a -A3 $'^Token\t=71B\t' "$WORK/sim-machine/settings.txt" | grep -q $'^Value\t="INT33D5"\r$' ||
        fail "the text of the second Custom HID did not arrive"
      [ "$(grep -a -c '"INT33D5"' "$WORK/sim-machine/settings.txt")" = 1 ] || fail "INT33D5 landed on another question"
    fi
  done

  begin_case "real scripts: another board's script is no match for the machine"
  use_simulator
  : >"$WORK/Exclude.txt"
  sim /sim-seed "$CORPUS/real01.txt"
  cp "$CORPUS/real02.txt" "$WORK/small.txt"
  run_nvram -c small.txt
  expect_status 3
  expect_stdout 'Error, no question of small.txt is in the live settings\r\n'
fi

finish
