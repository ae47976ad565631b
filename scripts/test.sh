#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test:
#  1. the whole suite as built for use;
#  2. the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#  3. the threaded tests under ThreadSanitizer (scripts/tsan.sh);
#  4. each fuzz target for a bounded time (scripts/fuzz.sh, FUZZ_SECONDS each);
#  5. the Windows build of the updater and its suites under Wine
#     (scripts/windows-test.sh); MORVEX_WINDOWS_STAGE=0 leaves it out.
# Tests that need a display get a private X server (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# PRESET: builds and tests the preset's folder (CMakePresets.json).
run_suite() {
  local preset=$1
  bash scripts/build.sh "$preset"
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$preset" -j 2 --timeout 600
}

echo "== tests"
run_suite default
echo "== tests under address,undefined sanitizers"
run_suite asan
echo "== threaded tests under the thread sanitizer"
bash scripts/tsan.sh
echo "== fuzz targets, ${FUZZ_SECONDS:-60} s each"
bash scripts/fuzz.sh
if [ "${MORVEX_WINDOWS_STAGE:-1}" != 0 ]; then
  echo "== Windows build, suites under Wine"
  windows_start=$SECONDS
  bash scripts/windows-test.sh
  echo "== Windows stage took $((SECONDS - windows_start)) s"
fi
