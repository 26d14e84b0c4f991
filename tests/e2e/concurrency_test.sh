#!/bin/bash
# Runs that meet: one run at a time in a directory, and no waiting between directories. The
# simulated tool is wrapped by a script that holds it at a gate the test opens.
. "$(dirname "$0")/lib.sh"

BUSY='Error, another NVRAM run is working in this directory\r\n'

# gated_tool DIR: DIR/SCELNX_64 becomes a wrapper that marks its start in $FAKE/started.*, waits
# (30 s at most) until $FAKE/open holds a number of started runs that are allowed through, then
# runs the simulated tool.
gated_tool() {
  cp "$SIM_BIN" "$FAKE/sim"
  cat >"$1/SCELNX_64" <<'TOOL'
#!/bin/bash
: >"$FAKE_DIR/started.$$"
for ((i = 0; i < 300; i++)); do
  want=$(cat "$FAKE_DIR/open" 2>/dev/null) && [ "$(ls "$FAKE_DIR" | grep -c '^started\.')" -ge "$want" ] && break
  sleep 0.1
done
exec "$FAKE_DIR/sim" "$@"
TOOL
  chmod +x "$1/SCELNX_64"
}
# wait_started N: until N tools have started (10 s at most).
wait_started() {
  local i
  for ((i = 0; i < 100; i++)); do
    [ "$(ls "$FAKE" | grep -c '^started\.')" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "only $(ls "$FAKE" | grep -c '^started\.') of $1 tools started"
}
# start_nvram DIR ARGS...: starts the program in DIR in the background; its stdout and status go
# to DIR.out and DIR.status.
start_nvram() {
  local dir=$1
  shift
  (cd "$dir" && PATH="$FAKE/bin:$PATH" "$NVRAM_BIN" "$@" >"$dir.out" 2>/dev/null </dev/null; echo $? >"$dir.status") &
}
snapshot() { (cd "$WORK" && find . -path ./sim-machine -prune -o -type f -printf '%p %s %T@\n' | sort; md5sum ./*.txt); }

begin_case "seven runs of every command meet one that holds the directory"
use_simulator
gated_tool "$WORK"
: >"$WORK/Exclude.txt"
printf 'x' >"$WORK/pwd.bin"
start_nvram "$WORK" -s db saved.txt
wait_started 1
before=$(snapshot)
others=("-s db other.txt" "-c saved.txt" "-u old.txt new.txt" "-p pwd.bin" "-r pwd.bin" "-g hdd.bin" "-j hdd.bin")
for i in "${!others[@]}"; do
  mkdir "$FAKE/o$i"
  (cd "$WORK" && PATH="$FAKE/bin:$PATH" "$NVRAM_BIN" ${others[$i]} >"$FAKE/o$i/out" 2>/dev/null </dev/null; echo $? >"$FAKE/o$i/status") &
done
wait $(jobs -p | tail -n +2)
for i in "${!others[@]}"; do
  printf "$BUSY" | cmp -s - "$FAKE/o$i/out" || fail "NVRAM ${others[$i]} printed: $(cat "$FAKE/o$i/out")"
  [ "$(cat "$FAKE/o$i/status")" = 3 ] || fail "NVRAM ${others[$i]} ended with $(cat "$FAKE/o$i/status")"
done
[ "$before" = "$(snapshot)" ] || fail "the refused runs changed files"
echo 1 >"$FAKE/open"
wait
[ "$(cat "$WORK.status")" = 0 ] || fail "the first run ended with $(cat "$WORK.status")"
[ "$(ls "$FAKE" | grep -c '^started\.')" = 1 ] || fail "the tool ran for a refused run"
run_nvram -c saved.txt
expect_status 0
expect_stdout '\r\nMiscompare Notification\r\n'
expect_no_file temp.txt other.txt old.ini Difftemp.ini merged.txt pwd.lst hdd.lst hdd.bin

begin_case "eight runs in eight directories at once"
gated_tool "$FAKE"
cp "$SIM_DMIDECODE" "$FAKE/bin/dmidecode"
echo 8 >"$FAKE/open"
for i in 1 2 3 4 5 6 7 8; do
  mkdir "$WORK/d$i"
  cp "$FAKE/SCELNX_64" "$WORK/d$i/"
  start_nvram "$WORK/d$i" -s db saved.txt
done
wait
for i in 1 2 3 4 5 6 7 8; do
  [ "$(cat "$WORK/d$i.status")" = 0 ] || fail "the run in d$i ended with $(cat "$WORK/d$i.status"): $(cat "$WORK/d$i.out")"
  grep -q '^// BIOS_VERSION = XB0A12' "$WORK/d$i/saved.txt" || fail "d$i/saved.txt is not a stamped export"
done

begin_case "stations in four directories update and check against one shared pair at once"
# s1 and s2 run -u on golden/0.txt and 1.txt (5,000 questions, every sixth differing), s3 and s4
# -c against 0.txt with 1.txt live; each must end exactly like a run alone (au, ac).
G=$WORK/golden
mkdir "$G"
for v in 0 1; do
  awk -v v=$v 'BEGIN { for (i = 0; i < 5000; i++) printf "Setup Question = Q%d\r\nValue =%x\r\n\r\n", i, i + (v && i % 6 == 0) }' >"$G/$v.txt"
done
cp "$G/1.txt" "$FAKE/export"
for d in au ac s1 s2 s3 s4; do mkdir "$WORK/$d" && cp "$WORK/SCELNX_64" "$WORK/$d/" && : >"$WORK/$d/Exclude.txt"; done
pair() { start_nvram "$WORK/$1" -u "$G/0.txt" "$G/1.txt"; start_nvram "$WORK/$2" -c "$G/0.txt"; }
pair au ac && wait
[ "$(cat "$WORK/au.status" "$WORK/ac.status" | tr '\n' ' ')$(wc -l <"$WORK/au/Difftemp.ini")" = "0 6 834" ] || fail "the runs alone"
for round in 1 2 3 4 5; do
  pair s1 s3 && pair s2 s4 && wait
  for p in s1:au s2:au s3:ac s4:ac; do
    diff -r "$WORK/${p%:*}" "$WORK/${p#*:}" >/dev/null && cmp -s "$WORK/${p%:*}.out" "$WORK/${p#*:}.out" &&
      cmp -s "$WORK/${p%:*}.status" "$WORK/${p#*:}.status" || fail "round $round: ${p%:*} is not like a run alone"
  done
done
# Left beside the scripts: at most the record file that a -c keeps.
[ -z "$(ls -A "$G" | grep -vx -e 0.txt -e 1.txt -e 0.ini)" ] || fail "golden/ holds $(ls -A "$G" | tr '\n' ' ')"

begin_case "a run killed while its tool imports keeps the next run out until the tool has ended"
printf 'Setup Question = A\r\nValue =1\r\n\r\n' | tee "$WORK/old.txt" >"$WORK/new.txt"
: >"$WORK/Exclude.txt"
printf ': >"$FAKE_DIR/started"; for ((i = 0; i < 300; i++)); do [ -f "$FAKE_DIR/open" ] && break; sleep 0.1; done\n' >"$FAKE/hook"
(cd "$WORK" && PATH="$FAKE/bin:$PATH" exec "$NVRAM_BIN" -u old.txt new.txt >/dev/null 2>&1 </dev/null) &
pid=$!
for ((i = 0; i < 100; i++)); do [ -f "$FAKE/started" ] && break; sleep 0.1; done
kill -TERM "$pid" && wait "$pid"
cp "$WORK/merged.txt" "$FAKE/merged"
run_nvram -u old.txt new.txt
expect_stdout "$BUSY"
expect_same_file merged.txt "$FAKE/merged"
touch "$FAKE/open"
for ((i = 0; i < 100; i++)); do run_nvram -u old.txt new.txt; [ "$STATUS" = 3 ] || break; sleep 0.1; done
expect_status 0

finish
