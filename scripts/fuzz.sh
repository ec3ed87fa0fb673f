#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz and runs
# each one in turn for the given number of seconds (default 30), starting from
# its seed corpus and dictionary. Fails on the first crash, leak, timeout or
# sanitizer report; the offending input is left in build-fuzz/artifacts/.
#   scripts/fuzz.sh [seconds-per-target] [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-30}
shift || true

mkdir -p build-fuzz
if ! CC=clang CXX=clang++ bash scripts/build.sh build-fuzz -DVELMORA_FUZZ=ON \
     -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF -DVELMORA_TOOLS=OFF >build-fuzz/build.log 2>&1; then
  tail -n 40 build-fuzz/build.log
  echo "building the fuzz targets failed" >&2
  exit 1
fi

if [ $# -eq 0 ]; then
  set -- $(cd fuzz && ls *_fuzz.cpp | sed 's/_fuzz\.cpp$//')
fi

mkdir -p build-fuzz/artifacts
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for name in "$@"; do
  # New inputs go to a working corpus in the build tree; the seeds in fuzz/
  # are only read.
  work=build-fuzz/corpus/$name
  mkdir -p "$work"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="build-fuzz/artifacts/$name-")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "== fuzzing $name for ${seconds}s"
  if ! nice -n 10 "build-fuzz/fuzz/${name}_fuzz" "${args[@]}" "$work" "${seeds[@]}" \
       >"build-fuzz/$name.log" 2>&1; then
    tail -n 60 "build-fuzz/$name.log"
    echo "fuzz target $name failed; input saved under build-fuzz/artifacts/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "build-fuzz/$name.log" | tr '\n' ' '; echo
done
echo "all fuzz targets ran clean"
