#!/bin/bash
# End-to-end checks of the simulated SCELNX_64 and the fake dmidecode.
# usage: sim_test.sh GROUP SCELNX_64 TOOLS_DIR SHARED_DIR
# Each GROUP is one CTest test; exit 77 means skipped.
set -u
group=$1 SIM=$2 TOOLS=$3 SHARED=$4
DMI=$TOOLS/fake-bin/dmidecode MACHINE=$TOOLS/sim/machine
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
unset SCELNX_SIM_STATE SCELNX_SIM_LOG

fail() { echo "FAIL (line ${BASH_LINENO[0]}): $*" >&2; exit 1; }
crlf() { printf '%s\r\n' "$@"; }

# edit FILE NAME NTH FROM TO: in the NTH question called NAME, the first line that reads FROM
# (line end aside) becomes TO (awk escapes such as \t, \r and \n apply to FROM and TO).
edit() {
  awk -v name="$2" -v nth="$3" -v from="$4" -v to="$5" '
    { line = $0; sub(/\r+$/, "", line) }
    /^Setup Question/ { hit = substr(line, index(line, "=") + 2) == name; n += hit; inq = hit && n == nth }
    inq && !done && line == from { printf "%s", to; done = 1; next }
    { print }
    END { if (!done) exit 1 }' "$1" > "$1.tmp" && mv "$1.tmp" "$1" || fail "no line '$4' in $2 #$3"
}

# refused ARGS...: exit code 1, one line on stderr, and the state directory unchanged.
refused() {
  rm -rf snap && cp -r sim-machine snap
  "$SIM" "$@" > out 2> err
  local rc=$?
  [ $rc -eq 1 ] || fail "exit code $rc for: $*"
  [ "$(wc -l < err)" -eq 1 ] || fail "not one line on stderr for: $*"
  [ ! -s out ] || fail "output on stdout for: $*"
  diff -r snap sim-machine > /dev/null || fail "state changed by: $*"
}

export_script() { "$SIM" /o /s "$1" > /dev/null || fail "export to $1"; }

# imports FILE into a fresh copy of the default machine; the result is compared with EXPECTED.
import_gives() {
  rm -rf sim-machine && cp -r pristine sim-machine
  "$SIM" /i /q /s "$1" || fail "import of $1"
  cmp -s sim-machine/settings.txt "$2" || { diff "$2" sim-machine/settings.txt | head; fail "import of $1"; }
}

setup_default() {
  "$SIM" /o /s temp.txt /h db.bin || fail "first run"
  cp -r sim-machine pristine
  cp sim-machine/settings.txt settings.orig
}

case $group in
export)
  setup_default
  [ -f sim-machine/version ] && [ -d sim-machine/vars ] || fail "state directory not created"
  cmp -s sim-machine/settings.txt "$MACHINE/settings.txt" || fail "state not seeded from the machine"
  [ "$(head -n 1 temp.txt)" = $'// Script File Name : temp.txt\r' ] || fail "header line"
  cmp -s <(tail -n +2 temp.txt) <(tail -n +2 settings.orig) || fail "export differs from the settings"
  [ -s db.bin ] || fail "no database file"
  mkdir sub && "$SIM" /O /S sub/x.txt && [ "$(head -n 1 sub/x.txt)" = $'// Script File Name : sub/x.txt\r' ] ||
    fail "upper-case switches or a name with a directory"
  SCELNX_SIM_STATE=$scratch/other "$SIM" /o /s y.txt && [ -f other/settings.txt ] || fail "SCELNX_SIM_STATE"
  SCELNX_SIM_LOG=log "$SIM" /o /s 'a b.txt' '' /h t.db && [ "$(cat log)" = '/o /s "a b.txt" "" /h t.db' ] ||
    fail "log of the argument words: $(cat log)"
  # The fake dmidecode.
  rm -rf sim-machine
  [ "$("$DMI" -s bios-version)" = XB0A12 ] || fail "dmidecode without state"
  mkdir sim-machine && printf 'XB0A99\n' > sim-machine/version
  [ "$("$DMI" -s bios-version)" = XB0A99 ] || fail "dmidecode version file"
  : > sim-machine/version
  [ -z "$("$DMI" -s bios-version)" ] || fail "dmidecode empty version file"
  "$DMI" -s system-version 2> /dev/null && fail "dmidecode other question"
  ;;
