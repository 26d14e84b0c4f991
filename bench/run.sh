#!/bin/bash
# Benchmark: builds the release program, generates setup scripts of 1,000, 20,000 and 100,000
# questions (gen_scripts.awk) and times whole runs of "NVRAM -u" and "NVRAM -c" on them, in the
# same and in reversed question order, beside cat reading the same two scripts (into /dev/null, the
# baseline of the ratios), cat copying them into a file, and diff comparing them. Each time is the median of several runs; peak memory is the maximum resident set size of
# one more run. The platform is faked: a dmidecode that prints XB0A12 comes first on PATH, and
# ./SCELNX_64 exports the prepared live script for "/o /s FILE" and otherwise succeeds at once.
#
# Usage: bench/run.sh
# Environment: NVRAM_BENCH_SIZES (default "1000 20000 100000"), NVRAM_BENCH_RUNS (default 5),
#   NVRAM_BENCH_TIMEOUT (seconds per run, default 300), NVRAM_BENCH_KEEP=1 keeps the scratch
#   directory, NVRAM_BIN runs that program instead of building build-release/NVRAM.
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
sizes=${NVRAM_BENCH_SIZES:-"1000 20000 100000"}
runs=${NVRAM_BENCH_RUNS:-5}
limit=${NVRAM_BENCH_TIMEOUT:-300}

if [ -z "${NVRAM_BIN:-}" ]; then
  echo "Building the release program..." >&2
  cmake --preset release -S "$top" >/dev/null
  cmake --build "$top/build-release" -j2 --target NVRAM >/dev/null
  NVRAM_BIN="$top/build-release/NVRAM"
