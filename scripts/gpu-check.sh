#!/usr/bin/env bash
# The GPU check. Here (with nvcc):   scripts/gpu-check.sh --prepare
#   builds the CUDA backend's tests and benchmark into build/cuda (architectures from
#   TVF2_CUDA_ARCHITECTURES, default "75-real;80-real;86-real;89-real;90-real;100-real;120")
#   and copies the shared libraries they need that a bare GPU machine lacks.
# On a machine with an NVIDIA GPU:   scripts/gpu-check.sh
#   runs those tests, a subset of them under compute-sanitizer (memcheck, racecheck,
#   synccheck, initcheck; one summary line per tool) and short benchmarks of every built
#   operation, within 10 minutes. TVF2_SANITIZER_FILTER (a gtest filter) picks the
#   sanitized subset.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/cuda

if [ "${1:-}" = "--prepare" ]; then
  scripts/install-deps.sh
  export PATH="$PATH:/usr/local/cuda/bin"
  cmake --preset cuda ${TVF2_CUDA_ARCHITECTURES:+-DTVF2_CUDA_ARCHITECTURES="$TVF2_CUDA_ARCHITECTURES"} >/dev/null
  cmake --build --preset cuda --target tvf2_tests_cuda \
    bench_mosaic_cuda bench_convolution_cuda bench_similarity_cuda bench_displace_cuda \
    bench_sharpen_cuda bench_multi_frame_cuda bench_keying_cuda bench_energy_cuda bench_nlm_cuda
  mkdir -p "$build/gpu-libs"
  # Google Benchmark and the C++ runtime the programs were linked with; the C library
  # is the GPU machine's own.
  for lib in $(ldd "$build/bench/bench_mosaic_cuda" | awk '/libbenchmark|libstdc\+\+|libgcc_s/{print $3}'); do
    cp -L "$lib" "$build/gpu-libs/"
  done
  echo "Prepared $build: carry it to the GPU machine and run scripts/gpu-check.sh there."
  exit 0
fi

export LD_LIBRARY_PATH="$PWD/$build/gpu-libs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader || true
echo "=== CUDA backend tests"
rc=0
timeout 200 "$build/tests/tvf2_tests_cuda" --gtest_brief=1 || rc=$?
if [ "$rc" -eq 77 ]; then echo "No usable GPU here: nothing was checked."; exit 77; fi
[ "$rc" -eq 0 ] || { echo "CUDA backend tests FAILED (exit $rc)"; exit "$rc"; }

# Every family's tests but the long parameter sweeps (those run above), each tool within
# 50 s: a tool that runs out of time says so and how far it got.
echo "=== compute-sanitizer"
sanitizer=$(command -v compute-sanitizer || echo /usr/local/cuda/bin/compute-sanitizer)
filter=${TVF2_SANITIZER_FILTER:-'-*Sweep*'}
sanitizer_rc=0
for tool in memcheck racecheck synccheck initcheck; do
  if [ ! -x "$sanitizer" ]; then echo "compute-sanitizer $tool: not installed, skipped"; continue; fi
  extra=()
  [ "$tool" = memcheck ] && extra=(--leak-check full)
  log="$build/sanitizer-$tool.log"
  trc=0
  timeout 50 "$sanitizer" --tool "$tool" "${extra[@]}" --error-exitcode 99 --print-limit 5 \
    "$build/tests/tvf2_tests_cuda" --gtest_filter="$filter" --gtest_brief=1 >"$log" 2>&1 || trc=$?
  summary=$(grep -Eo 'ERROR SUMMARY: [0-9]+ errors?|RACECHECK SUMMARY: [0-9]+ hazards?[^=]*' "$log" | tail -1)
  tests=$(grep -Eo '[0-9]+ tests? from [0-9]+ test suites? ran' "$log" | tail -1)
  case $trc in
    0) echo "compute-sanitizer $tool: ${summary:-no summary} (${tests:-tests not counted})" ;;
    124) echo "compute-sanitizer $tool: stopped after 50 s (${summary:-no summary so far}); see $log" ;;
    *) echo "compute-sanitizer $tool: FAILED (exit $trc, ${summary:-no summary}); see $log"; sanitizer_rc=1 ;;
  esac
done

for op in mosaic convolution similarity displace sharpen multi_frame keying energy nlm; do
  echo "=== $op benchmark, CUDA backend (1920x1080)"
  timeout 30 "$build/bench/bench_${op}_cuda" --benchmark_filter='Slot' --benchmark_min_time=0.1
done
exit $sanitizer_rc
