#!/bin/sh
# Installs mdb-reader (an independent JavaScript reader of Access files that the tests use as a
# second opinion on the files we write) into DIR/node_modules, at a pinned version.
# usage: install-mdb-reader.sh DIR
set -eu
exec "$(dirname "$0")/install-npm-package.sh" "${1:?usage: install-mdb-reader.sh DIR}" mdb-reader 3.2.0
