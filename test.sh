#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero on any failure.
# The same tests under AddressSanitizer + UBSan: tools/sanitize.sh.
# VELLORAN_BUILD_DIR names another build folder (default: build), for instance one configured with
# -DVELLORAN_SHARED_DIR=/nowhere to run the suite as a checkout without the shared fixtures.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES $VELLORAN_TEST_PACKAGES
velloran_ensure_npm

build=${VELLORAN_BUILD_DIR:-build}
velloran_build "$build" -DCMAKE_BUILD_TYPE=Release

export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --test-dir "$build" --output-on-failure -j2 | tee "$log" || status=$?

# Tests that need the shared fixtures skip without them; say so once, with how many.
shared=$(sed -n 's/^VELLORAN_SHARED_DIR:PATH=//p' "$build/CMakeCache.txt")
shared=${shared:-../shared}
if [ ! -d "$shared/fixtures" ]; then
  skipped=$(grep -c '\*\*\*Skipped' "$log" || true)
  echo "$skipped tests skipped: ../shared (the fixtures) is absent"
fi
exit "$status"
