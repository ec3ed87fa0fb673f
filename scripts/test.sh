#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a normal build and
# an AddressSanitizer + UndefinedBehaviorSanitizer build; then the tests of
# concurrent code once more in a ThreadSanitizer build; then a short run of
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
echo "== thread sanitizer build (concurrency tests)"
# gtest filters of the tests that exercise several threads
tsan_filters=(
  'Flushers/ConcurrentLogging.*'  # log channel senders and flushers
  'SimulatedTime.*'               # time service cron thread
  'TimeServiceClock.*'            # time service clock and cron threads
  'RwLock.*'                      # reader-writer lock, stress test included
  'UrlListConcurrency.*'          # URL list lookups while entries load
  'LogFiles.Concurrent*'          # log senders, session sampler, maintenance flush and rotation
  'ChannelSessions.*'             # log sessions with the maintenance on the cron thread
)
bash scripts/build.sh build-tsan -DVELMORA_TSAN=ON -DVELMORA_BENCH=OFF
filter=$(IFS=:; echo "${tsan_filters[*]}")
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  timeout 600 build-tsan/tests/velmora_tests --gtest_filter="$filter"
# the velmora command's reload thread swaps lists under the serving thread
TSAN_OPTIONS=halt_on_error=1 timeout 600 bash tests/cli/velmora_cli_test.sh build-tsan/tools/velmora

echo "== fuzzing (clang, libFuzzer + ASan + UBSan), a short run of every target"
bash scripts/fuzz.sh "${VELMORA_FUZZ_SECONDS:-20}"
echo "all tests passed"
