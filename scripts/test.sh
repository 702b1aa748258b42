#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages), builds everything and runs
# every test through ctest; then the same suite built with address and
# undefined-behaviour checks, and each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/packages.sh
# Unformatted code fails the run (clang-format with the repository's .clang-format).
bash scripts/check-format.sh
stage() { echo "=== $1: $(( SECONDS - stage_start )) s" >&2; stage_start=$SECONDS; }
stage_start=$SECONDS

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" --parallel "$(nproc)"
(cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 600)
stage "build and tests"

# Any report of the sanitizers fails the test that made it. Leaks inside
# libraries that are not ours are named in the suppressions file.
SANITIZE_DIR=${SANITIZE_DIR:-build-sanitize}
cmake -S . -B "$SANITIZE_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTORA_SANITIZE=ON
cmake --build "$SANITIZE_DIR" --parallel "$(nproc)"
(
  cd "$SANITIZE_DIR"
  # No strict string checks: the X keyboard library reads counted, unterminated
  # names with strndup, which they would report although it is sound.
  export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  export LSAN_OPTIONS=suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 1200
)
stage "sanitizer build and tests"

# Each fuzz target for FUZZ_SECONDS (default 30) on a copy of its corpus.
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}
cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVANTORA_FUZZ=ON \
  -DVANTORA_FUZZ_SECONDS="${FUZZ_SECONDS:-30}"
cmake --build "$FUZZ_DIR" --parallel "$(nproc)" --target vantora_fuzzers
(cd "$FUZZ_DIR" && ctest --output-on-failure --parallel "$(nproc)")
stage "fuzzing"
