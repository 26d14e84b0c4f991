# Shared set-up for the end-to-end tests: every case runs the real NVRAM program in a scratch
# directory, with a fake dmidecode first on PATH and a fake ./SCELNX_64 that records its argument
# words and writes what the real tool would write.
#
# A test file sources this, then for each case:
#   begin_case "name"          fresh scratch directory ($WORK, the program's current directory)
#   set_version 'XB0A12\n'     what dmidecode prints (printf format); none: prints nothing
#   set_export 'bytes'         what the tool writes for "/o /s FILE" (printf format)
#   set_tool_exit 1            the tool's exit code
#   run_nvram ARGS...          runs the program; $STATUS, stdout in $OUT_FILE
#   expect_status / expect_stdout / expect_file / expect_no_file / expect_tool_words
#   read_only_work             makes $WORK read-only until the case ends (false where not possible)
# and finally calls finish, which prints "N passed, N failed" and sets the exit status.
set -u

: "${NVRAM_BIN:?NVRAM_BIN must name the program under test}"
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/nvram-e2e.XXXXXX")
MOUNTS=()
trap 'unmount_all; chmod -R u+w "$ROOT" 2>/dev/null; rm -rf "$ROOT"' EXIT
PASSED=0
FAILED=0
CASE=""
CASE_OK=1

begin_case() {
  end_case
  CASE=$1
  CASE_OK=1
  FAKE="$ROOT/case$((PASSED + FAILED))/fake"
  WORK="$ROOT/case$((PASSED + FAILED))/work"
  mkdir -p "$FAKE/bin" "$WORK"
  cp "$E2E_DIR/fake_dmidecode.sh" "$FAKE/bin/dmidecode"
  cp "$E2E_DIR/fake_tool.sh" "$WORK/SCELNX_64"
  chmod +x "$FAKE/bin/dmidecode" "$WORK/SCELNX_64"
  printf 'XB0A12\n' >"$FAKE/version"
  export FAKE_DIR="$FAKE"
  OUT_FILE="$FAKE/stdout"
}

end_case() {
  unmount_all
  [ -n "$CASE" ] || return 0
  if [ "$CASE_OK" = 1 ]; then PASSED=$((PASSED + 1)); else FAILED=$((FAILED + 1)); fi
  CASE=""
}

fail() {
  CASE_OK=0
  echo "FAIL [$CASE] (line ${BASH_LINENO[1]}): $*" >&2
}

set_version() { if [ $# -eq 0 ]; then rm -f "$FAKE/version"; else printf "$1" >"$FAKE/version"; fi; }
set_export() { printf "$1" >"$FAKE/export"; }
set_export_file() { cp "$1" "$FAKE/export"; }
set_tool_exit() { printf '%s' "$1" >"$FAKE/exit"; }
no_tool() { rm -f "$WORK/SCELNX_64"; }

# A read-only bind mount of $WORK over itself: not even root can write there. Needs the right to
# mount; returns 1 (and changes nothing) where that is missing.
read_only_work() {
  mount --bind "$WORK" "$WORK" 2>/dev/null || return 1
  MOUNTS+=("$WORK")
  mount -o remount,bind,ro "$WORK" 2>/dev/null && ! touch "$WORK/.probe" 2>/dev/null
}
unmount_all() {
  local m
  for m in "${MOUNTS[@]}"; do umount "$m" 2>/dev/null; done
  MOUNTS=()
}

run_nvram() {
  (cd "$WORK" && PATH="$FAKE/bin:$PATH" "$NVRAM_BIN" "$@" >"$OUT_FILE" 2>"$FAKE/stderr" </dev/null)
  STATUS=$?
}

expect_status() {
  [ "$STATUS" = "$1" ] || fail "status $STATUS, expected $1; stdout: $(od -c "$OUT_FILE" | head -5)"
}

# Compares stdout with the bytes of a printf format.
expect_stdout() {
  printf "$1" >"$FAKE/expected"
  cmp -s "$FAKE/expected" "$OUT_FILE" ||
    fail "stdout differs:$(echo; diff <(od -c "$FAKE/expected") <(od -c "$OUT_FILE") | head -20)"
}

# expect_file PATH FORMAT: the file (relative to $WORK) holds exactly these bytes.
expect_file() {
  if [ ! -f "$WORK/$1" ]; then fail "file $1 missing"; return; fi
  printf "$2" >"$FAKE/expected"
  cmp -s "$FAKE/expected" "$WORK/$1" ||
    fail "file $1 differs:$(echo; diff <(od -c "$FAKE/expected") <(od -c "$WORK/$1") | head -20)"
}

expect_same_file() {  # expect_same_file PATH REFERENCE
  cmp -s "$2" "$WORK/$1" || fail "file $1 differs from $2"
}

expect_no_file() {
  for f in "$@"; do [ ! -e "$WORK/$f" ] || fail "file $f exists"; done
}

# The files in $WORK, sorted, one per line, SCELNX_64 left out.
work_files() { (cd "$WORK" && find . -mindepth 1 ! -name SCELNX_64 | sed 's|^\./||' | LC_ALL=C sort); }

expect_files() {  # expect_files NAME... : exactly these files in $WORK
  local want
  want=$(printf '%s\n' "$@" | LC_ALL=C sort)
  [ "$(work_files)" = "$want" ] || fail "files are [$(work_files | tr '\n' ' ')], expected [$*]"
}

# The tool's runs, each as its argument words separated by "|", one run per line.
tool_runs() { cat "$FAKE/tool.log" 2>/dev/null; }

expect_tool_words() {  # expect_tool_words 'w1|w2|...' ; no argument: the tool never ran
  local want=${1-}
  [ "$(tool_runs)" = "$want" ] || fail "tool runs [$(tool_runs)], expected [$want]"
}

finish() {
  end_case
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" = 0 ]
}

# Replaces the fake tool and dmidecode of the current case with the simulated platform; its
# machine lives in $WORK/sim-machine (created on first use from the default machine).
use_simulator() {
  : "${SIM_BIN:?SIM_BIN must name the simulated tool}" "${SIM_DMIDECODE:?}"
  cp "$SIM_BIN" "$WORK/SCELNX_64"
  cp "$SIM_DMIDECODE" "$FAKE/bin/dmidecode"
}

# Runs the simulated tool itself in $WORK (to change the machine, fetch a new release, ...).
sim() { (cd "$WORK" && ./SCELNX_64 "$@"); }

# The shared folder of real exported scripts, or a note and a skip of the rest of the file.
corpus_or_skip() {
  CORPUS="${NVRAM_SHARED_DIR:-}/corpus/real"
  if [ ! -f "$CORPUS/real01.txt" ]; then
    echo "SKIP: the real exported scripts ($CORPUS) are absent; the cases that need them do not run"
    return 1
  fi
}
