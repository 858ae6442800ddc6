#!/usr/bin/env bash
# The whole test suite: the CPU backend, the CPU backend under AddressSanitizer and
# UndefinedBehaviorSanitizer, the hardening tests under ThreadSanitizer, each fuzz target
# for a bounded time, and, where nvcc is installed, the CUDA backend's build (its tests
# run where a GPU is present and are reported as skipped elsewhere).
#
# TVF2_CUDA_ARCHITECTURES (default: 75-real) picks the CUDA architectures built here;
# TVF2_FUZZ_SECONDS (default: 60) how long each fuzz target runs (0: not at all), and
# TVF2_FUZZ_SEED (default: 1) with which seed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

run_preset() {
  local preset=$1; shift
  echo "=== $preset"
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
}

run_preset cpu
run_preset cpu-asan
run_preset cpu-tsan

fuzz_seconds=${TVF2_FUZZ_SECONDS:-60}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "=== fuzz (${fuzz_seconds} s per target)"
  TVF2_FUZZ_SEED=${TVF2_FUZZ_SEED:-1} scripts/fuzz.sh "$fuzz_seconds"
fi

if command -v nvcc >/dev/null 2>&1 || [ -x /usr/local/cuda/bin/nvcc ]; then
  export PATH="$PATH:/usr/local/cuda/bin"
  run_preset cuda -DTVF2_CUDA_ARCHITECTURES="${TVF2_CUDA_ARCHITECTURES:-75-real}"
else
  echo "=== cuda: nvcc not found, the CUDA backend was not built"
fi