import)
  setup_default
  # Round trip: import of an unchanged export changes no byte.
  "$SIM" /i /s temp.txt || fail "import of the export"
  cmp -s sim-machine/settings.txt settings.orig || fail "round trip changed the settings"
  export_script again.txt && cmp -s <(tail -n +2 again.txt) <(tail -n +2 temp.txt) || fail "second export"
  # Each change below, written as the merge writes it, changes exactly that question.
  move='\t// Move "*" to the desired Option'
  check_change() {  # NAME NTH FILE-FROM FILE-TO MACHINE-FROM MACHINE-TO [FILE-FROM FILE-TO MACHINE-FROM MACHINE-TO]
    local name=$1 nth=$2; shift 2
    cp temp.txt in.txt && cp settings.orig want.txt
    while [ $# -gt 0 ]; do
      edit in.txt "$name" "$nth" "$1" "$2" && edit want.txt "$name" "$nth" "$3" "$4"; shift 4
    done
    import_gives in.txt want.txt
  }
  check_change "Quiet Boot" 1 "Options\t=*[00]Disabled$move" "Options\t= [00]Disabled$move\r\n" \
    "Options\t=*[00]Disabled$move" "Options\t=[00]Disabled$move\r\n" \
    "         [01]Enabled" "        *[01]Enabled\r\n" "         [01]Enabled" "         *[01]Enabled\r\n"
  check_change "Wake on LAN" 1 "Options\t=[00]Disabled$move" "Options=*[00]Disabled$move\r\n" \
    "Options\t=[00]Disabled$move" "Options\t=*[00]Disabled$move\r\n" \
    "         *[01]Enabled" "          [01]Enabled\r\n" "         *[01]Enabled" "         [01]Enabled\r\n"
  check_change "Setup Prompt Timeout" 1 "Value\t=<5>" "Value\t=7\n" "Value\t=<5>" "Value\t=<7>\r\n"
  check_change "Turbo Ratio Limit" 1 "Value\t=2A2A2C2C" "Value =ff\n" "Value\t=2A2A2C2C" "Value\t=ff\r\n"
  check_change "Reset NVRAM" 1 "Value\t=0\t// Enabled = 1, Disabled = 0" "Value\t=1\n" \
    "Value\t=0\t// Enabled = 1, Disabled = 0" "Value\t=1\t// Enabled = 1, Disabled = 0\r\n"
  check_change "  ACPI Path Name" 2 'Value\t="\\_SB.PC00.XHCI.RHUB.HS05.PRT5"' 'Value\t="\\_SB.X // y"\r\n' \
    'Value\t="\\_SB.PC00.XHCI.RHUB.HS05.PRT5"' 'Value\t="\\_SB.X // y"\r\n'
  check_change "Memory Frequency" 1 "         *[0C80]3200 MHz" "         [0C80]3200 MHz\r\n" \
    "         *[0C80]3200 MHz" "         [0C80]3200 MHz\r\n" \
    "         [0A6A]2666 MHz" "        *[a6a]2666 MHz\r\n" "         [0A6A]2666 MHz" "         *[0A6A]2666 MHz\r\n"
  # Repeated names are told apart by Token and Offset, or by their order when a script has none.
  check_change ASPM 5 "         *[04]Auto" "         [04]Auto\r\n" "         *[04]Auto" "         [04]Auto\r\n" \
    "         [01]L0s" "         *[01]L0s\r\n" "         [01]L0s" "         *[01]L0s\r\n"
  cp in.txt tagged.txt && grep -av '^Token\|^Offset' tagged.txt > in.txt && import_gives in.txt want.txt
  # A script that holds one question sets that one and leaves the rest alone.
  awk '/^Setup Question/ { p = /= ASPM\r$/ && ++n == 5 } p' tagged.txt > one.txt && import_gives one.txt want.txt
  # A renamed question is found by its Token and Offset; one the machine lacks is passed over.
  cp temp.txt in.txt && edit in.txt "Quiet Boot" 1 "Setup Question\t= Quiet Boot" "Setup Question\t= Loud Boot\r\n" &&
    edit in.txt "Loud Boot" 1 "         [01]Enabled" "         *[01]Enabled\r\n" && cp in.txt renamed.txt &&
    cp settings.orig want.txt && edit want.txt "Quiet Boot" 1 "         [01]Enabled" "         *[01]Enabled\r\n" &&
    edit want.txt "Quiet Boot" 1 "Options\t=*[00]Disabled$move" "Options\t=[00]Disabled$move\r\n" &&
    import_gives renamed.txt want.txt
  edit in.txt "Loud Boot" 1 "Token\t=12\t// Do NOT change this line" "Token\t=FFF\r\n" && import_gives in.txt settings.orig
  # Commented-out questions are no questions.
  sed 's#^Setup Question\t= Fast Boot#// &#' temp.txt > in.txt && edit in.txt "Quiet Boot" 1 "         [01]Enabled" "         *[01]Enabled\r\n" &&
    cp settings.orig want.txt && edit want.txt "Quiet Boot" 1 "         [01]Enabled" "         *[01]Enabled\r\n" &&
    edit want.txt "Quiet Boot" 1 "Options\t=*[00]Disabled$move" "Options\t=[00]Disabled$move\r\n" &&
    import_gives in.txt want.txt
  ;;
refusals)
  setup_default
  for args in "" "/x" "/o" "/o /s" "/o /i /s f.txt" "/i /s temp.txt /h db" "/o /s f.txt /n x" \
      "/o /l pwd.lst" "/i /l pwd.lst /n x /rh r" "/o /s a /s b" "/i /s temp.txt /rh" "/sim-flash x"; do
    refused $args
  done
  crlf "[VARIABLE]" "VARIABLE_NAME = AMITSESetup" "VARIABLE_GUID = c811fa38-42c8-4579-a9bb-60e94eddfb34" > pwd.lst
  # A change that fits next to one that does not: nothing is imported.
  cp temp.txt bad.txt && edit bad.txt "Fast Boot" 1 "         *[01]Enabled" "         [01]Enabled\r\n" &&
    edit bad.txt "Quiet Boot" 1 "         [01]Enabled" "         *[07]Enabled\r\n"
  refused /i /s bad.txt
  cp temp.txt bad.txt && edit bad.txt "Setup Prompt Timeout" 1 "Value\t=<5>" "Value\t=?\n" && refused /i /s bad.txt
  cp temp.txt bad.txt && edit bad.txt "Turbo Ratio Limit" 1 "Value\t=2A2A2C2C" "Value\t=<12>\r\n" && refused /i /s bad.txt
  cp temp.txt bad.txt && edit bad.txt " Discrete Audio Offload Link" 1 "Options\t=" "Options\t=*[00]SSP\r\n" &&
    refused /i /s bad.txt
  cp temp.txt good.txt && edit good.txt "Quiet Boot" 1 "         [01]Enabled" "         *[01]Enabled\r\n"
  touch res.bin
  refused /i /q /s good.txt /rh missing.bin /rd res.bin
  refused /i /q /s good.txt /rh res.bin /rd missing.bin
  refused /i /s missing.txt
  : > empty.txt && refused /i /s empty.txt
  crlf "// Script File Name : x.txt" "HIICrc32= 1" "" > none.txt && refused /i /s none.txt
  grep -a '^//' temp.txt > none.txt && refused /i /s none.txt
  refused /sim-seed none.txt
  "$SIM" /i /q /s good.txt /rh res.bin /rd res.bin && ! cmp -s sim-machine/settings.txt settings.orig ||
    fail "the same import with its files present"
  # Variables the machine lacks, or data that does not name them.
  crlf "[VARIABLE]" "VARIABLE_NAME = Missing" "VARIABLE_GUID = c811fa38-42c8-4579-a9bb-60e94eddfb34" > miss.lst
  refused /o /l miss.lst /n out.txt /h t.db
  [ ! -e out.txt ] || fail "data file written for a missing variable"
  cp miss.lst data.txt && crlf "VARIABLE_DATA = 00" >> data.txt
  refused /i /l miss.lst /f /n data.txt
  crlf "[VARIABLE]" "VARIABLE_NAME = AMITSESetup" "VARIABLE_GUID = 00000000-42c8-4579-a9bb-60e94eddfb34" > guid.lst
  refused /o /l guid.lst /n out.txt
  refused /i /l pwd.lst /f /n data.txt
  refused /i /l pwd.lst /f /n missing.txt
  ;;
