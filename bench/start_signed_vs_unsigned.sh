#!/bin/sh
# What the signature checks cost a user's start: the shipped full installer
# (installer_files/full, installer.exe and its library, signed) against the
# same two files with their signatures removed (osslsigncode
# remove-signature), which check nothing. Two starts, in alternated rounds:
#  - the double-click: installer.exe with no switch, started as the shell
#    starts it (process_tree_runner), until its first window, the welcome
#    page, shows (window_driver_tool find, as the window tests find it);
#    the run is then ended with its whole tree and the files it left in the
#    temporary folder removed;
#  - `installer.exe --version`: wall and CPU time of the process.
# Printed are the medians of each and the median of the per-round ratios
# signed / unsigned.
#   bench/start_signed_vs_unsigned.sh [--smoke] [build-dir] [work-folder] [rounds]
# --smoke runs one round and asserts no timing. The runs use a Wine prefix
# (with its own wineserver) and an X display of their own, made in the work
# folder (default: under the build folder), as an end-to-end group's.
set -eu

SMOKE=
if [ "${1:-}" = --smoke ]; then SMOKE=yes; shift; fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/out}" && pwd)
WORK=${2:-$BUILD/start_bench_work}
ROUNDS=${3:-9}
[ -z "$SMOKE" ] || ROUNDS=1
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
command -v osslsigncode > /dev/null || { echo "osslsigncode missing" >&2; exit 1; }

SHIPPED="$BUILD/installer_files/full"
rm -rf "$WORK/signed" "$WORK/unsigned"
mkdir -p "$WORK/signed" "$WORK/unsigned"
for file in installer.exe tarvo_installer.dll; do
  cp "$SHIPPED/$file" "$WORK/signed/$file"
  osslsigncode remove-signature -in "$SHIPPED/$file" -out "$WORK/unsigned/$file" > /dev/null
done

export WINEPREFIX="$WORK/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
export WINELOADER=/usr/lib/wine/wine64
/usr/bin/wineserver -k 2>/dev/null || true
/usr/bin/wineserver -w 2>/dev/null || true
"$ROOT/scripts/wine-prefix" "$BUILD" "$WINEPREFIX"
XVFB=
cleanup() {
  /usr/bin/wineserver -k 2>/dev/null || true
  [ -z "$XVFB" ] || kill "$XVFB" 2>/dev/null || true
}
trap cleanup EXIT
DISPLAY_AND_PID=$("$ROOT/scripts/xvfb")
export DISPLAY="${DISPLAY_AND_PID% *}"
XVFB="${DISPLAY_AND_PID#* }"
/usr/bin/wineserver -p
setarch -R "$WINELOADER" cmd /c exit 0 > /dev/null 2>&1 < /dev/null
"$ROOT/scripts/wine-desktop" "$BUILD"

echo "load: $(uptime)"
/usr/bin/python3 - "$BUILD" "$WORK" "$ROUNDS" <<'PY'
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

build, work, rounds = Path(sys.argv[1]), Path(sys.argv[2]), int(sys.argv[3])
wine = [str(build / "wine-run")]
runner = str(build / "desktop/windows/installer/process_tree_runner.exe")
driver = str(build / "desktop/windows/installer/window_driver_tool.exe")
# Only guards against a hang.
HANG_GUARD = 600


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def wine_output(*command):
    return subprocess.run(wine + list(command), capture_output=True, check=True,
                          timeout=HANG_GUARD).stdout.decode(errors="replace").strip()


temp = Path(wine_output("winepath", "-u", wine_output("cmd", "/c", "echo %TEMP%")))


def version(case):
    """Wall and CPU seconds of `installer.exe --version`."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run(wine + [str(work / case / "installer.exe"), "--version"],
                            capture_output=True, timeout=HANG_GUARD)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0 or not result.stdout.strip():
        sys.exit(f"{case} --version failed: {result}")
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def double_click(case):
    """Seconds from the start to the welcome window."""
    start = time.monotonic()
    run = subprocess.Popen(wine + [runner, windows_path(work / case / "installer.exe")],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        first = run.stdout.readline().decode().split()
        if first[:1] != ["pid"]:
            sys.exit(f"{case}: the installer did not start: {first}")
        found = subprocess.run(wine + [driver, "find", first[1]], capture_output=True,
                               timeout=HANG_GUARD)
        shown = time.monotonic() - start
        if found.returncode != 0 or not found.stdout.strip():
            sys.exit(f"{case}: no installer window: {found}")
    finally:
        # The runner's job ends the whole tree with it.
        run.kill()
        run.wait()
    # The ended run's processes are gone once its window is.
    handle = found.stdout.decode().split()[0]
    while handle in wine_output(driver, "windows"):
        pass
    shutil.rmtree(temp / "Tarvo Installer", ignore_errors=True)
    return shown


cases = ["signed", "unsigned"]
results = {case: {"click": [], "version": [], "cpu": []} for case in cases}
for round_number in range(rounds):
    # Alternated: neither case always runs first.
    for case in cases if round_number % 2 == 0 else reversed(cases):
        results[case]["click"].append(double_click(case))
        wall, cpu = version(case)
        results[case]["version"].append(wall)
        results[case]["cpu"].append(cpu)

for case in cases:
    r = results[case]
    print(f"{case:9} double-click to welcome {statistics.median(r['click']):6.2f} s   "
          f"--version {statistics.median(r['version']):5.2f} s (CPU {statistics.median(r['cpu']):5.2f} s)")


def ratio(measure):
    return statistics.median(a / b for a, b in zip(results["signed"][measure],
                                                    results["unsigned"][measure]))


print(f"signed / unsigned: double-click {ratio('click'):5.2f}x   --version {ratio('version'):5.2f}x"
      f"   --version CPU {ratio('cpu'):5.2f}x")
PY