fi
if [ ! -x /usr/bin/time ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "Installing /usr/bin/time..." >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q time >/dev/null 2>&1 || true
fi
[ -x /usr/bin/time ] || echo "warning: /usr/bin/time is missing; peak memory is not measured" >&2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/nvram-bench.XXXXXX")
if [ "${NVRAM_BENCH_KEEP:-0}" = 1 ]; then
  echo "Scratch directory: $scratch" >&2
else
  trap 'rm -rf "$scratch"' EXIT
fi

mkdir "$scratch/bin"
printf '#!/bin/sh\nprintf '\''XB0A12\\n'\''\n' >"$scratch/bin/dmidecode"
cat >"$scratch/SCELNX_64" <<'EOF'
#!/bin/sh
# "/o /s FILE" exports the prepared live settings into FILE; anything else succeeds at once.
if [ "$1" = /o ] && [ "$2" = /s ]; then exec cp "$NVRAM_BENCH_LIVE" "$3"; fi
exit 0
EOF
chmod +x "$scratch/bin/dmidecode" "$scratch/SCELNX_64"
export PATH="$scratch/bin:$PATH"

# measure NAME CMD...: sets TIME_<NAME> (median milliseconds, ">limit" on a time-out),
# MEM_<NAME> (peak KiB) and STATUS_<NAME> (exit status of the first run). The command's standard
# output goes to out.<NAME> in the current directory, or to $MEASURE_OUT when that is set.
measure() {
  local name=$1 i t0 t1 status times=() mem="-" out=${MEASURE_OUT:-out.$1}
  shift
  if [ -x /usr/bin/time ]; then
    set +e
    timeout "$limit" /usr/bin/time -v -o "time.$name" "$@" >"$out" 2>/dev/null
    status=$?
    set -e
    mem=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "time.$name")
  else
    set +e
    timeout "$limit" "$@" >"$out" 2>/dev/null
    status=$?
    set -e
  fi
  printf -v "STATUS_$name" '%s' "$status"
  printf -v "MEM_$name" '%s' "${mem:--}"
  if [ "$status" = 124 ]; then
    printf -v "TIME_$name" '>%s' "$((limit * 1000))"
    return
  fi
  for ((i = 0; i < runs; i++)); do
    t0=$EPOCHREALTIME
    set +e
    "$@" >"$out" 2>/dev/null
    set -e
    t1=$EPOCHREALTIME
    times+=($((10#${t1//[!0-9]/} - 10#${t0//[!0-9]/})))
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  printf -v "TIME_$name" '%d.%d' "$((median / 1000))" "$((median % 1000 / 100))"
}

ratio() {  # ratio A B: A/B with two decimals, "-" when either is not a plain number
  if [[ $1 =~ ^[0-9.]+$ && $2 =~ ^[0-9.]+$ ]]; then awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'
  else echo "-"; fi
}
mib() { if [[ $1 =~ ^[0-9]+$ ]]; then awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; else echo "-"; fi; }

problems=()
rows=()
for n in $sizes; do
  dir="$scratch/q$n"
  mkdir "$dir"
  echo "Generating $n questions..." >&2
  awk -v n="$n" -v dir="$dir" -f "$top/bench/gen_scripts.awk"
  cp "$scratch/SCELNX_64" "$dir/SCELNX_64"
  expected=$(cat "$dir/expected")
  export NVRAM_BENCH_LIVE="$dir/new.txt"
  cd "$dir"
  for order in same reversed; do
    if [ "$order" = same ]; then dumped=dumped.txt; else dumped=dumpedrev.txt; fi
    echo "Timing $n questions, $order order..." >&2
    before=${#problems[@]}
    measure u "$NVRAM_BIN" -u "$dumped" new.txt
    lines=$(grep -c . Difftemp.ini 2>/dev/null || true)
    [ "$STATUS_u" = 0 ] || problems+=("$n $order: NVRAM -u exited with $STATUS_u, expected 0")
    [ "${lines:-0}" = "$expected" ] ||
      problems+=("$n $order: Difftemp.ini holds ${lines:-no} lines, expected $expected")
    measure c "$NVRAM_BIN" -c "$dumped"
    reports=$(grep -c '^ERROR:Saved value for ' out.c || true)
    [ "$STATUS_c" = 6 ] || problems+=("$n $order: NVRAM -c exited with $STATUS_c, expected 6")
    [ "$reports" = "$expected" ] || problems+=("$n $order: NVRAM -c reported $reports differences, expected $expected")
    MEASURE_OUT=/dev/null measure cat cat new.txt "$dumped"
    measure copy cat new.txt "$dumped"
    rm -f out.copy
    measure diff diff new.txt "$dumped"
    rows+=("$(printf '%7s %-8s %9s %9s %8s %8s %8s %7s %7s %7s %7s %7s %7s' "$n" "$order" \
      "$TIME_u" "$TIME_c" "$TIME_cat" "$TIME_copy" "$TIME_diff" \
      "$(ratio "$TIME_u" "$TIME_cat")" "$(ratio "$TIME_c" "$TIME_cat")" \
      "$(ratio "$TIME_u" "$TIME_diff")" "$(ratio "$TIME_c" "$TIME_diff")" \
      "$(mib "$MEM_u")" "$(mib "$MEM_c")")")
    last=("$n" "$order" "$TIME_u" "$TIME_c" "$TIME_cat" "$TIME_diff" "$MEM_u" "$MEM_c")
    last_ok=$([ ${#problems[@]} = "$before" ] && echo 1 || echo 0)
  done
  cd "$scratch"
  rm -rf "$dir"
done

echo
echo "NVRAM: $NVRAM_BIN; times in ms, median of $runs runs; peak memory in MiB"
echo "cat: cat of both scripts into /dev/null (the baseline of the ratios); copy: cat into a file"
printf '%7s %-8s %9s %9s %8s %8s %8s %7s %7s %7s %7s %7s %7s\n' questions order "NVRAM -u" "NVRAM -c" \
  cat copy diff "-u/cat" "-c/cat" "-u/diff" "-c/diff" "-u MiB" "-c MiB"
printf '%s\n' "${rows[@]}"

# Targets, for the largest size in reversed order: each command within 10 times cat of its inputs,
# faster than diff, and below 64 MiB of peak memory.
echo
echo "Targets at ${last[0]} questions, ${last[1]} order:"
[ "$last_ok" = 1 ] || echo "  (the program's results on these scripts are wrong, see below: the times say little)"
target() {  # target LABEL CONDITION-IN-AWK
  if awk "BEGIN { exit !($2) }" 2>/dev/null; then echo "  met:    $1"; else echo "  missed: $1"; fi
}
for cmd in u c; do
  if [ "$cmd" = u ]; then t=${last[2]} m=${last[6]}; else t=${last[3]} m=${last[7]}; fi
  if [[ ! $t =~ ^[0-9.]+$ ]]; then echo "  missed: NVRAM -$cmd timed out"; continue; fi
  target "NVRAM -$cmd within 10 x cat ($t ms vs 10 x ${last[4]} ms)" "$t <= 10 * ${last[4]}"
  target "NVRAM -$cmd faster than diff ($t ms vs ${last[5]} ms)" "$t < ${last[5]}"
  if [[ $m =~ ^[0-9]+$ ]]; then target "NVRAM -$cmd below 64 MiB ($(mib "$m") MiB)" "$m < 65536"; fi
done

if [ ${#problems[@]} -gt 0 ]; then
  echo
  echo "Results that are not what the generated scripts call for:"
  printf '  %s\n' "${problems[@]}"
  exit 1
fi