variables)
  setup_default
  crlf "[VARIABLE]" "VARIABLE_NAME = FBOSetDevOrder" "VARIABLE_GUID = 0c923ca9-df73-4ac8-b6d2-98ddc30d99fc" "" \
    "[VARIABLE]" "VARIABLE_NAME = QZBBootSataNumDataGuid" "VARIABLE_GUID = f67bdcdb-b493-49b7-9e01-bfa1294028ac" "" > hdd.lst
  "$SIM" /o /l hdd.lst /n out.txt /h t02.db && [ -s t02.db ] || fail "export of the variables"
  grep -q $'^VARIABLE_DATA = 04 00 00 00 00 01 02 03\r$' out.txt || fail "data of QZBBootSataNumDataGuid"
  sed -i 's/^VARIABLE_DATA = 04 00 00 00 00 01 02 03/VARIABLE_DATA = 02 00 00 00 01 00/' out.txt
  "$SIM" /i /l hdd.lst /f /n out.txt || fail "import of the variables"
  cmp -s sim-machine/vars/QZBBootSataNumDataGuid-f67bdcdb-b493-49b7-9e01-bfa1294028ac <(printf '\2\0\0\0\1\0') ||
    fail "variable not set"
  "$SIM" /o /l hdd.lst /n again.txt /h t02.db && cmp -s out.txt again.txt || fail "variables round trip"
  cmp -s sim-machine/settings.txt settings.orig || fail "settings changed by a variable command"
  ;;
