#!/usr/bin/env bash
# Builds the program and starts it; the arguments go to the program (./run.sh --demo opens a
# demo catalogue of 5,000 songs, built the first time).
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES
velloran_build build -DCMAKE_BUILD_TYPE=Release >/dev/null

if [ -x build/bin/velloran ]; then
  exec build/bin/velloran "$@"
fi
echo "The build did not produce build/bin/velloran; see the messages above."
exit 1
