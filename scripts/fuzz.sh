#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from the seed
# corpus in tests/hardening/corpus (new inputs go to build/fuzz/corpus-*, never into the
# tree). The targets run at the same time. Prints one line per target: executions and
# findings. Exits non-zero on a finding; the reproducer is left as build/fuzz/crash-*
# (run it again: build/fuzz/fuzz/fuzz_TARGET FILE).
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
#
# TVF2_FUZZ_SEED fixes libFuzzer's random seed (the test script uses 1, so that CI walks
# the same inputs on every run and a finding there is never a matter of luck); unset or
# 0, each run draws its own.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
seed=${TVF2_FUZZ_SEED:-0}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# The three targets run at once, each for the given time.
run_target() {
  local target=$1 work=build/fuzz/corpus-$1
  mkdir -p "$work"
  cd build/fuzz
  exec "./fuzz/fuzz_$target" -max_total_time="$seconds" -seed="$seed" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="crash-$target-" "../../$work" "../../tests/hardening/corpus/$target"
}
targets=(slots png y4m)
pids=()
for target in "${targets[@]}"; do
  ( run_target "$target" ) >"build/fuzz/fuzz_$target.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  log=build/fuzz/fuzz_$target.log
  rc=0
  wait "${pids[$i]}" || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $rc -eq 0 ]; then
    echo "fuzz_$target: ${runs:-?} executions in ${seconds} s, 0 findings"
    grep -m1 '^slot fuzz:' "$log" || true
  else
    echo "fuzz_$target: FINDING after ${runs:-?} executions (exit $rc); see $log"
    grep -m3 -E "ERROR|SUMMARY|slot fuzz|parser fuzz" "$log" || tail -5 "$log"
    status=1
  fi
done
exit $status
