#!/bin/sh
# Installs one npm package NAME at a pinned VERSION into DIR/node_modules: the independent tools
# the tests use (mdb-reader, a second reader of Access files; puppeteer-core, which drives a
# headless chromium). Does nothing when it is already there; safe when several tests run it at once.
# usage: install-npm-package.sh DIR NAME VERSION
set -eu
dir=${1:?usage: install-npm-package.sh DIR NAME VERSION}
name=${2:?usage: install-npm-package.sh DIR NAME VERSION}
version=${3:?usage: install-npm-package.sh DIR NAME VERSION}
command -v npm >/dev/null 2>&1 || { echo "install-npm-package.sh: npm is not installed" >&2; exit 3; }
mkdir -p "$dir"
exec 9>"$dir/.install.lock"
flock 9
manifest="$dir/node_modules/$name/package.json"
if [ -f "$manifest" ] && grep -q "\"version\": \"$version\"" "$manifest"; then
  exit 0
fi
# A package.json of its own keeps npm from installing into a parent folder's project.
[ -f "$dir/package.json" ] || printf '{ "private": true }\n' > "$dir/package.json"
npm install --prefix "$dir" --no-audit --no-fund --loglevel=error "$name@$version" >&2
