#!/bin/bash
# A guided walk through NVRAM's main jobs on the simulated platform, in a scratch directory:
# save the settings, change one on the "machine", find the difference, carry the saved settings
# into a new BIOS release, check the flashed machine against the saved settings, and get and set
# the HDD boot priority.
# Prints each command before it runs; exits 0 when every step did what it should.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
echo "== Building NVRAM and the simulated platform (the first time a minute or two)"
"$top/tools/deps.sh" || exit 1
# One line per file compiled; the whole output only when the build fails.
build_log=$(mktemp "${TMPDIR:-/tmp}/nvram-demo-build.XXXXXX")
if ! { cmake --preset default -S "$top" && cmake --build "$build" -j2 --target NVRAM scelnx_sim; } 2>&1 |
  tee "$build_log" | sed -un 's|^\[[ 0-9/%]*\] Building CXX object .*/\([^/]*\)\.o$|  compiling \1|p'; then
  cat "$build_log"
  rm -f "$build_log"
  exit 1
fi
rm -f "$build_log"
echo "== Built in $SECONDS s"

work=$(mktemp -d "${TMPDIR:-/tmp}/nvram-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$build/tools/SCELNX_64" ./SCELNX_64
export PATH="$top/tools/fake-bin:$PATH"
unset SCELNX_SIM_STATE
echo "== Working in a scratch directory, with the simulated tool as ./SCELNX_64"

failures=0
steps=0
# run WANT_STATUS COMMAND...: runs one step and checks its exit status.
run() {
  local want=$1
  shift
  steps=$((steps + 1))
  echo
  echo "\$ $*"
  "$@"
  local got=$?
  if [ "$got" = "$want" ]; then
    echo "[exit status $got, as expected]"
  else
    echo "[exit status $got, expected $want]"
    failures=$((failures + 1))
  fi
}
nvram() { "$build/NVRAM" "$@"; }
show() { echo "--- $1 (first $2 lines) ---"; head -n "$2" "$1" | tr -d '\r'; echo "---"; }

run 0 nvram -v
run 0 nvram -s bios.db saved.txt
show saved.txt 3

echo
echo "== Changing a setting on the machine: Quiet Boot becomes Enabled"
printf '%s\r\n' 'Setup Question	= Quiet Boot' 'Token	=12	// Do NOT change this line' 'Offset	=03' \
  'Options	=[00]Disabled' '         *[01]Enabled' '' >quiet.txt
run 0 ./SCELNX_64 /i /s quiet.txt
printf '// Questions whose values may differ\r\n' >Exclude.txt
run 6 nvram -c saved.txt

echo
echo "== A new BIOS release arrives; its setup script is new.txt, and the machine is flashed with it"
run 0 ./SCELNX_64 /sim-new-bios new.txt
run 0 ./SCELNX_64 /sim-flash
run 0 nvram -v
run 0 nvram -u saved.txt new.txt
echo "Difftemp.ini holds $(wc -l <Difftemp.ini) values carried over from saved.txt"
run 0 nvram -c merged.txt
echo
echo "== Every setting saved before the update survived it: repeated questions, texts, numbers"
run 0 nvram -c saved.txt

echo
echo "== The HDD boot priority"
run 0 nvram -g hdd.bin
run 0 nvram -j hdd.bin

echo
if [ "$failures" = 0 ]; then
  echo "Walk complete: all $steps steps did what they should."
else
  echo "Walk FAILED: $failures of $steps steps did not do what they should."
  exit 1
fi
