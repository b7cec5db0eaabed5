#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero on any failure.
# The engine's tests run twice: in the release build and under AddressSanitizer + UBSan (there the
# randomized write tests run a shorter course, to keep the whole run within a few minutes).
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES $VELLORAN_TEST_PACKAGES
velloran_ensure_npm

velloran_build build -DCMAKE_BUILD_TYPE=Release
if [ ! -f build-asan/build.ninja ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORAN_SANITIZE=ON >/dev/null
fi
cmake --build build-asan --target jet_tests catalogue_tests velloran-jet

export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== release build"
ctest --test-dir build --output-on-failure -j2 || status=1
echo "== sanitizer build"
VELLORAN_RANDOM_WRITES_SCALE=0.2 ctest --test-dir build-asan --output-on-failure -j2 || status=1
exit $status
