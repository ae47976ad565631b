#!/usr/bin/env bash
# build.sh [PRESET] [cmake --build options...]: configures the build folder of
# the preset (CMakePresets.json: default, asan, tsan, fuzz) and builds it.
# Configuring runs every time: a folder configured earlier with other options
# gets the preset's options back instead of being reused as it is. JOBS sets
# the parallel jobs (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}; shift || true
cmake --preset "$preset"
cmake --build --preset "$preset" -j "${JOBS:-$(nproc)}" "$@"
