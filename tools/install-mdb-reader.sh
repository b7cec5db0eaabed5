#!/bin/sh
# Installs mdb-reader (an independent JavaScript reader of Access files that the tests use as a
# second opinion on the files we write) into DIR/node_modules with npm, at a pinned version.
# Does nothing when it is already there; safe when several tests run it at once.
# usage: install-mdb-reader.sh DIR
set -eu
dir=${1:?usage: install-mdb-reader.sh DIR}
version=3.2.0
command -v npm >/dev/null 2>&1 || { echo "install-mdb-reader.sh: npm is not installed" >&2; exit 3; }
mkdir -p "$dir"
exec 9>"$dir/.install.lock"
flock 9
manifest="$dir/node_modules/mdb-reader/package.json"
if [ -f "$manifest" ] && grep -q "\"version\": \"$version\"" "$manifest"; then
  exit 0
fi
# A package.json of its own keeps npm from installing into a parent folder's project.
[ -f "$dir/package.json" ] || printf '{ "private": true }\n' > "$dir/package.json"
npm install --prefix "$dir" --no-audit --no-fund --loglevel=error "mdb-reader@$version" >&2
