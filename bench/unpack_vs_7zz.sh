#!/bin/sh
# Unpacking the benchmark package (bench/make_unpack_archive.py: 300 files,
# 188 MB, one solid LZMA block) with PackageUnpacker under Wine against
# `7zz x -mmt=1`, and the package's SHA-256 through ChecksumMatches against
# `openssl dgst -sha256`. Whole processes timed by /usr/bin/time, five runs
# in turn each, medians printed with peak memory and the ratios. Both
# unpackers overwrite the files of the run before, each in its own folder.
#   bench/unpack_vs_7zz.sh [--smoke] [build-dir] [work-folder]
# The work folder (default: under the build folder) keeps the archive for
# later runs; nothing of it is committed. Run it inside a Wine session
# (bench/wine-session), or each run pays for starting a wineserver. --smoke:
# one run of each, no warm-up, on 10 files of 1 MB, to prove the script
# works; its figures mean nothing.
set -eu

RUNS=5
WARMUP=yes
PAYLOAD=
if [ "${1:-}" = --smoke ]; then RUNS=1 WARMUP=no PAYLOAD="10 1000000"; shift; fi
BUILD=$(cd "${1:-$(dirname "$0")/../out}" && pwd)
WORK=${2:-$BUILD/unpack_bench_work}
# Both unpackers start from empty folders: files of another payload left
# there would be compared as if unpacked.
rm -rf "$WORK/ours" "$WORK/7zz"
mkdir -p "$WORK/ours" "$WORK/7zz"
WORK=$(cd "$WORK" && pwd)
python3 "$(dirname "$0")/make_unpack_archive.py" "$WORK" $PAYLOAD
ARCHIVE="$WORK/package.7z"
winpath() { printf 'Z:%s\n' "$1" | tr / '\\'; }

# Prints "<wall seconds> <peak KB>" of one run of the command given.
measure() {
  /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" > /dev/null 2>&1
  cat "$WORK/time.txt"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

compare() {  # name_a, name_b; the commands come from run_a and run_b
  : > "$WORK/a.txt"; : > "$WORK/b.txt"
  if [ $WARMUP = yes ]; then run_a > /dev/null; run_b > /dev/null; fi
  i=0
  while [ $i -lt $RUNS ]; do
    run_a >> "$WORK/a.txt"
    run_b >> "$WORK/b.txt"
    i=$((i + 1))
  done
  a=$(cut -d' ' -f1 "$WORK/a.txt" | median); b=$(cut -d' ' -f1 "$WORK/b.txt" | median)
  a_peak=$(cut -d' ' -f2 "$WORK/a.txt" | median); b_peak=$(cut -d' ' -f2 "$WORK/b.txt" | median)
  echo "$a $a_peak" | awk -v n="$1" '{printf "%-40s %8.3f s  peak %7.1f MiB\n", n, $1, $2 / 1024}'
  echo "$b $b_peak" | awk -v n="$2" '{printf "%-40s %8.3f s  peak %7.1f MiB\n", n, $1, $2 / 1024}'
  echo "$a $b" | awk '{printf "%-40s %8.2f\n", "time ratio", $1 / $2}'
}

run_a() { measure "$BUILD/wine-run" "$BUILD/bench/package_unpack_bench.exe" unpack \
  "$(winpath "$ARCHIVE")" "$(winpath "$WORK/ours")"; }
run_b() { measure 7zz x -bso0 -bsp0 -mmt=1 -aoa "-o$WORK/7zz" "$ARCHIVE"; }
compare "PackageUnpacker::UnPack (Wine)" "7zz x -mmt=1"
diff -r "$WORK/ours" "$WORK/7zz"

SHA256=$(openssl dgst -sha256 -r "$ARCHIVE" | cut -d' ' -f1)
run_a() { measure "$BUILD/wine-run" "$BUILD/bench/package_unpack_bench.exe" checksum \
  "$(winpath "$ARCHIVE")" "$SHA256"; }
run_b() { measure openssl dgst -sha256 "$ARCHIVE"; }
compare "ChecksumMatches (Wine)" "openssl dgst -sha256"
SIZE=$(stat -c %s "$ARCHIVE")
# Apart from the pipe, so that the program's failure ends the script.
inside=$("$BUILD/wine-run" "$BUILD/bench/package_unpack_bench.exe" checksum \
  "$(winpath "$ARCHIVE")" "$SHA256")
echo "$inside" | awk -v size="$SIZE" '/ChecksumMatches/ {printf "%-40s %8.0f MB/s of %d bytes\n", "ChecksumMatches in process", $2, size}'