corpus)
  [ -d "$SHARED/corpus/real" ] || { echo "SKIP: $SHARED/corpus/real is absent"; exit 77; }
  real=$SHARED/corpus/real
  values() {  # name|token|offset|current value of each question
    awk '{ sub(/\r+$/, "") } /^\/\// { next }
      /^Setup Question/ { if (q) print n "|" t "|" o "|" v; q = 1; n = $0; sub(/^[^=]*=[ \t]*/, "", n); t = o = v = "" }
      /^Token/ { t = $0; sub(/^[^=]*=/, "", t); sub(/[ \t].*/, "", t) }
      /^Offset/ { o = $0; sub(/^[^=]*=/, "", o) }
      /^Value/ { v = $0; sub(/^[^=]*=[ \t]*/, "", v); if (v !~ /^"/) sub(/[ \t].*/, "", v) }
      /\*\[/ { v = $0; sub(/^[^*]*\*\[/, "", v); sub(/\].*/, "", v) }
      END { if (q) print n "|" t "|" o "|" v }' "$1" | sort
  }
  for f in "$real"/*.txt; do  # each real export seeds a machine and survives a round trip
    rm -rf sim-machine && "$SIM" /sim-seed "$f" && export_script x.txt && "$SIM" /i /s x.txt &&
      cmp -s sim-machine/settings.txt "$f" || fail "round trip of $f"
  done
  "$SIM" /i /s "$real/real01.txt" || fail "import of real01 into real03"
  values "$real/real01.txt" > v1 && values "$real/real03.txt" > v3 && values sim-machine/settings.txt > vm
  awk -F'|' 'NR == FNR { k[$1 "|" $2 "|" $3]; next } ($1 "|" $2 "|" $3) in k' v3 v1 | sort > want
  [ -z "$(comm -23 want vm)" ] || fail "values of real01 not taken: $(comm -23 want vm | head -3)"
  cmp -s v1 vm && fail "real03 should keep the question real01 lacks"
  "$SIM" /i /s "$real/real03.txt" && cmp -s sim-machine/settings.txt "$real/real03.txt" || fail "back to real03"
  rm -rf sim-machine && "$SIM" /i /s "$real/real02.txt" && cmp -s sim-machine/settings.txt "$MACHINE/settings.txt" ||
    fail "real02 into the default machine"
  ;;
newbios)
  "$SIM" /sim-new-bios new.txt && cmp -s new.txt "$MACHINE/new-bios.txt" || fail "/sim-new-bios"
  "$SIM" /sim-flash && cmp -s sim-machine/settings.txt new.txt || fail "/sim-flash settings"
  [ "$("$DMI" -s bios-version)" = XB0A13 ] || fail "/sim-flash version"
  # The old machine's settings carried over by a script import (as an update would) are taken.
  "$SIM" /i /s "$MACHINE/settings.txt" || fail "old settings into the new release"
  ;;
*) fail "unknown group $group" ;;
esac
echo "PASS: $group"
