#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test:
#  1. the whole suite as built for use;
#  2. the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#  3. the threaded tests under ThreadSanitizer (scripts/tsan.sh);
#  4. each fuzz target for a bounded time (scripts/fuzz.sh, FUZZ_SECONDS each);
#  5. the Windows build of the updater, its suites under Wine (scripts/windows-test.sh).
# Tests that need a display get a private X server (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

run_suite() {
  local dir=$1; shift
  bash scripts/build.sh "$dir" "$@"
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$dir" --output-on-failure -j 2 --timeout 600
}

echo "== tests"
run_suite build
echo "== tests under address,undefined sanitizers"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DSANITIZE=address,undefined -DMORVEX_BUILD_BENCH=OFF
echo "== threaded tests under the thread sanitizer"
bash scripts/tsan.sh
echo "== fuzz targets, ${FUZZ_SECONDS:-60} s each"
bash scripts/fuzz.sh
echo "== Windows build, suites under Wine"
windows_start=$SECONDS
bash scripts/windows-test.sh
echo "== Windows stage took $((SECONDS - windows_start)) s"
