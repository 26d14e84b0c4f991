#!/bin/bash
# Benchmark: builds the release program, generates setup scripts of 1,000, 20,000 and 100,000
# questions (gen_scripts.awk) and times whole runs of "NVRAM -u" and "NVRAM -c" on them, in the
# same and in reversed question order (and, on request, in other shapes of input), beside cat
# reading the same two scripts (into /dev/null, the baseline of the ratios), cat copying them into a
# file (the floor of reading and writing them, the baseline of the last two ratios), and diff
# comparing them, and the floor of -u (bench/floor.cc: both scripts mapped and their lines found
# side by side, and -u's outputs written at their sizes, with nothing taken from a line and nothing
# paired). Each time is the median of several runs; peak memory is the maximum resident set size of
# one more run. The platform is faked: a dmidecode that prints XB0A12 comes first on PATH,
# and ./SCELNX_64 exports the prepared live script for "/o /s FILE" by hard-linking it to FILE
# (copying it only where linking fails; NVRAM removes FILE before it runs the tool and never writes
# into it), so that the export costs next to nothing and the -c times are NVRAM's own; anything
# else it is asked succeeds at once.
#
# Usage: bench/run.sh
# Environment: NVRAM_BENCH_SIZES (default "1000 20000 100000"), NVRAM_BENCH_RUNS (default 5),
#   NVRAM_BENCH_TIMEOUT (seconds per run, default 300), NVRAM_BENCH_KEEP=1 keeps the scratch
#   directory, NVRAM_BIN runs that program instead of building build-release/NVRAM.
#   NVRAM_BENCH_SHAPES (default "same reversed"): the shapes of the dumped and new scripts, any of
#     same      a tenth of the values changed, the questions in the same order
#     reversed  the same scripts, the dumped one in reversed order
#     repeated  the questions share a few texts, each on 50 to 100 or so questions
#     renamed   half the texts carry a live reading whose digits differ between the scripts
#     unpaired  many questions under a Token and Offset that the other script lacks, and some
#               without Token and Offset lines (paired by key), the dumped script reversed
#   NVRAM_BENCH_SCALING=1 times sizes N and 4N only (N is the first of NVRAM_BENCH_SIZES when that
#     is set, 25000 otherwise) and tells, for each shape and command, whether 4N questions take at
#     most 5 times as long as N.
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
sizes=${NVRAM_BENCH_SIZES:-"1000 20000 100000"}
runs=${NVRAM_BENCH_RUNS:-5}
limit=${NVRAM_BENCH_TIMEOUT:-300}
shapes=${NVRAM_BENCH_SHAPES:-"same reversed"}
for shape in $shapes; do
  case $shape in
    same | reversed | repeated | renamed | unpaired) ;;
    *) echo "bench/run.sh: unknown shape \"$shape\" in NVRAM_BENCH_SHAPES" >&2; exit 2 ;;
  esac
done
scaling=${NVRAM_BENCH_SCALING:-0}
if [ "$scaling" = 1 ]; then
  read -r scale_n _ <<<"${NVRAM_BENCH_SIZES:-25000}"
  sizes="$scale_n $((scale_n * 4))"
fi

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
floor="$scratch/bin/floor"
if ! "${CXX:-c++}" -O2 -std=c++20 -pthread "$top/bench/floor.cc" -o "$floor" 2>/dev/null; then
  echo "warning: bench/floor.cc does not build; the floor is not measured" >&2
  floor=
fi
printf '#!/bin/sh\nprintf '\''XB0A12\\n'\''\n' >"$scratch/bin/dmidecode"
cat >"$scratch/SCELNX_64" <<'EOF'
#!/bin/sh
# "/o /s FILE" exports the prepared live settings into FILE: a hard link to them, or a copy where
# linking fails, so that the export costs next to nothing. Anything else succeeds at once.
if [ "$1" = /o ] && [ "$2" = /s ]; then
  ln -f "$NVRAM_BENCH_LIVE" "$3" 2>/dev/null || exec cp "$NVRAM_BENCH_LIVE" "$3"
fi
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

