#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite. The run fails when the suite
# leaves a service process (taskschedd or taskschedd-exec) behind.
# Usage: scripts/test.sh [--sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh "$@"
build_dir=build
[[ "${1:-}" == "--sanitize" ]] && build_dir=build-asan
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
# Every process the suite starts inherits this mark, so that its leftovers can be told apart
# from service processes that other programs on the machine run.
export TASKSCHEDULER_TEST_RUN="test-run-$$-$(date +%s%N)"
status=0
ctest --test-dir "$build_dir" --output-on-failure --parallel 2 || status=$?
bash scripts/leftover-services.sh "$TASKSCHEDULER_TEST_RUN" || status=1
exit "$status"
