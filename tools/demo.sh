#!/bin/bash
# Builds NVRAM and runs its main job on a fake platform in a scratch directory: a dmidecode that
# prints XB0A12 and a setup-control tool stand-in that exports a small setup script.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake --preset default -S "$top" >/dev/null
cmake --build "$top/build" -j2 --target NVRAM >/dev/null
nvram="$top/build/NVRAM"

work=$(mktemp -d "${TMPDIR:-/tmp}/nvram-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/fake/bin" "$work/run"
export FAKE_DIR="$work/fake"
cp "$top/tests/e2e/fake_dmidecode.sh" "$FAKE_DIR/bin/dmidecode"
cp "$top/tests/e2e/fake_tool.sh" "$work/run/SCELNX_64"
chmod +x "$FAKE_DIR/bin/dmidecode" "$work/run/SCELNX_64"
printf 'XB0A12\n' >"$FAKE_DIR/version"
printf '%s\r\n' '// Script File Name : temp.txt' '// exported settings' '' \
  'Setup Question	= Quiet Boot' 'Token	=18	// Do NOT change this line' \
  'BIOS Default	=[00]Disabled ' 'Options	=*[00]Disabled	// Move "*" to the desired Option' \
  '         [01]Enabled' '' 'Setup Question	= Boot Timeout' 'BIOS Default	=1' 'Value	=5' '' \
  >"$FAKE_DIR/export"

cd "$work/run"
export PATH="$FAKE_DIR/bin:$PATH"
step() {
  echo "\$ NVRAM $*"
  set +e
  "$nvram" "$@"
  echo "[exit status $?]"
  set -e
  echo
}
step -v
step -s bios.db saved.txt
echo "--- saved.txt ---"
cat saved.txt
echo "-----------------"
step -g hdd.bin
echo "files now: $(ls | tr '\n' ' ')"
