#!/bin/sh
# Copy and delete of one 5,000-file, 200 MB tree: file_util_bench (our
# CopyDirectory and DeletePath, and CopyFileW/DeleteFileW loops, all under
# Wine) and then `cp -r` and `rm -r` from the Linux side on the very same
# files. Every figure is the best of three runs, in MB/s (10^6 bytes).
#   bench/file_util_vs_baselines.sh [--smoke] [build-dir] [work-folder]
# The work folder (default: a new one under the build folder, on the same
# file system as the Wine prefix) is removed at the end. --smoke: one run of
# each on file_util_bench's smoke tree, to prove the script works; its
# figures mean nothing.
set -eu

SMOKE=
RUNS="1 2 3"
if [ "${1:-}" = --smoke ]; then SMOKE=--smoke RUNS=1; shift; fi
BUILD=$(cd "${1:-$(dirname "$0")/../out}" && pwd)
WORK=${2:-$BUILD/file_util_bench_work}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
trap 'rm -rf "$WORK"' EXIT

"$BUILD/wine-run" "$BUILD/bench/file_util_bench.exe" $SMOKE "Z:$(echo "$WORK" | tr / '\\')"

SOURCE="$WORK/source"
BYTES=$(du -sb --apparent-size "$SOURCE" | awk '{print $1}')
FILES=$(find "$SOURCE" -type f | wc -l)

best_seconds() {
  best=""
  for run in $RUNS; do
    rm -rf "$WORK/copy"
    [ "$1" = rm ] && cp -r "$SOURCE" "$WORK/copy"
    start=$(date +%s.%N)
    if [ "$1" = cp ]; then cp -r "$SOURCE" "$WORK/copy"; else rm -r "$WORK/copy"; fi
    end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-1e9}" | awk '{t = $2 - $1; print (t < $3 ? t : $3)}')
  done
  echo "$best"
}

for tool in cp rm; do
  seconds=$(best_seconds $tool)
  echo "$seconds $BYTES $FILES" | awk -v name="$tool -r (Linux)" \
    '{printf "%-48s %14.2f MB/s\n%-48s %14.2f files/s\n", name, $2 / 1e6 / $1, name, $3 / $1}'
done
