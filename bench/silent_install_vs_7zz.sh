#!/bin/sh
# A whole silent installation under Wine against what people pick instead:
# the native `7zz x -mmt=1` of the same archive and, for the "<N>mb"
# payloads, an NSIS installer of exactly the tree the installer installs
# (silent, /S, same Wine, same prefix). The installer is made as the release
# files are (bench/make_silent_install_package.py: level-5 7z archive,
# signed full installer) from the shared install-speed anchor's payloads.
# A fourth case, "floor", only makes the same files from one Windows process
# as the package reader does (bench/file_writing_floor_bench: create, write,
# set the time, close, on four threads): the system's own cost for those
# files, which no installer writing them from one process avoids. The
# anchor's tree-bench.py times whole process trees (Wine's detached children
# included) in interleaved rounds; printed are the medians, the peak memory
# and the ratios per payload.
#   bench/silent_install_vs_7zz.sh [--smoke] [build-dir] [work-folder] [rounds] [payloads] [earlier-build-dir]
# payloads: any of "<N>mb" (the 300 files of the 188 MB payload, scaled to N
# MB) and "<N>files" (N files of 2 KiB); "188mb 20000files" by default.
# earlier-build-dir: the build of an earlier commit, whose installer, made
# the same way from the same payload, is timed in the same rounds ("earlier"),
# its test root trusted in the prefix meanwhile.
# --smoke: one round, no warm-up, on "1mb 100files", to prove the script
# works; its figures mean nothing.
# Run it inside a Wine session of its own, which starts a persistent
# wineserver and the prefix's services:
#   bench/wine-session out figures bench/silent_install_vs_7zz.sh out
# The anchor is found at $TARVO_BENCH_ANCHOR, ../shared/bench beside the
# checkout or /work/shared/bench. No statistics are sent and no preference
# defaults asked for, as no update server runs; the registry rows the
# installations wrote are removed at the end.
set -eu

# The installer's preparation before each round: every installation leaves
# an uninstall entry, and the next one tries the names taken ("Tarvo
# <version>", then with 1, 2, ... appended) before it takes a free one, a
# registry lookup each.
if [ "${1:-}" = --forget-uninstall-entries ]; then
  for hive in HKCU HKLM; do
    "$2/wine-run" reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" |
      tr -d '\r' | grep 'Uninstall\\Tarvo ' | while read -r entry; do
        "$2/wine-run" reg delete "$entry" /f > /dev/null
      done
  done
  exit 0
fi

SMOKE=no
if [ "${1:-}" = --smoke ]; then SMOKE=yes; shift; fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/out}" && pwd)
WORK=${2:-$BUILD/silent_install_bench_work}
ROUNDS=${3:-5}
WARMUP=1
PAYLOADS=${4:-188mb 20000files}
EARLIER=${5:-}
if [ $SMOKE = yes ]; then ROUNDS=1 WARMUP=0 PAYLOADS="1mb 100files"; fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
if [ -n "$EARLIER" ]; then EARLIER=$(cd "$EARLIER" && pwd); fi

ANCHOR=
for candidate in "${TARVO_BENCH_ANCHOR:-}" "$ROOT/../shared/bench" /work/shared/bench; do
  if [ -n "$candidate" ] && [ -f "$candidate/tree-bench.py" ] &&
     [ -f "$candidate/nsis-build-x64.sh" ]; then
    ANCHOR=$(cd "$candidate" && pwd); break
  fi
done
# 77: the suite's smoke run reports a machine without the anchor as skipped.
[ -n "$ANCHOR" ] || { echo "install-speed anchor not found: set TARVO_BENCH_ANCHOR" >&2; exit 77; }
command -v makensis > /dev/null || { echo "makensis missing: apt-get install nsis" >&2; exit 1; }
command -v 7zz > /dev/null || { echo "7zz missing: apt-get install 7zip" >&2; exit 1; }

winpath() { printf 'Z:%s\n' "$1" | tr / '\\'; }

# The silent installation of the installer in folder $1 (its package made
# there) into $1/installed, its temporary folder $1/temp, as a timed command
# and as the command that prepares its round.
installer_command() {
  command="$BUILD/wine-run '$(winpath "$1/installer/installer.exe")' --silent"
  command="$command '--installfolder=$(winpath "$1/installed")'"
  command="$command '--temp-folder=$(winpath "$1/temp")' --allusers=0"
  command="$command --desktopshortcut=0 --startmenushortcut=0 --quicklaunchshortcut=0"
  command="$command --pintotaskbar=0 --launchtarvo=0 --enable-installer-stats=0"
  command="$command --with-feature:installer-pref-default-overrides-support=off"
  printf '%s' "$command && test -f '$1/installed/installation_status.xml'"
}
installer_prep() {
  printf '%s' "rm -rf '$1/installed' '$1/temp' && mkdir '$1/temp' &&
      sh '$ROOT/bench/silent_install_vs_7zz.sh' --forget-uninstall-entries '$BUILD'"
}

