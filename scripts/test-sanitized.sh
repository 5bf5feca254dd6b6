#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a
# build folder of its own and runs every test headless, then the tests that
# cancel work many times over, several at once; any sanitizer report fails
# the run. Extra arguments go to ctest (e.g. -E '^e2e\.').
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh test

build="${PW_SANITIZED_BUILD_DIR:-build-sanitized}"
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
export QT_QPA_PLATFORM=offscreen
# A failed allocation reaches the program as it would without the sanitizer
# (malloc and calloc give null), so that the program's own handling of it is
# what the out-of-memory tests see. Leaks are checked at every exit, Qt's
# included: none needs suppressing. Set before building: the build lists
# each test program's tests by running it.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
cmake --build "$build" -j "$(nproc)"
status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)" "$@" || status=$?
# A report from a process whose exit status no test looks at still counts.
if grep -nE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$build/Testing/Temporary/LastTest.log"; then
  echo "Sanitizer reports above." >&2
  exit 1
fi
[ "$status" -eq 0 ] || exit "$status"

# Work cancelled while it runs meets the canceller at a moment that timing
# decides, so one passing run proves little: the tests that cancel openings
# and saves run again, each copy repeating them, twice as many copies at
# once as there are cores. PW_CANCEL_REPEATS=0 leaves this out.
repeats="${PW_CANCEL_REPEATS:-20}"
if [ "$repeats" -gt 0 ]; then
  start=$SECONDS
  logs="$build/cancelled-work-runs"
  rm -rf "$logs" && mkdir -p "$logs"
  copies=$((2 * $(nproc)))
  pids=()
  for copy in $(seq "$copies"); do
    "$build/tests/base_tests" --gtest_brief=1 --gtest_repeat="$repeats" --gtest_filter='ParallelPieces.*Cancel*' \
      >"$logs/base-$copy.log" 2>&1 &
    pids+=($!)
    "$build/tests/files_tests" --gtest_brief=1 --gtest_repeat="$repeats" \
      --gtest_filter='CancelledWork.*:InterruptedSaves.*Cancel*:JpegReader.AProgressiveFile*:SpecialFilesTest.*UserCancels' \
      >"$logs/files-$copy.log" 2>&1 &
    pids+=($!)
    "$build/tests/controls_tests" --gtest_brief=1 --gtest_repeat="$repeats" --gtest_filter='WaitingTest.*Cancel*:ClosingTest.*Cancel*' \
      >"$logs/controls-$copy.log" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  if grep -lE 'ERROR: (Address|Leak)Sanitizer|runtime error:|\[  FAILED  \]' "$logs"/*.log; then
    echo "The cancelled work failed in the runs above (logs in $logs)." >&2
    status=1
  fi
  echo "Cancelled work: $copies copies at once, $repeats runs each, in $((SECONDS - start)) s"
fi
exit "$status"
