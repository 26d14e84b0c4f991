#!/bin/bash
# The playbooks of contrib/ansible, run for real against a fleet of simulated machines on this one
# machine: every host is a directory holding its own SCELNX_64 (the simulator) and its own
# simulated machine state. Some hosts are drifted, some fail in different ways, one cannot be
# reached. Checked host by host: check mode, compare, export, update, HDD priority and password.
#
# Usage: tests/fleet/run.sh [BUILD_DIR]    (default: the build directory of this source tree)
# Exits 77 with a SKIP: line when ansible-playbook is not installed. KEEP=1 keeps the scratch
# directory (the playbooks' logs, the summaries and the hosts) for a look afterwards.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$here/../../build}" 2>/dev/null && pwd) || { echo "no build directory ${1:-$here/../../build}"; exit 1; }
playbooks="$top/contrib/ansible"

command -v ansible-playbook >/dev/null || { echo "SKIP: ansible-playbook is not installed"; exit 77; }
for f in NVRAM nvram-diff tools/SCELNX_64; do
  [ -x "$build/$f" ] || { echo "no $build/$f: build the default preset first"; exit 1; }
done

# A blank in the path checks that no name goes through a shell on the way.
work=$(mktemp -d "${TMPDIR:-/tmp}/nvram fleet.XXXXXX")
trap 'if [ -n "${KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi' EXIT
unset SCELNX_SIM_STATE SCELNX_SIM_LOG
export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_HOME="$work/ansible-home"
export ANSIBLE_LOCAL_TEMP="$work/ansible-home/tmp" ANSIBLE_REMOTE_TMP="$work/ansible-home/remote"
export ANSIBLE_FORKS=5 ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_HOST_KEY_CHECKING=0
export ANSIBLE_SSH_ARGS="-o ConnectTimeout=3" ANSIBLE_DISPLAY_SKIPPED_HOSTS=0
: >"$ANSIBLE_CONFIG"
PYTHON=$(head -1 "$(command -v ansible-playbook)" | sed -n 's/^#! *\([^ ]*\).*/\1/p')
[ -x "${PYTHON:-}" ] || PYTHON=python3

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
sim_path="$top/tools/fake-bin:$PATH"
nvram() { (cd "$1" && shift && PATH="$sim_path" "$build/NVRAM" "$@"); }
sim() { (cd "$1" && shift && ./SCELNX_64 "$@"); }
question() {  # question NAME TOKEN OFFSET CODE: a one-question script choosing option CODE of 00/01
  local off='' on='*'
  [ "$4" = 00 ] && { off='*'; on=''; }
  printf '%s\r\n' "Setup Question	= $1" "Token	=$2	// Do NOT change this line" "Offset	=$3" \
    "Options	=${off}[00]Disabled" "         ${on}[01]Enabled" ''
}

# --- The fleet --------------------------------------------------------------------------------
# h01-h14 and h22 match the golden script; h15-h18 drift; h19's tool fails; h20 is another
# platform; h21 has no working directory; h22's tool claims imports it never makes; "offline"
# cannot be reached.
hosts="$work/hosts"
mkdir -p "$hosts" "$work/golden"
cp "$build/tools/SCELNX_64" "$work/golden/"
nvram "$work/golden" -s bios.db golden.txt >/dev/null || { echo "cannot make the golden script"; exit 1; }
sim "$work/golden" /sim-new-bios "$work/new.txt" || { echo "cannot make the new release"; exit 1; }
for i in $(seq -w 1 22); do
  [ "$i" = 21 ] && continue
  mkdir "$hosts/h$i"
  cp "$build/tools/SCELNX_64" "$hosts/h$i/"
  sim "$hosts/h$i" /o /s first.txt && rm "$hosts/h$i/first.txt" || { echo "simulator failed"; exit 1; }
