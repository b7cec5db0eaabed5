#!/usr/bin/env bash
# The long form of the read isolation test: two writer processes against the export tool, the SQL
# tool, a table set and the program's search, for many more rounds than the suite runs
# (tests/catalogue/read_isolation_test.cpp), repeated.
#
# usage: tools/isolation_soak.sh [ROUNDS [RUNS]]   (defaults: 500 rounds per writer, 3 runs)
# Builds into build/ first (VELLORAN_BUILD_DIR to use another folder). Exits non-zero on the
# first run that finds a read of no committed state or an error other than "try again".
set -euo pipefail
rounds=${1:-500}
runs=${2:-3}
for n in "$rounds" "$runs"; do
  if ! [[ "$n" =~ ^[1-9][0-9]*$ ]]; then
    echo "isolation_soak.sh: rounds and runs must be positive whole numbers, not \"$n\"" >&2
    exit 2
  fi
done
cd "$(dirname "$0")/.."
. scripts/deps.sh
build=${VELLORAN_BUILD_DIR:-build}
velloran_build "$build" -DCMAKE_BUILD_TYPE=Release
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen VELLORAN_ISOLATION_ROUNDS=$rounds
for ((run = 1; run <= runs; ++run)); do
  echo "run $run of $runs: $rounds rounds per writer"
  "$build/bin/catalogue_tests" --gtest_filter='ReadIsolation.*'
done
