#!/usr/bin/env bash
# tsan.sh [ctest options...]: builds the project with ThreadSanitizer and runs
# the tests in which threads meet: the update worker and its window messages,
# the viewer's document worker and its window, progress posted from transfers,
# the transfers themselves, the installation lock and the named event.
#
# Any race or lock-order report fails the test it happens in (halt_on_error):
# a report is a finding, not a warning. tests/tsan.supp lists what is
# suppressed, for third-party libraries only. TSAN_BUILD (default build-tsan)
# is the build directory; TSAN_TESTS overrides the selection (a ctest -R
# regular expression).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TSAN_BUILD:-build-tsan}
tests=${TSAN_TESTS:-'UpdateSequence|SuccessfulUpdate|BrokenDelivery|UpdateDialog|DocumentWorkerTest|ViewerDialogLogic|ViewerDownload|HostileDownload|Download\.|Upload\.|Progress\.|Connection\.|NamedEvent|InstallLock'}

if [ ! -f "$build/build.ninja" ]; then
  # The windows stay out: the toolkit's own threads are not instrumented and
  # would only report themselves.
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=thread \
    -DMORVEX_BUILD_GUI=OFF -DMORVEX_BUILD_BENCH=OFF
fi
cmake --build "$build" -j "${TSAN_JOBS:-$(nproc)}"

export TSAN_OPTIONS=${TSAN_OPTIONS:-"halt_on_error=1 second_deadlock_stack=1 history_size=4 suppressions=$PWD/tests/tsan.supp"}
ctest --test-dir "$build" -R "$tests" --output-on-failure --timeout 900 "$@"
