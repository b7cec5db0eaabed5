#!/usr/bin/env bash
# Checks that the engine's layers only look down: a file in jet/<layer>/ may include headers of its
# own layer and of the layers listed before it, never of one after it; and that the program's code
# (catalogue/ and everything above it) reaches the engine only through its public face (jet/*.h,
# jet/base/, jet/sql/ and jet/check/), never through the page and file formats beneath: rows are
# read by place, walked in an order and written through Database and RowEditor, whose headers name
# the types they take (the table definition, row places) without callers including where they live.
# Exit 1 with one line per offending include.
set -u
cd "$(dirname "$0")/.."
order=(base text file pages table schema jet sql check)
rank() { local i; for i in "${!order[@]}"; do [ "${order[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }
layer_of() {  # jet/pages/x.h -> pages; jet/x.h -> jet
  local rest=${1#jet/}
  case "$rest" in */*) echo "${rest%%/*}" ;; *) echo jet ;; esac
}
bad=0
while IFS= read -r f; do
  from=$(layer_of "$f"); fr=$(rank "$from")
  while IFS= read -r inc; do
    to=$(layer_of "$inc"); tr=$(rank "$to")
    if [ "$tr" -gt "$fr" ]; then echo "$f includes $inc, a layer above it ($to over $from)"; bad=1; fi
  done < <(grep -o '#include "jet/[^"]*"' "$f" | sed 's/#include "//;s/"$//')
done < <(git ls-files 'jet/*.h' 'jet/*.cpp')
# Above the engine: only the public face.
while IFS= read -r f; do
  while IFS= read -r inc; do
    case "$(layer_of "$inc")" in
      jet|base|sql|check) ;;
      *) echo "$f includes $inc, beneath the engine's public face"; bad=1 ;;
    esac
  done < <(grep -o '#include "jet/[^"]*"' "$f" | sed 's/#include "//;s/"$//')
done < <(git ls-files 'catalogue/*' 'mainwindow/*' 'app/*' 'flags/*' 'print/*' 'admin/*' 'singers/*' 'requests/*' 'platform/*' | grep -E '\.(h|cpp)$')
[ "$bad" -eq 0 ] && echo "layers: every include looks down"
exit "$bad"
