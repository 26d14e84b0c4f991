#!/bin/bash
# -s, -c and -u killed (SIGKILL, with the tool they run) at random moments on the simulated
# platform, with a script of real size: the inputs and an existing output script stay whole (old
# or new, never partial), and the next run succeeds at once.
# test-label: slow
# quick-env: CRASH_ROUNDS=4
. "$(dirname "$0")/lib.sh"

ROUNDS=${CRASH_ROUNDS:-30}

# killed_run MS ARGS...: starts the program in its own session, kills the whole session after MS
# milliseconds (the program and the tool), waits for it and for the directory lock, which the
# tool holds until it has ended.
killed_run() {
  local ms=$1 pid
  shift
  (cd "$WORK" && PATH="$FAKE/bin:$PATH" exec setsid "$NVRAM_BIN" "$@" >/dev/null 2>&1 </dev/null) &
  pid=$!
  sleep "$((ms / 1000)).$(printf '%03d' $((ms % 1000)))"
  kill -KILL -- "-$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  flock -w 5 "$WORK" true
}
# timed_run ARGS...: run_nvram; sets MS to its duration in milliseconds (at most 999).
timed_run() {
  local t0=$EPOCHREALTIME
  run_nvram "$@"
  MS=$(((${EPOCHREALTIME/./} - ${t0/./}) / 1000))
  [ "$MS" -le 999 ] || MS=999
}

begin_case "kills at random moments"
use_simulator
if corpus_or_skip; then sim /sim-seed "$CORPUS/real01.txt" || fail "seeding the simulator failed"; fi
: >"$WORK/Exclude.txt"
timed_run -s db saved.txt
expect_status 0
ms_s=$MS
cp "$WORK/saved.txt" "$FAKE/new"
sed '3,$s/Value/Valeur/' "$FAKE/new" >"$FAKE/old"  # an older golden script
cp "$FAKE/new" "$WORK/golden.txt"
cp "$FAKE/new" "$WORK/old.txt"
cp "$FAKE/new" "$WORK/new.txt"
timed_run -c golden.txt
expect_status 0
ms_c=$MS
timed_run -u old.txt new.txt
expect_status 0
ms_u=$MS
keep=(Exclude.txt golden.txt old.txt new.txt)
(cd "$WORK" && md5sum -- "${keep[@]}") >"$FAKE/sums"
echo "run times: -s $ms_s ms, -c $ms_c ms, -u $ms_u ms; $ROUNDS kills of -s, $(((ROUNDS + 1) / 2)) of -c and -u"

for ((round = 0; round < ROUNDS; round++)); do
  cp "$FAKE/old" "$WORK/saved.txt"
  killed_run $((RANDOM % (ms_s + 5))) -s db saved.txt
  cmp -s "$WORK/saved.txt" "$FAKE/old" || cmp -s "$WORK/saved.txt" "$FAKE/new" ||
    fail "round $round: saved.txt is neither the old nor the new script"
  run_nvram -s db saved.txt
  expect_status 0
  expect_same_file saved.txt "$FAKE/new"

  # -c and -u only read their inputs and take longer: every other round.
  [ $((round % 2)) = 0 ] || continue
  killed_run $((RANDOM % (ms_c + 5))) -c golden.txt
  run_nvram -c golden.txt
  expect_status 0
  expect_stdout '\r\nMiscompare Notification\r\n'

  killed_run $((RANDOM % (ms_u + 5))) -u old.txt new.txt
  run_nvram -u old.txt new.txt
  expect_status 0
  expect_same_file merged.txt "$FAKE/new"

  (cd "$WORK" && md5sum --status -c "$FAKE/sums") || fail "round $round: an input changed"
done

leftover=$(cd "$WORK" && ls -A | grep "^\.nvram-") && echo "note: temporary files left by kills: $leftover"
finish
