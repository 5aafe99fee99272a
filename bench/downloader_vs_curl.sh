#!/bin/sh
# Downloads one 200 MB file (10^6-byte MB) from the tests' HTTP server on
# 127.0.0.1 into a file with the installer's downloader and with curl, five
# times each, and prints the median rates in MB/s and their ratio. Ours is
# given twice: inside the process (downloader_bench: request to completion)
# and for the whole program under Wine, start-up included, as curl's is.
#   bench/downloader_vs_curl.sh [--smoke] [build-dir]
# --smoke: one run of each on a 1 MB file, to prove the script works; its
# figures mean nothing.
set -eu

SIZE=200000000
RUNS=5
if [ "${1:-}" = --smoke ]; then SIZE=1000000 RUNS=1; shift; fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/out}" && pwd)
WORK=$(mktemp -d)
SERVER_INPUT="$WORK/server-input"
mkfifo "$SERVER_INPUT"
cleanup() {
  exec 3>&- 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

python3 "$ROOT/tests/e2e/http_test_server.py" "$SIZE" < "$SERVER_INPUT" > "$WORK/server" &
SERVER=$!
exec 3> "$SERVER_INPUT"
while [ ! -s "$WORK/server" ]; do
  kill -0 "$SERVER" 2>/dev/null || { echo "the HTTP server did not start" >&2; exit 1; }
  sleep 0.1
done
read -r URL DIGEST < "$WORK/server"
OUT="$WORK/download.bin"
WINDOWS_OUT="Z:$(echo "$OUT" | tr / '\\')"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() {
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$start $end" | awk '{ print $2 - $1 }'
}
rate() { echo "$1" | awk -v size="$SIZE" '{ printf "%.1f", size / 1e6 / $1 }'; }

: > "$WORK/curl" && : > "$WORK/whole"
for run in $(seq "$RUNS"); do
  seconds curl -s -o "$OUT" "$URL" >> "$WORK/curl"
  seconds "$BUILD/wine-run" "$BUILD/bench/downloader_bench.exe" "$URL" "$WINDOWS_OUT" 1 >> "$WORK/whole"
done
[ "$(sha256sum "$OUT" | cut -d' ' -f1)" = "$DIGEST" ] || { echo "download differs" >&2; exit 1; }
# Apart from the pipe, so that the program's failure ends the script.
rates=$("$BUILD/wine-run" "$BUILD/bench/downloader_bench.exe" "$URL" "$WINDOWS_OUT" "$RUNS")
inside=$(echo "$rates" | awk '/^median/ { print $2 }')
[ -n "$inside" ] || { echo "downloader_bench gave no median: $rates" >&2; exit 1; }
curl_rate=$(rate "$(median < "$WORK/curl")")
whole_rate=$(rate "$(median < "$WORK/whole")")

printf '%-44s %10s MB/s\n' "curl (whole program)" "$curl_rate" \
  "WinInetDownloader (whole program, Wine)" "$whole_rate" \
  "WinInetDownloader (request to completion)" "$inside"
echo "$whole_rate $inside $curl_rate" |
  awk '{ printf "ratio to curl: %.2f whole program, %.2f request to completion\n", $1 / $3, $2 / $3 }'