done
question 'Quiet Boot' 12 03 01 >"$work/quiet.txt"
question 'Virtualization Technology' 26 15 00 >"$work/vt.txt"
question 'Fast Boot' 14 04 00 >"$work/fast.txt"
for change in h15:quiet h16:quiet h17:quiet h17:vt h18:fast; do
  sim "$hosts/${change%:*}" /i /s "$work/${change#*:}.txt" || { echo "cannot drift $change"; exit 1; }
done
printf '#!/bin/sh\necho "setup tool: hardware access failed" >&2\nexit 1\n' >"$hosts/h19/SCELNX_64"
printf 'XC0A12\n' >"$hosts/h20/sim-machine/version"
mv "$hosts/h22/SCELNX_64" "$hosts/h22/SCELNX_64.sim"
printf '#!/bin/sh\n[ "$1" = /i ] && [ "$3" = /s ] && exit 0\nexec ./SCELNX_64.sim "$@"\n' \
  >"$hosts/h22/SCELNX_64"
chmod +x "$hosts/h19/SCELNX_64" "$hosts/h22/SCELNX_64"

{
  echo "all:"
  echo "  vars: {ansible_connection: local, ansible_python_interpreter: '$PYTHON'}"
  echo "  hosts:"
  for i in $(seq -w 1 22); do echo "    h$i: {nvram_workdir: '$hosts/h$i'}"; done
  echo "    offline: {ansible_connection: ssh, ansible_host: 127.0.0.1, ansible_port: 1,"
  echo "              nvram_workdir: /nonexistent}"
} >"$work/inventory.yml"
"$PYTHON" -c 'import json, sys; print(json.dumps({"nvram_local_bin": sys.argv[1],
  "nvram_environment": {"PATH": sys.argv[2]}, "nvram_output_dir": sys.argv[3],
  "nvram_golden": sys.argv[4], "nvram_update_new": sys.argv[5]}))' \
  "$build/NVRAM" "$sim_path" "$work/out" "$work/golden/golden.txt" "$work/new.txt" >"$work/vars.json"
"$PYTHON" - "$work/vars.json" "$build/nvram-diff" <<'EOF'
import json, sys
v = json.load(open(sys.argv[1]))
v["nvram_diff_local_bin"] = sys.argv[2]
json.dump(v, open(sys.argv[1], "w"))
EOF

# play PLAYBOOK WANT_STATUS [ARGS...]: runs a playbook; its output goes to $work/PLAYBOOK.log.
play() {
  local book=$1 want=$2 got start=$SECONDS
  shift 2
  ansible-playbook -i "$work/inventory.yml" -e "@$work/vars.json" "$playbooks/$book.yml" "$@" \
    >"$work/$book.log" 2>&1
  got=$?
  echo "$book $*: exit $got, $((SECONDS - start)) s"
  if [ "$got" != "$want" ]; then
    fail "$book exited $got, expected $want; its output:"
    cat "$work/$book.log"
  fi
}
# summary ACTION 'HOST OUTCOME STATUS' ...: the summary's rows, in the table's order.
summary() {
  local action=$1
  shift
  "$PYTHON" - "$work/out/$action-summary.json" "$@" <<'EOF' || fail "$action summary"
import json, sys
summary = json.load(open(sys.argv[1]))
got = ["%s %s %s" % (h["host"], h["outcome"], "-" if h["status"] is None else h["status"])
       for h in summary["hosts"]]
want = sys.argv[2:]
for line in sorted(set(got) ^ set(want)):
    print(("unexpected: " if line in got else "missing:    ") + line)
ok = sorted(got) == sorted(want)
if ok and got != want:
    print("rows out of order:", got)
    ok = False
if any("\r" in d for h in summary["hosts"] for d in h["detail"]):
    print("a carriage return in a detail line")
    ok = False
sys.exit(0 if ok else 1)
EOF
}
# detail ACTION HOST 'LINE' ...: the detail lines of one host, exactly.
detail() {
  local action=$1 host=$2
  shift 2
  "$PYTHON" - "$work/out/$action-summary.json" "$host" "$@" <<'EOF' || fail "$action detail of $host"
import json, sys
rows = {h["host"]: h for h in json.load(open(sys.argv[1]))["hosts"]}
got, want = rows[sys.argv[2]]["detail"], sys.argv[3:]
if got != want:
    print("detail of %s:\n  got  %r\n  want %r" % (sys.argv[2], got, want))
    sys.exit(1)
EOF
}
rows() {  # rows OUTCOME STATUS HOST...: the expected summary rows of several hosts
  local outcome=$1 status=$2
  shift 2
  for h in "$@"; do echo "$h $outcome $status"; done
}
# failed_hosts BOOK HOST...: the hosts that the play recap of BOOK shows as failed, exactly.
failed_hosts() {
  local book=$1 got
  shift
  got=$(sed -n 's/^\([^ ]*\) *:.* failed=[1-9].*/\1/p' "$work/$book.log" | LC_ALL=C sort | xargs)
  [ "$got" = "$*" ] || fail "$book: failed hosts '$got', expected '$*'"
}
snapshot() { (cd "$hosts" && find . -printf '%p %s %m %T@\n' | LC_ALL=C sort); }
matching=$(seq -f 'h%02g' 1 14; echo h22)
failed_rows=("h19 failed 1" "h20 failed 5" "h21 failed -" "offline failed -")

