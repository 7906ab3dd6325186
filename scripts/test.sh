#!/usr/bin/env bash
# Builds everything and runs every test: first a normal build with the
# desktop program, then the core again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the update engine under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCARRYVALE_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== core under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCARRYVALE_GUI=OFF -DCARRYVALE_SANITIZE=ON -DCARRYVALE_WERROR=ON
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j"$jobs")

echo "== the update and unload engines' threads under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCARRYVALE_GUI=OFF -DCARRYVALE_SANITIZE=thread -DCARRYVALE_WERROR=ON
cmake --build build-tsan -j"$jobs" --target core_tests memory_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ./build-tsan/core_tests --gtest_filter='UpdateThreads.*:UpdateEngine.*:UpdateFaults.*:UnloadThreads.*:ExtractTest.*:UnloadKill.*:UnloadNamesTest.*'
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ./build-tsan/memory_tests
