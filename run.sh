#!/usr/bin/env bash
# Builds the program and starts it. Until the window arrives, it builds everything and shows
# what the command-line tools can do.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velloran_ensure_packages $VELLORAN_BUILD_PACKAGES
velloran_build build -DCMAKE_BUILD_TYPE=Release >/dev/null

if [ -x build/bin/velloran ]; then
  exec build/bin/velloran "$@"
fi
echo "Built into build/bin/. The program window is not there yet; the engine's tool is:"
echo
build/bin/velloran-jet 2>&1 || true
