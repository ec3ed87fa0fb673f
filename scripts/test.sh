#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a normal build and
# an AddressSanitizer + UndefinedBehaviorSanitizer build, then a short run of
# every fuzz target (VELMORA_FUZZ_SECONDS per target, default 20).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh

jobs=$(nproc)
echo "== normal build"
bash scripts/build.sh build 
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build (ASan + UBSan)"
bash scripts/build.sh build-asan -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzzing (clang, libFuzzer + ASan + UBSan), a short run of every target"
bash scripts/fuzz.sh "${VELMORA_FUZZ_SECONDS:-20}"
echo "all tests passed"
