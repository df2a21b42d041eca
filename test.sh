#!/usr/bin/env bash
# Sets everything up and runs every test: the normal build, the same tests
# under AddressSanitizer + UndefinedBehaviorSanitizer, and a short run of each
# fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
cd "$root"
"$root/scripts/install-deps.sh"

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

echo "== build (RelWithDebInfo)"
"$root/scripts/build.sh" build
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

echo "== build (ASan + UBSan)"
"$root/scripts/build.sh" build-asan -DBRELVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
echo "== tests under ASan + UBSan"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600

echo "== fuzz targets (smoke run)"
"$root/scripts/build.sh" build-fuzz -DBRELVO_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
"$root/scripts/fuzz-smoke.sh" build-fuzz "${FUZZ_SECONDS:-10}"

echo "== all tests passed"