# Every playbook parses, with the example inventory.
ansible-playbook --syntax-check -i "$playbooks/inventory.example.yml" \
  "$playbooks"/{nvram,compare,export,update,password_get,password_set,hdd_get,hdd_set}.yml \
  >"$work/syntax.log" 2>&1 ||
  { fail "syntax check"; cat "$work/syntax.log"; }

# --- Check mode: nothing happens on the hosts, nothing is written ------------------------------
before=$(snapshot)
play compare 2 --check --limit 'h01,h15,h19,h21'
[ "$(snapshot)" = "$before" ] || fail "check mode changed the hosts"
[ -e "$work/out" ] && fail "check mode wrote $work/out"
[ "$(grep -c '"check-only   ' "$work/compare.log")" = 3 ] || fail "three check-only rows in the shown summary"
grep -q '"failed  *h21  *Give up on a host without the tool | no SCELNX_64 in' "$work/compare.log" ||
  fail "check mode did not find h21's missing tool"
failed_hosts compare h21
# A golden script named like NVRAM's own merged script would be overwritten: refused.
play compare 2 --limit h01 -e nvram_golden_name=merged.txt
summary compare 'h01 failed -'
detail compare h01 'Check the names of the files on the host' "the file names sent to or made on the host (nvram_*_name: now merged.txt, saved.txt, dumped.txt, new.txt, password.bin, hdd-priority.bin) must be plain names whose parts before the first '.' differ from each other and from temp, biostemp, merged, Difftemp, Exclude, pwd, hdd, t01, t02, NVRAM, nvram-diff, SCELNX_64"

# --- Compare ----------------------------------------------------------------------------------
play compare 2
mapfile -t want < <(printf '%s\n' "${failed_rows[@]}"; rows drifted 6 h15 h16 h17 h18
  rows matching 0 $matching)
summary compare "${want[@]}"
detail compare h15 'ERROR:Saved value for QuietBoot is 00' 'BIOS value for QuietBoot is 01' \
  'Quiet Boot: saved Disabled [00], live Enabled [01]'
detail compare h17 'ERROR:Saved value for QuietBoot is 00' 'BIOS value for QuietBoot is 01' \
  'ERROR:Saved value for VirtualizationTechnology is 01' 'BIOS value for VirtualizationTechnology is 00' \
  'Quiet Boot: saved Disabled [00], live Enabled [01]' \
  'Virtualization Technology: saved Enabled [01], live Disabled [00]'
detail compare h18 'ERROR:Saved value for FastBoot is 01' 'BIOS value for FastBoot is 00' \
  'Fast Boot: saved Enabled [01], live Disabled [00]'
"$PYTHON" - "$work/out/compare-summary.json" <<'EOF' || fail "the differing questions of h17 in the JSON summary"
import json, sys
rows = {h["host"]: h for h in json.load(open(sys.argv[1]))["hosts"]}
assert rows["h17"]["questions"] == [
    {"question": "Quiet Boot", "was": None, "status": "changed", "saved": "Disabled [00]", "live": "Enabled [01]"},
    {"question": "Virtualization Technology", "was": None, "status": "changed", "saved": "Enabled [01]",
     "live": "Disabled [00]"}], rows["h17"]["questions"]
assert rows["h01"]["questions"] == [] and "questions" not in rows["h19"], (rows["h01"], rows["h19"])
EOF
detail compare h01
detail compare h19 'NVRAM -c golden.txt' 'Error occurred during BIOS setting operation!' \
  'setup tool: hardware access failed'
detail compare h20 'NVRAM -c golden.txt' 'This utility has to run in Vornel!'
detail compare h21 'Give up on a host without the tool' "no SCELNX_64 in $hosts/h21"
csv="$work/out/compare-summary.csv"
[ "$(wc -l <"$csv")" = 24 ] || fail "the CSV summary should have a header and 23 rows"
grep -qx '"h17","drifted","6","ERROR:Saved value for QuietBoot is 00 | BIOS value for QuietBoot is 01 | ERROR:Saved value for VirtualizationTechnology is 01 | BIOS value for VirtualizationTechnology is 00 | Quiet Boot: saved Disabled \[00\], live Enabled \[01\] | Virtualization Technology: saved Enabled \[01\], live Disabled \[00\]"' "$csv" ||
  fail "h17's CSV row"
grep -q '"failed  *1  *h19  *NVRAM -c golden.txt | Error occurred' "$work/compare.log" ||
  fail "h19's row in the shown table"
failed_hosts compare h19 h20 h21 offline
cmp -s "$hosts/h01/Exclude.txt" "$playbooks/roles/nvram/files/Exclude.txt" || fail "Exclude.txt not shipped"

# A gate on drift, and an exclusion list that hides Quiet Boot: h15 and h16 match again.
printf '// ignored on this line\nQuiet Boot\n' >"$work/exclude.txt"
play compare 2 --limit 'h15,h16,h17' -e "{\"nvram_exclude_file\": \"$work/exclude.txt\"}" \
  -e '{"nvram_fail_on": ["drifted"]}'
summary compare 'h17 drifted 6' 'h15 matching 0' 'h16 matching 0'
failed_hosts compare h17

# --- Export -----------------------------------------------------------------------------------
play export 2 --limit 'h01,h02,h15,h17,h19,h21,h22'
summary export 'h19 failed 1' 'h21 failed -' 'h01 exported 0' 'h02 exported 0' 'h15 exported 0' \
  'h17 exported 0' 'h22 exported 0'
ex="$work/out/export"
detail export h02 "$ex/h02/saved.txt"
[ "$(head -n 2 "$ex/h02/saved.txt")" = "$(printf '// Script File Name : saved.txt\n// BIOS_VERSION = XB0A12')" ] ||
  fail "the fetched script is not the stamped export"
cmp -s "$ex/h01/saved.txt" "$ex/h22/saved.txt" || fail "h01 and h22 export different settings"
cmp -s "$ex/h01/saved.txt" "$ex/h15/saved.txt" && fail "h15's drift is missing from its export"
[ -e "$ex/h19" ] && fail "a folder was made for h19, whose export failed"

# --- Update to a new release ------------------------------------------------------------------
# h01, h15, h17 and h22 are flashed with the release of new.txt; each host's own export is its
# dumped script (h19's, whose tool broke since, is h01's). h22's tool says the import worked but
# changes nothing.
mkdir "$ex/h19" && cp "$ex/h01/saved.txt" "$ex/h19/"
for h in h01 h15 h17 h22; do sim "$hosts/$h" /sim-flash || fail "cannot flash $h"; done
play update 2 --limit 'h01,h03,h15,h17,h19,h22'
summary update 'h03 failed -' 'h19 failed 1' 'h22 mismatched 6' 'h01 updated 0' 'h15 updated 0' \
  'h17 updated 0'
detail update h03 'Copy the dumped and the new script' \
  "Could not find or access '$ex/h03/saved.txt' on the Ansible Controller." \
  'If you are using a module and expect the file to exist on the remote, see the remote_src option'
grep -q '{QuietBoot},\[[0-9]*\],<01>' "$hosts/h15/Difftemp.ini" || fail "h15's Quiet Boot was not carried over"
nvram "$hosts/h15" -c "$ex/h15/saved.txt" | grep -q 'QuietBoot' && fail "h15 lost its Quiet Boot setting"
"$PYTHON" - "$work/out/update-summary.json" <<'EOF' || fail "update details"
import json, re, sys
rows = {h["host"]: h["detail"] for h in json.load(open(sys.argv[1]))["hosts"]}
counts = {h: int(re.fullmatch(r"carried over (\d+) questions", rows[h][0]).group(1))
          for h in ("h01", "h15", "h17")}
assert counts["h01"] > 0 and counts["h15"] == counts["h01"] + 1 == counts["h17"] - 1, counts
assert rows["h22"] and all(re.match(r"(ERROR:Saved|BIOS) value for ", l) for l in rows["h22"]), rows["h22"]
EOF
grep -q 'changed: \[h15\]' "$work/update.log" || fail "the import was not reported as a change"

# --- HDD priority and password ----------------------------------------------------------------
play hdd_get 2 --limit 'h01,h02,h19'
summary hdd_get 'h19 failed 1' 'h01 fetched 0' 'h02 fetched 0'
vars="$work/out/variables"
grep -q '^VARIABLE_NAME = QZBBootSataNumDataGuid' "$vars/h02/hdd-priority.bin" || fail "h02's HDD priority file"
sed -i 's/^VARIABLE_DATA = 04 00 00 00 00 01 02 03\r$/VARIABLE_DATA = 04 00 00 00 03 02 01 00\r/' "$vars/h02/hdd-priority.bin"
play hdd_set 0 --limit 'h01,h02'
summary hdd_set 'h01 set 0' 'h02 set 0'
grep -q 'changed: \[h02\]' "$work/hdd_set.log" || fail "setting the HDD priority was not a change"
[ "$(od -An -tx1 "$hosts"/h02/sim-machine/vars/QZBBootSataNumDataGuid-* | tr -d ' \n')" = 0400000003020100 ] ||
  fail "h02's HDD priority was not set"
[ "$(od -An -tx1 "$hosts"/h01/sim-machine/vars/QZBBootSataNumDataGuid-* | tr -d ' \n')" = 0400000000010203 ] ||
  fail "h01's HDD priority changed"

play password_get 0 --limit h03
[ "$(stat -c %a "$vars/h03" "$vars/h03/password.bin" | xargs)" = "700 600" ] ||
  fail "the fetched password file is readable by others"
grep -q '^VARIABLE_DATA = ' "$vars/h03/password.bin" || fail "h03's password file"
play password_set 2 --limit 'h03,h04'
summary password_set "h04 failed -" 'h03 set 0'
grep -q 'Could not find or access' "$work/out/password_set-summary.json" || fail "h04 had no password file to send"

if [ "$failures" = 0 ]; then
  echo "fleet: all checks passed in $SECONDS s"
else
  echo "fleet: $failures checks FAILED"
  exit 1
fi
