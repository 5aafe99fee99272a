#!/bin/sh
# A whole silent installation of the benchmark package under Wine, from
# starting `installer.exe --silent` to its exit (which waits for the
# backend), against `7zz x -mmt=1` of the same archive run natively. The
# package is the demo package with the unpacking benchmark's 300 files
# (188 MB, one solid LZMA block at -mx=5) added: bench/
# make_silent_install_package.py. Five runs in turn each, medians of the
# wall time with peak memory and the ratio, as bench/unpack_vs_7zz.sh does.
# Each installation goes into a folder of its own, removed after it; no
# statistics are sent and no preference defaults asked for, as no update
# server runs. The registry rows the installations wrote are removed at the
# end.
#   bench/silent_install_vs_7zz.sh [build-dir] [work-folder]
# Start a persistent wineserver (`wineserver -p`) first, or each run pays
# for starting one.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/out}" && pwd)
WORK=${2:-$BUILD/silent_install_bench_work}
RUNS=5
mkdir -p "$WORK/7zz"
WORK=$(cd "$WORK" && pwd)
/usr/bin/python3 "$ROOT/bench/make_silent_install_package.py" "$BUILD" "$WORK"
ARCHIVE="$WORK/package.7z"
winpath() { echo "Z:$1" | tr / '\\'; }

measure() {
  /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" > /dev/null 2>&1 || {
    echo "failed: $*" >&2; exit 1; }
  cat "$WORK/time.txt"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

run=0
run_a() {
  run=$((run + 1))
  target="$WORK/installed_$run"
  rm -rf "$target" "$WORK/temp"
  mkdir -p "$WORK/temp"
  measure "$BUILD/wine-run" "$(winpath "$WORK/installer/installer.exe")" --silent \
    "--installfolder=$(winpath "$target")" "--temp-folder=$(winpath "$WORK/temp")" \
    --allusers=0 --desktopshortcut=0 --startmenushortcut=0 --quicklaunchshortcut=0 \
    --pintotaskbar=0 --launchtarvo=0 --enable-installer-stats=0 \
    --with-feature:installer-pref-default-overrides-support=off
  [ -f "$target/installation_status.xml" ] || { echo "run $run installed nothing" >&2; exit 1; }
  rm -rf "$target"
}
run_b() { measure 7zz x -bso0 -bsp0 -mmt=1 -aoa "-o$WORK/7zz" "$ARCHIVE"; }

: > "$WORK/a.txt"; : > "$WORK/b.txt"
run_a > /dev/null; run_b > /dev/null  # warm-up
i=0
while [ $i -lt $RUNS ]; do
  run_a >> "$WORK/a.txt"
  run_b >> "$WORK/b.txt"
  i=$((i + 1))
done
a=$(cut -d' ' -f1 "$WORK/a.txt" | median); b=$(cut -d' ' -f1 "$WORK/b.txt" | median)
a_peak=$(cut -d' ' -f2 "$WORK/a.txt" | median); b_peak=$(cut -d' ' -f2 "$WORK/b.txt" | median)
echo "archive $(stat -c %s "$ARCHIVE") bytes, $(7zz l -ba "$ARCHIVE" | wc -l) entries"
echo "$a $a_peak" | awk '{printf "%-40s %8.3f s  peak %7.1f MiB\n", "installer.exe --silent (Wine)", $1, $2 / 1024}'
echo "$b $b_peak" | awk '{printf "%-40s %8.3f s  peak %7.1f MiB\n", "7zz x -mmt=1", $1, $2 / 1024}'
echo "$a $b" | awk '{printf "%-40s %8.2f\n", "time ratio", $1 / $2}'
# The package's stand-in programs are no programs of the build.
rm -rf "$WORK/7zz"

# What the installations wrote to the registry goes again.
PYTHONPATH="$ROOT/tests/e2e" /usr/bin/python3 - "$BUILD" "$WORK" <<'EOF'
import sys
from pathlib import Path
import test_installation as t
import test_registry_entries as entries
build, work = Path(sys.argv[1]), Path(sys.argv[2])
version = t.run(build, work / "installer" / "installer.exe", "--version").stdout.decode()
entries.PLACEHOLDERS.update({
    "InstallFolder": "", "Version": version,
    "Uninstall": f"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo {version}",
    "HelpURL": "", "CompanyURL": "", "DownloadsURL": ""})
t.remove_rows(build, work, entries.table_rows("installation")[:-1])
EOF
