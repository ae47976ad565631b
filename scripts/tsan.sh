#!/usr/bin/env bash
# tsan.sh [ctest options...]: builds the project with ThreadSanitizer (preset
# tsan, folder build-tsan) and runs the tests labelled `threads`, those in
# which threads meet: the update worker and its window messages, the viewer's
# document worker and its window, progress posted from transfers, the
# transfers themselves, the installation lock and the named event. Tests that
# need a display stay out, and the windows are not built: the toolkit's own
# threads are not instrumented and would only report themselves.
#
# Any race or lock-order report fails the test it happens in (halt_on_error):
# a report is a finding, not a warning. tests/tsan.supp lists what is
# suppressed, for third-party libraries only. Further ctest options narrow the
# run (for example -R NamedEvent).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh tsan
ctest --preset tsan "$@"