label() {  # label SHAPE: "same order", "reversed order", "renamed shape", ...
  case $1 in same | reversed) echo "$1 order" ;; *) echo "$1 shape" ;; esac
}
# The shape whose row at the largest size the targets judge: reversed, else the last one.
target_shape=${shapes##* }
for shape in $shapes; do [ "$shape" != reversed ] || target_shape=reversed; done

problems=()
rows=()
declare -A scale_u scale_c
for n in $sizes; do
  for shape in $shapes; do
    case $shape in same | reversed) gen=same ;; *) gen=$shape ;; esac
    dir="$scratch/q$n-$gen"
    if [ ! -d "$dir" ]; then
      mkdir "$dir"
      if [ "$gen" = same ]; then echo "Generating $n questions..." >&2
      else echo "Generating $n questions, $shape shape..." >&2; fi
      awk -v n="$n" -v dir="$dir" -v shape="$gen" -f "$top/bench/gen_scripts.awk"
      cp "$scratch/SCELNX_64" "$dir/SCELNX_64"
    fi
    read -r expected_u expected_c <"$dir/expected"
    export NVRAM_BENCH_LIVE="$dir/new.txt"
    cd "$dir"
    live_sum=$(cksum <new.txt)
    if [ "$shape" = reversed ]; then dumped=dumpedrev.txt; else dumped=dumped.txt; fi
    what="$n $shape"
    echo "Timing $n questions, $(label "$shape")..." >&2
    before=${#problems[@]}
    measure u "$NVRAM_BIN" -u "$dumped" new.txt
    lines=$(grep -c . Difftemp.ini 2>/dev/null || true)
    [ "$STATUS_u" = 0 ] || problems+=("$what: NVRAM -u exited with $STATUS_u, expected 0")
    [ "$expected_u" = - ] || [ "${lines:-0}" = "$expected_u" ] ||
      problems+=("$what: Difftemp.ini holds ${lines:-no} lines, expected $expected_u")
    measure c "$NVRAM_BIN" -c "$dumped"
    reports=$(grep -c '^ERROR:Saved value for ' out.c || true)
    [ "$STATUS_c" = 6 ] || problems+=("$what: NVRAM -c exited with $STATUS_c, expected 6")
    [ "$expected_c" = - ] || [ "$reports" = "$expected_c" ] ||
      problems+=("$what: NVRAM -c reported $reports differences, expected $expected_c")
    # The export is a link to the live script: a run that wrote into it would spoil the inputs.
    [ "$(cksum <new.txt)" = "$live_sum" ] || problems+=("$what: the live script changed under NVRAM -c")
    MEASURE_OUT=/dev/null measure cat cat new.txt "$dumped"
    measure copy cat new.txt "$dumped"
    rm -f out.copy
    measure diff diff new.txt "$dumped"
    TIME_floor=-
    if [ -n "$floor" ]; then
      # The outputs of -u beside the merged script: the two record files (-u removes its own when
      # it is done; -c leaves those of the same scripts, biostemp.ini for the live one) and the
      # differences.
      measure floor "$floor" "$dumped" new.txt "$(stat -c %s biostemp.ini)" \
        "$(stat -c %s "${dumped%%.*}.ini")" "$(stat -c %s Difftemp.ini)"
      rm -f floor.*
    fi
    rows+=("$(printf '%7s %-8s %9s %9s %8s %8s %8s %8s %7s %7s %7s %7s %7s %7s %7s %7s' "$n" "$shape" \
      "$TIME_u" "$TIME_c" "$TIME_cat" "$TIME_copy" "$TIME_floor" "$TIME_diff" \
      "$(ratio "$TIME_u" "$TIME_cat")" "$(ratio "$TIME_c" "$TIME_cat")" \
      "$(ratio "$TIME_u" "$TIME_diff")" "$(ratio "$TIME_c" "$TIME_diff")" \
      "$(mib "$MEM_u")" "$(mib "$MEM_c")" \
      "$(ratio "$TIME_u" "$TIME_copy")" "$(ratio "$TIME_c" "$TIME_copy")")")
    scale_u[$n,$shape]=$TIME_u
    scale_c[$n,$shape]=$TIME_c
    if [ "$shape" = "$target_shape" ]; then
      inputs_kib=$((($(stat -c %s new.txt) + $(stat -c %s "$dumped")) / 1024))
      last=("$n" "$shape" "$TIME_u" "$TIME_c" "$TIME_cat" "$TIME_diff" "$MEM_u" "$MEM_c" "$inputs_kib"
        "$TIME_floor")
      last_ok=$([ ${#problems[@]} = "$before" ] && echo 1 || echo 0)
    fi
    cd "$scratch"
    [ "$gen" = same ] || rm -rf "$dir"
  done
  rm -rf "$scratch/q$n-same"
done

echo
echo "NVRAM: $NVRAM_BIN; times in ms, median of $runs runs; peak memory in MiB"
echo "cat: cat of both scripts into /dev/null (the baseline of the ratios); copy: cat into a file"
echo "(the floor of reading and writing them, the baseline of -u/copy and -c/copy); floor: both"
echo "scripts mapped and their lines found side by side, -u's outputs written at their sizes"
echo "The fake tool hard-links the live script to its export name (copies it where linking fails),"
echo "so the -c times are NVRAM's own."
printf '%7s %-8s %9s %9s %8s %8s %8s %8s %7s %7s %7s %7s %7s %7s %7s %7s\n' questions shape "NVRAM -u" \
  "NVRAM -c" cat copy floor diff "-u/cat" "-c/cat" "-u/diff" "-c/diff" "-u MiB" "-c MiB" "-u/copy" "-c/copy"
printf '%s\n' "${rows[@]}"

# Targets, for the largest size in reversed order (or the last shape timed): each command within 5
# times cat of its inputs, faster than diff, and with peak memory at most the size of its inputs.
echo
echo "Targets at ${last[0]} questions, $(label "${last[1]}"):"
[ "$last_ok" = 1 ] || echo "  (the program's results on these scripts are wrong, see below: the times say little)"
target() {  # target LABEL CONDITION-IN-AWK
  if awk "BEGIN { exit !($2) }" 2>/dev/null; then echo "  met:    $1"; else echo "  missed: $1"; fi
}
if [[ ${last[9]} =~ ^[0-9.]+$ ]]; then
  echo "  (the floor of -u: ${last[9]} ms, $(ratio "${last[9]}" "${last[4]}") x cat, nothing taken or paired)"
fi
for cmd in u c; do
  if [ "$cmd" = u ]; then t=${last[2]} m=${last[6]}; else t=${last[3]} m=${last[7]}; fi
  if [[ ! $t =~ ^[0-9.]+$ ]]; then echo "  missed: NVRAM -$cmd timed out"; continue; fi
  target "NVRAM -$cmd within 5 x cat ($t ms vs 5 x ${last[4]} ms)" "$t <= 5 * ${last[4]}"
  target "NVRAM -$cmd faster than diff ($t ms vs ${last[5]} ms)" "$t < ${last[5]}"
  if [[ $m =~ ^[0-9]+$ ]]; then
    target "NVRAM -$cmd within the size of its inputs ($(mib "$m") MiB vs $(mib "${last[8]}") MiB)" "$m <= ${last[8]}"
  fi
done

# Scaling: 4 times the questions should take at most 5 times as long.
if [ "$scaling" = 1 ]; then
  big=$((scale_n * 4))
  echo
  echo "Scaling from $scale_n to $big questions (time at $big / time at $scale_n, met when at most 5):"
  for shape in $shapes; do
    for cmd in u c; do
      if [ "$cmd" = u ]; then t1=${scale_u[$scale_n,$shape]} t4=${scale_u[$big,$shape]}
      else t1=${scale_c[$scale_n,$shape]} t4=${scale_c[$big,$shape]}; fi
      r=$(ratio "$t4" "$t1")
      if [[ $r =~ ^[0-9.]+$ ]] && awk "BEGIN { exit !($r <= 5) }"; then verdict=met; else verdict=missed; fi
      printf '  %-8s NVRAM -%s %9s ms -> %9s ms  %6s  %s\n' "$shape" "$cmd" "$t1" "$t4" "$r" "$verdict"
    done
  done
fi

if [ ${#problems[@]} -gt 0 ]; then
  echo
  echo "Results that are not what the generated scripts call for:"
  printf '  %s\n' "${problems[@]}"
  exit 1
fi
