#!/usr/bin/env bash
# Sets everything up and runs every test: the documentation's links and
# names, the normal build, the tools' links, the same tests under AddressSanitizer +
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and a short run of
# each fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
cd "$root"
"$root/scripts/install-deps.sh"

# Take a second: a broken link in the documentation, or a page that leaves
# out a test folder or a fuzz target, fails before the long builds.
echo "== documentation links"
"$root/scripts/check-links.py" "$root"
echo "== documentation names what is there"
"$root/scripts/check-docs.py" "$root"

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
# Every build made here stops at a warning. The package build and a plain
# cmake build do not, so that a newer compiler's new warning cannot keep a
# user from building.
strict=-DBRELVO_WERROR=ON

echo "== build (RelWithDebInfo)"
"$root/scripts/build.sh" build "$strict"
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300 | tee build/ctest.log

echo "== tool links"
"$root/scripts/check-tool-links.sh" build

echo "== install check"
"$root/scripts/check-install.sh" build

echo "== Debian package"
"$root/scripts/package-deb.sh"
"$root/scripts/check-deb.sh" "$root"/brelvomp3_*_"$(dpkg --print-architecture)".deb

echo "== build (ASan + UBSan)"
"$root/scripts/build.sh" build-asan "$strict" -DBRELVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
echo "== tests under ASan + UBSan"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 | tee build-asan/ctest.log

echo "== build (ThreadSanitizer, clang)"
# Tests are listed when they run, not when they are built, so that the
# listing too runs without address-space randomisation (below).
"$root/scripts/build.sh" build-tsan "$strict" -DBRELVO_TSAN=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
echo "== tests under ThreadSanitizer"
# Qt is not built with ThreadSanitizer: its internals are suppressed. Clang
# 14's ThreadSanitizer cannot run under the address-space randomisation of
# some kernels, hence setarch -R.
TSAN_OPTIONS="suppressions=$root/scripts/sanitizers/tsan-qt.supp" \
  setarch "$(uname -m)" -R ctest --test-dir build-tsan --output-on-failure -j "$jobs" --timeout 900 \
  | tee build-tsan/ctest.log

echo "== fuzz targets (smoke run)"
"$root/scripts/build.sh" build-fuzz "$strict" -DBRELVO_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
"$root/scripts/fuzz-smoke.sh" build-fuzz "${FUZZ_SECONDS:-10}" | tee build-fuzz/fuzz.log

# One closing line over all four runs: CTest's counts three times, plus one
# per fuzz target (each run reached this point, so none failed).
count() { grep -Eo 'out of [0-9]+' "$1" | tail -n 1 | grep -Eo '[0-9]+'; }
fuzzed=$(grep -c ', no failure$' build-fuzz/fuzz.log || true)
total=$(( $(count build/ctest.log) + $(count build-asan/ctest.log) + $(count build-tsan/ctest.log) + fuzzed ))
echo "all: $total passed, 0 failed"
