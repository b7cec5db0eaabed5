#!/usr/bin/env bash
# Fuzzes the engine for SECONDS seconds (default 60) with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer.
#
#   tools/fuzz.sh SECONDS [open|write]
#
# open (the default) runs fuzz-open-database: a file is opened, every row read and the whole file
# checked. write runs fuzz-write-database: a file is checked, opened for writing and changed as a
# host's program changes it (rows inserted and updated, a column added, a table created), then
# checked again; a change must leave a sound file sound or be refused.
#
# Builds build-fuzz/ with clang, seeds the fuzzer with the shared fixture databases (whole, and cut
# down to their first pages so that most inputs are small and fast), and runs the target. Inputs
# the fuzzer finds interesting accumulate in build-fuzz/corpus/TARGET and are reused by the next
# run. A crash, sanitizer report, leak or hang (an input slower than FUZZ_TIMEOUT seconds) leaves
# its reproducer in build-fuzz/findings/DATE-TIME/ and makes the script exit non-zero; run it
# again with `build-fuzz/bin/fuzz-TARGET-database FILE`.
#
# Environment: FUZZ_MAX_LEN (bytes, default 163840: about half the fixtures fit whole, the others
# are cut down; larger inputs are slower to run and to mutate),
# FUZZ_TIMEOUT (seconds, default 10), FUZZ_JOBS (parallel fuzzing processes, default 1).
set -euo pipefail

seconds=${1:-60}
target=${2:-open}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ] || ! [[ $target =~ ^(open|write)$ ]]; then
  echo "usage: tools/fuzz.sh SECONDS [open|write]" >&2
  exit 2
fi
binary=fuzz-$target-database
max_len=${FUZZ_MAX_LEN:-163840}
timeout=${FUZZ_TIMEOUT:-10}
jobs=${FUZZ_JOBS:-1}

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
fixtures=$root/../shared/fixtures

. "$root/scripts/deps.sh"
velloran_ensure_packages $VELLORAN_FUZZ_PACKAGES

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELLORAN_FUZZ=ON -DVELLORAN_SANITIZE=ON -DVELLORAN_TESTS=OFF >/dev/null
cmake --build "$build" --target "$binary"

# Seeds: each fixture whole when it fits max_len, and its first 8, 16, 32 and 64 pages.
seeds=$build/seeds
rm -rf "$seeds"
findings_dir=$build/findings/$(date +%Y%m%d-%H%M%S)
mkdir -p "$seeds" "$build/corpus/$target" "$findings_dir"
shopt -s nullglob
count=0
for f in "$fixtures"/*/*.mdb; do
  name=$(basename "$f" .mdb)
  size=$(stat -c %s "$f")
  # Byte 0x14 of the header: 0 for Access 97 (2 KiB pages), otherwise 4 KiB pages.
  version=$(od -An -tu1 -j20 -N1 "$f" | tr -d ' ')
  page=4096
  [ "$version" = 0 ] && page=2048
  if [ "$size" -le "$max_len" ]; then
    cp "$f" "$seeds/$name.mdb"
    count=$((count + 1))
  fi
  for pages in 8 16 32 64; do
    length=$((pages * page))
    if [ "$length" -lt "$size" ] && [ "$length" -le "$max_len" ]; then
      head -c "$length" "$f" >"$seeds/$name-$pages.mdb"
      count=$((count + 1))
    fi
  done
done
if [ "$count" -eq 0 ]; then
  echo "tools/fuzz.sh: no fixture databases in $fixtures" >&2
  exit 2
fi
echo "tools/fuzz.sh: $binary, $count seeds, $seconds s, max_len $max_len, timeout $timeout s, $jobs job(s)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
args=(-max_total_time="$seconds" -max_len="$max_len" -timeout="$timeout" -rss_limit_mb=2048
      -print_final_stats=1 -artifact_prefix="$findings_dir/")
if [ "$jobs" -gt 1 ]; then
  args+=(-fork="$jobs" -ignore_crashes=0)
fi
status=0
"$build/bin/$binary" "${args[@]}" "$build/corpus/$target" "$seeds" || status=$?

findings=("$findings_dir"/*)
if [ "$status" -ne 0 ] || [ ${#findings[@]} -gt 0 ]; then
  echo "tools/fuzz.sh: FINDINGS (exit status $status):" >&2
  for f in "${findings[@]}"; do echo "  $f" >&2; done
  [ "$status" -ne 0 ] || status=1
  exit "$status"
fi
rmdir "$findings_dir" 2>/dev/null || true
echo "tools/fuzz.sh: $binary: no findings in $seconds s"
