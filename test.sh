#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero on any failure.
# The engine's tests run twice: in the release build and under AddressSanitizer + UBSan.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES $VELLORAN_TEST_PACKAGES
velloran_ensure_npm

velloran_build build -DCMAKE_BUILD_TYPE=Release
velloran_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORAN_SANITIZE=ON

export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== release build"
ctest --test-dir build --output-on-failure -j2 || status=1
echo "== sanitizer build"
ctest --test-dir build-asan --output-on-failure -j2 || status=1
exit $status
