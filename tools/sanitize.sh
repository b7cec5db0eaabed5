#!/usr/bin/env bash
# Builds the engine's tests with AddressSanitizer + UBSan into build-asan/ and runs them; the
# randomized write tests run a shorter course there. Exits non-zero on any finding or failure.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES $VELLORAN_TEST_PACKAGES
velloran_ensure_npm
if [ ! -f build-asan/build.ninja ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORAN_SANITIZE=ON >/dev/null
fi
cmake --build build-asan --target jet_tests catalogue_tests velloran-jet
export LC_ALL=C.UTF-8
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Only the tests of what was built here: the others are listed too, as not built, and the
# end-to-end window tests want the program itself.
VELLORAN_RANDOM_WRITES_SCALE=0.2 ctest --test-dir build-asan --output-on-failure -j2 -E '_NOT_BUILT$|^window_'
