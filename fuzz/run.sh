#!/bin/bash
# Builds the fuzz targets (the "fuzz" preset, clang) and runs each for a bounded time, one after
# the other on one core. Fails on any finding; the input that found it is kept under
# build-fuzz/findings/. Usage: fuzz/run.sh [seconds per target, default 60]
# Skips (status 0) with a message where clang++ or its fuzzing engine is not available.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_PER_TARGET=${1:-60}
TARGETS=(reader exclusion record_compare merge compare export)

if ! command -v clang++ >/dev/null; then
  echo "fuzz: skipped, clang++ is not installed"
  exit 0
fi
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  >"$probe/probe.cc"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cc" -o "$probe/probe" 2>/dev/null; then
  echo "fuzz: skipped, clang++ cannot link -fsanitize=fuzzer (the compiler-rt package is missing)"
  exit 0
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

# The seeds stay read-only in fuzz/corpus; what the fuzzer learns goes to build-fuzz/corpus.
mkdir -p build-fuzz/findings
failed=()
for t in "${TARGETS[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  log="build-fuzz/fuzz_$t.log"
  if "build-fuzz/fuzz/fuzz_$t" "$ROOT/build-fuzz/corpus/$t" "$ROOT/fuzz/corpus/$t" \
      -dict="$ROOT/fuzz/nvram.dict" -artifact_prefix="$ROOT/build-fuzz/findings/${t}-" \
      -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -print_final_stats=1 >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: ${runs:-?} runs, no finding"
  else
    echo "fuzz_$t: FINDING (see $log and build-fuzz/findings/)"
    grep -E 'check failed|ERROR: |SUMMARY' "$log" | head -5 || true
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
