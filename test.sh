#!/usr/bin/env bash
# Builds Twinsifter and runs its tests. With --sanitize: the core's tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of their own.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)
if [[ "${1:-}" == "--sanitize" ]]; then
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTWINSIFTER_SANITIZE=ON >/dev/null
  cmake --build build-sanitize
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
else
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build
  ctest --test-dir build --output-on-failure -j "$jobs"
fi
