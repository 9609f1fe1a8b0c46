#!/usr/bin/env bash
# Runs the test suites under sanitizers: every suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the suites that run work on threads (the recovery session, the
# Basic Search, which names folders on two threads, and the save runs, which make folders on a
# second thread) with ThreadSanitizer. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKFR_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j "$jobs" >/dev/null
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKFR_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=thread" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j "$jobs" --target kfr_session_tests kfr_recovery_tests kfr_export_tests kfr_fixtures >/dev/null
TSAN_OPTIONS=halt_on_error=1 build-tsan/bin/kfr_session_tests
(cd build-tsan/tests && TSAN_OPTIONS=halt_on_error=1 ../bin/kfr_recovery_tests &&
  TSAN_OPTIONS=halt_on_error=1 ../bin/kfr_export_tests)
