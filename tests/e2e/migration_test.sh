#!/bin/bash
# A board's settings carried between its two real releases on the simulated platform, with the
# settings that people tune by hand changed first: keys holding '>', '[' and ']', and names that
# carry a live reading (a voltage, a memory timing) and so differ between the two exports.
. "$(dirname "$0")/lib.sh"
corpus_or_skip || { finish; exit; }

# The settings changed on the old machine: the Setup line's pattern, which of its questions, the
# new value as the Value line writes it, and the key that -c reports it under (as written in
# record lines; digits of a live reading left to the pattern).
CHANGES=(
  '= D0->D3 idle timeout \(screen off\)$|1|<300>|D0-%3ED3idletimeout(screenoff)'
  '= D0->D3 idle timeout \(screen on\)$|2|<90>|D0-%3ED3idletimeout(screenon)'
  '= +Firmware Hash \[63:0\] *$|1|1234|FirmwareHash%5B63:0%5D'
  '= DRAM Voltage +[0-9.]+V$|1|<1350>|DRAMVoltage[0-9.]*V'
  '= tCL +[0-9]+$|1|<40>|tCL[0-9]*'
  '= tCL +[0-9]+$|2|<42>|tCL[0-9]*'
  '= Custom HID$|2|"INT33D5"|CustomHID'
)

# The N-th question of FILE whose Setup line matches PATTERN, with its Value set to VALUE.
change_script() {  # change_script FILE PATTERN N VALUE
  LC_ALL=C awk -v pat="$2" -v n="$3" -v val="$4" '
    { sub(/\r$/, "") }
    /^Setup Question/ { hit = ($0 ~ pat) && ++seen == n; if (hit) printf "%s\r\n", $0; next }
    hit && /^(Token|Offset)/ { printf "%s\r\n", $0 }
    hit && /^$/ { printf "Value\t=%s\r\n\r\n", val; hit = 0 }' "$1"
}

# Every question with its Token and Offset (and how many before it had them) and its setting: the
# option marked '*' or the Value text.
settings_by_place() {
  LC_ALL=C awk '
    { sub(/\r$/, "") }
    function put() { if (t != "" && o != "") { k = t "|" o; print k "#" (++n[k]) " " v } t = o = v = "" }
    /^Setup Question/ { put() }
    /^Token/ { t = $0; sub(/^[^=]*=[ \t]*/, "", t); sub(/[ \t\/].*/, "", t) }
    /^Offset/ { o = $0; sub(/^[^=]*=[ \t]*/, "", o); sub(/[ \t\/].*/, "", o) }
    /^Value/ { v = $0; sub(/^[^=]*=[ \t]*/, "", v); sub(/[ \t]*$/, "", v) }
    /\*\[/ { v = $0; sub(/^.*\*\[/, "", v); sub(/\].*/, "", v) }
    END { put() }' "$1" | LC_ALL=C sort
}

for pair in "real03 real01" "real01 real03"; do
  set -- $pair
  begin_case "the hand-tuned settings of $1 survive the update to $2"
  use_simulator
  : >"$WORK/Exclude.txt"
  sim /sim-seed "$CORPUS/$1.txt" || fail "seeding the simulator with $1 failed"
  for c in "${CHANGES[@]}"; do
    IFS='|' read -r pattern nth value key <<<"$c"
    change_script "$CORPUS/$1.txt" "$pattern" "$nth" "$value" >"$WORK/change.txt"
    grep -q '^Value' "$WORK/change.txt" || fail "no question $nth for $pattern"
    sim /i /s change.txt || fail "the simulator refused $value for $pattern"
  done
  run_nvram -s db old.txt
  sim /sim-seed "$CORPUS/$2.txt" || fail "seeding the simulator with $2 failed"
  run_nvram -s db new.txt

  # Before the update every changed setting is reported.
  run_nvram -c old.txt
  expect_status 6
  for c in "${CHANGES[@]}"; do
    IFS='|' read -r pattern nth value key <<<"$c"
    value=${value#<}
    grep -a -q "^ERROR:Saved value for $key is ${value%>}"$'\r$' "$OUT_FILE" ||
      fail "-c does not report $key = $value"
  done

  run_nvram -u old.txt new.txt
  expect_status 0
  grep -a -q 'Not carried' "$OUT_FILE" && fail "-u did not carry everything: $(grep -a 'Not carried' "$OUT_FILE")"
  run_nvram -c old.txt
  expect_status 0
  grep -a -q '^ERROR' "$OUT_FILE" && fail "-c still reports: $(grep -a -A1 '^ERROR' "$OUT_FILE")"

  # Checked without NVRAM's pairing: every old setting stands at its Token and Offset (where the
  # new release has the question at all).
  settings_by_place "$WORK/old.txt" >"$WORK/old.places"
  settings_by_place "$WORK/sim-machine/settings.txt" >"$WORK/now.places"
  missing=$(LC_ALL=C awk 'NR == FNR { now[$1] = $0; next } ($1 in now) && now[$1] != $0' \
    "$WORK/now.places" "$WORK/old.places")
  [ -z "$missing" ] || fail "settings lost by Token and Offset: $(head -5 <<<"$missing")"
done

finish
