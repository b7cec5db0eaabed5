#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero on any failure.
# The same tests under AddressSanitizer + UBSan: tools/sanitize.sh.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES $VELLORAN_TEST_PACKAGES
velloran_ensure_npm

velloran_build build -DCMAKE_BUILD_TYPE=Release

export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2
