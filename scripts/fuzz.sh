#!/usr/bin/env bash
# fuzz.sh [TARGET...]: builds the libFuzzer targets with clang (ASan + UBSan)
# and runs each for FUZZ_SECONDS (default 60) from its seed corpus in
# tests/fuzz/corpus/. Fails when any target finds a crash, a broken invariant,
# a leak, a time-out (FUZZ_TIMEOUT seconds for one input, default 30) or an
# input that needs more than FUZZ_RSS_MB of memory (default 2560).
#
# Prints per target the executions run and the corpus size. The build (preset
# fuzz), the corpus grown during the run and any finding stay in build-fuzz:
# fuzz-corpus/<target>/ and fuzz-findings/<target>/. A finding is reproduced
# with: build-fuzz/fuzz/<target> <finding file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build-fuzz
timeout=${FUZZ_TIMEOUT:-30}
rss=${FUZZ_RSS_MB:-2560}
all=(fuzz_ini fuzz_descramble fuzz_compare_versions fuzz_archive fuzz_mht fuzz_viewer_args fuzz_minisign)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

JOBS=${JOBS:-2} bash scripts/build.sh fuzz --target "${targets[@]}"

# Leaks count as findings (libFuzzer checks each input that allocates more
# than it frees); memory still reachable at exit, such as GLib's type
# registrations under the MHT converter, is not a leak.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
printf '%-24s %12s %12s %s\n' target executions corpus result
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  findings="$build/fuzz-findings/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  rm -f "$findings"/*
  status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb="$rss" \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "tests/fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # The corpus as libFuzzer counts it at the end: inputs/bytes.
  size=$(grep -o 'corp: [0-9]*/[0-9a-zA-Z]*' "$log" | tail -1 | cut -d' ' -f2)
  result=ok
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    result="FINDING (exit $status): $(ls "$findings" | tr '\n' ' ')see $log"
    failed+=("$target")
  fi
  printf '%-24s %12s %12s %s\n' "$target" "${executions:-?}" "${size:-?}" "$result"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
