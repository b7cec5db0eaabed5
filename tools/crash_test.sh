#!/usr/bin/env bash
# The long form of the SIGKILL crash test: the workload of tools/crash_workload.cpp killed at
# random moments, 200 times by default, each kill followed by recovery, the integrity check and a
# comparison with the model rebuilt from the workload's log (tests/jet/crash_kill_test.cpp).
#
# usage: tools/crash_test.sh [KILLS]      (or VELLORAN_CRASH_KILLS=N; VELLORAN_CRASH_SEED=S replays a run)
# Builds what it needs into build/ (VELLORAN_BUILD_DIR to use another folder). Exits non-zero on
# any failure; the seed to replay it is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES
build=${VELLORAN_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
export VELLORAN_CRASH_KILLS=${1:-${VELLORAN_CRASH_KILLS:-200}}
if ! [[ "$VELLORAN_CRASH_KILLS" =~ ^[1-9][0-9]*$ ]]; then
  echo "crash_test.sh: the number of kills must be a positive whole number, not \"$VELLORAN_CRASH_KILLS\"" >&2
  exit 2
fi
cmake --build "$build" --target jet_tests velloran-crash-workload
export LC_ALL=C.UTF-8
"$build/bin/jet_tests" --gtest_filter='CrashKill.*'
