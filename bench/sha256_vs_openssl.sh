#!/bin/sh
# Times SHA-256 of one 256 MB file with `openssl dgst -sha256`, `sha256sum`
# and our hash_bench (Sha256Hash under Wine), printing MB/s (10^6 bytes) of
# each. The command-line tools are timed whole (start-up and reading the file
# from the page cache included), best of three; hash_bench times the hashing
# of the file's contents in memory.
#   bench/sha256_vs_openssl.sh [--smoke] [build-dir]
# --smoke: one run of each on a 1 MiB file, to prove the script works; its
# figures mean nothing.
set -eu

SIZE=268435456
SMOKE=
RUNS="1 2 3"
if [ "${1:-}" = --smoke ]; then SIZE=1048576 SMOKE=--smoke RUNS=1; shift; fi
BUILD=$(cd "${1:-$(dirname "$0")/../out}" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FILE="$WORK/input.bin"
head -c "$SIZE" /dev/urandom > "$FILE"

if ! command -v openssl >/dev/null 2>&1; then
  echo "openssl is not installed (apt-get install openssl)" >&2
  exit 1
fi

# Best wall-clock seconds of three runs of the command given.
best_seconds() {
  best=""
  for run in $RUNS; do
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-1e9}" | awk '{t = $2 - $1; print (t < $3 ? t : $3)}')
  done
  echo "$best"
}

rate() {
  echo "$1" | awk -v size="$SIZE" '{printf "%.2f", size / 1e6 / $1}'
}

# Each step on its own line, so that a tool's failure ends the script.
openssl_seconds=$(best_seconds openssl dgst -sha256 "$FILE")
sha256sum_seconds=$(best_seconds sha256sum "$FILE")
openssl_rate=$(rate "$openssl_seconds")
sha256sum_rate=$(rate "$sha256sum_seconds")
ours=$("$BUILD/wine-run" "$BUILD/bench/hash_bench.exe" $SMOKE "Z:$(echo "$FILE" | tr / '\\')")
ours_rate=$(echo "$ours" | awk '/^SHA-256/ {print $(NF - 1)}')
[ -n "$ours_rate" ] || { echo "hash_bench gave no SHA-256 rate: $ours" >&2; exit 1; }

printf '%-32s %10s MB/s\n' "openssl dgst -sha256" "$openssl_rate" \
  "sha256sum" "$sha256sum_rate" "Sha256Hash (hash_bench)" "$ours_rate"
echo "$ours_rate $openssl_rate" | awk '{printf "Sha256Hash / openssl: %.2f\n", $1 / $2}'
