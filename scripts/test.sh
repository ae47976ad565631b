#!/usr/bin/env bash
# Sets up the machine, builds, and runs the whole test suite: once as built for
# use, once under AddressSanitizer and UndefinedBehaviorSanitizer.
# Tests that need a display get a private X server (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

run_suite() {
  local dir=$1; shift
  bash scripts/build.sh "$dir" "$@"
  # One private display for every window the tests open.
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$dir" --output-on-failure -j 2 --timeout 600
}

echo "== tests"
run_suite build
echo "== tests under address,undefined sanitizers"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DSANITIZE=address,undefined -DMORVEX_BUILD_BENCH=OFF