# One payload: build the installers once, then interleave the cases.
bench_payload() {
  name=$1; with_nsis=$2; shift 2
  dir="$WORK/$name"
  mkdir -p "$dir"
  /usr/bin/python3 "$ROOT/bench/make_silent_install_package.py" "$BUILD" "$dir" "$@"
  earlier_dir=
  if [ -n "$EARLIER" ]; then
    earlier_dir="$WORK/$name-earlier"
    mkdir -p "$earlier_dir"
    /usr/bin/python3 "$ROOT/bench/make_silent_install_package.py" "$EARLIER" "$earlier_dir" "$@"
  fi
  nsis_case=
  if [ "$with_nsis" = yes ]; then
    [ -f "$dir/nsis.exe" ] || sh "$ANCHOR/nsis-build-x64.sh" "$dir/tree" "$dir/nsis.exe"
    nsis_case=yes
  fi
  (cd "$dir/tree" && find . -type f -printf '%s %P\n') > "$dir/tree.list"
  # The commands go through sh -c: Windows paths are quoted for it.
  /usr/bin/python3 "$ANCHOR/tree-bench.py" --rounds "$ROUNDS" --warmup "$WARMUP" --baseline 7zz \
    --json "$dir/result.json" --log "$dir/bench.log" \
    --case installer "$(installer_prep "$dir")" "$(installer_command "$dir")" \
    ${earlier_dir:+--case earlier "$(installer_prep "$earlier_dir")"} \
      ${earlier_dir:+"$(installer_command "$earlier_dir")"} \
    ${nsis_case:+--case nsis "rm -rf '$dir/nsis_installed'"} \
      ${nsis_case:+"$BUILD/wine-run '$dir/nsis.exe' /S '/D=$(winpath "$dir/nsis_installed")'"} \
    --case 7zz "rm -rf '$dir/7zz_out'" \
      "7zz x -bso0 -bsp0 -mmt=1 -aoa '-o$dir/7zz_out' '$dir/package.7z'" \
    --case floor "rm -rf '$dir/floor_out'" \
      "$BUILD/wine-run '$BUILD/bench/file_writing_floor_bench.exe' '$(winpath "$dir/tree.list")' '$(winpath "$dir/floor_out")'" \
      > "$dir/rounds.txt"
  /usr/bin/python3 - "$name" "$dir/result.json" "$dir/bench.log" <<'PY'
import json, statistics, sys
name, result, log = sys.argv[1], json.load(open(sys.argv[2])), sys.argv[3]
for case, s in result.items():
    if any(e != 0 for e in s["exits"]):
        tail = open(log, errors="replace").read().splitlines()[-20:]
        sys.exit("\n".join([f"{name}: {case} failed in a round: exits {s['exits']}; "
                            f"the end of {log}:", *tail]))
    print(f"{name:>8} {case:10} {s['wall_median']:8.2f} s  peak {s['peak_one_mib_median']:6.0f} MiB"
          f" (anonymous {s['peak_anon_one_mib_median']:.0f} MiB)")
def ratio(a, b):
    return statistics.median(x["wall"] / y["wall"] for x, y in zip(result[a]["runs"], result[b]["runs"]))
nsis = f"installer / NSIS {ratio('installer', 'nsis'):5.2f}x   " if "nsis" in result else ""
print(f"{name:>8} {nsis}installer / 7zz {ratio('installer', '7zz'):5.2f}x"
      f"   floor / 7zz {ratio('floor', '7zz'):5.2f}x")
if "earlier" in result:
    print(f"{name:>8} earlier / 7zz {ratio('earlier', '7zz'):5.2f}x"
          f"   installer / earlier {ratio('installer', 'earlier'):5.2f}x")
PY
  rm -rf "$dir/installed" "$dir/nsis_installed" "$dir/7zz_out" "$dir/floor_out" "$dir/temp"
  if [ -n "$earlier_dir" ]; then rm -rf "$earlier_dir/installed" "$earlier_dir/temp"; fi
}

# The earlier build signs with a test PKI of its own, whose root the prefix
# trusts only for the run: its installer proves its package's signer.
if [ -n "$EARLIER" ]; then
  /usr/bin/python3 "$ROOT/bench/earlier_build_roots.py" trust "$BUILD" "$EARLIER"
  trap '/usr/bin/python3 "$ROOT/bench/earlier_build_roots.py" forget "$BUILD" "$EARLIER"' EXIT
fi

echo "load: $(uptime)"
for payload in $PAYLOADS; do
  case $payload in
    # The 300 files of the 188 MB payload, every size scaled.
    *mb) bench_payload "$payload" yes --scale "$(awk "BEGIN { print ${payload%mb} / 188 }")" ;;
    # makensis takes hours over 20,000 files: small files go without it.
    *files) bench_payload "$payload" no --small "${payload%files}" ;;
    *) echo "unknown payload: $payload" >&2; exit 1 ;;
  esac
done

# What the installations wrote to the registry goes again.
PYTHONPATH="$ROOT/tests/e2e" /usr/bin/python3 - "$BUILD" "$WORK/$payload" <<'EOF'
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
