#!/bin/sh
# A whole silent uninstallation under Wine against the least any deletion of
# the same tree costs there: one plain Windows process (the system's cmd,
# "rd /s /q") deleting the tree the installer installed. The installer is
# made as the release files are (bench/make_silent_install_package.py, the
# package's programs signed with the build's test certificate) and installed
# untimed before each round; the uninstallation is timed from its start to
# the end of every process it started (the install-speed anchor's
# tree-bench.py, interleaved rounds). Given a second build folder (a build
# of an earlier commit), its installer is timed the same way beside it, and
# each is printed with its ratio to the plain deletion and the two ratios'
# quotient.
#   bench/uninstall_vs_plain_delete.sh [--smoke] [build-dir] [earlier-build-dir|-]
#                                      [work-folder] [rounds] [files]
# files: the payload's number of files of 2 KiB, 20000 by default; --smoke
# runs one round of 200 files and asserts no timing. Run it inside a test
# session, which starts a persistent wineserver and the prefix's services:
#   /work/tools/wine-session out bench/uninstall_vs_plain_delete.sh out
set -eu

SMOKE=
if [ "${1:-}" = --smoke ]; then SMOKE=yes; shift; fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/out}" && pwd)
EARLIER=${2:--}
WORK=${3:-$BUILD/uninstall_bench_work}
ROUNDS=${4:-5}
FILES=${5:-20000}
if [ -n "$SMOKE" ]; then ROUNDS=1; FILES=200; fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

ANCHOR=
for candidate in "${TARVO_BENCH_ANCHOR:-}" "$ROOT/../shared/bench" /work/shared/bench; do
  if [ -n "$candidate" ] && [ -f "$candidate/tree-bench.py" ]; then
    ANCHOR=$(cd "$candidate" && pwd); break
  fi
done
[ -n "$ANCHOR" ] || { echo "install-speed anchor not found: set TARVO_BENCH_ANCHOR" >&2; exit 1; }

winpath() { printf 'Z:%s\n' "$1" | tr / '\\'; }

# Writes LABEL's preparation and uninstallation scripts for the build
# BUILD_DIR: the preparation installs silently into LABEL/installed, the
# uninstallation runs the installed copy of the installer.
prepare_case() {
  label=$1; build=$2; dir="$WORK/$label"
  mkdir -p "$dir"
  /usr/bin/python3 "$ROOT/bench/make_silent_install_package.py" "$build" "$dir" \
    --small "$FILES"
  switches="--silent --allusers=0 --desktopshortcut=0 --startmenushortcut=0"
  switches="$switches --quicklaunchshortcut=0 --pintotaskbar=0 --launchtarvo=0"
  switches="$switches --enable-installer-stats=0"
  switches="$switches --with-feature:installer-pref-default-overrides-support=off"
  cat > "$dir/prepare.sh" <<SCRIPT
set -e
rm -rf '$dir/installed' '$dir/temp'
mkdir '$dir/temp'
'$build/wine-run' '$(winpath "$dir/installer/installer.exe")' $switches \
  '--installfolder=$(winpath "$dir/installed")' '--temp-folder=$(winpath "$dir/temp")'
test -f '$dir/installed/installation_status.xml'
SCRIPT
  # The installed copy of the installer, in the version folder.
  cat > "$dir/uninstall.sh" <<SCRIPT
set -e
program=\$(ls -d '$dir/installed'/[0-9]*/installer.exe | head -n 1)
'$build/wine-run' "Z:\$(printf '%s' "\$program" | tr / '\\\\')" --uninstall $switches
test ! -e '$dir/installed/installation_status.xml'
SCRIPT
}

prepare_case after "$BUILD"
cases="--case after 'sh $WORK/after/prepare.sh' 'sh $WORK/after/uninstall.sh'"
if [ "$EARLIER" != - ]; then
  prepare_case before "$(cd "$EARLIER" && pwd)"
  cases="$cases --case before 'sh $WORK/before/prepare.sh' 'sh $WORK/before/uninstall.sh'"
fi
tree="$WORK/after/tree"
cases="$cases --case plain \"rm -rf '$WORK/plain' && cp -r '$tree' '$WORK/plain'\""
cases="$cases \"'$BUILD/wine-run' cmd /c rd /s /q '$(winpath "$WORK/plain")' && test ! -e '$WORK/plain'\""

echo "load: $(uptime)"
eval /usr/bin/python3 "'$ANCHOR/tree-bench.py'" --rounds "$ROUNDS" --baseline plain \
  --json "'$WORK/result.json'" --log "'$WORK/bench.log'" "$cases" > "$WORK/rounds.txt"
/usr/bin/python3 - "$WORK/result.json" "$FILES" "$SMOKE" <<'PY'
import json, statistics, sys
result, files, smoke = json.load(open(sys.argv[1])), sys.argv[2], sys.argv[3]
for case, s in result.items():
    if any(e != 0 for e in s["exits"]):
        sys.exit(f"{case} failed in a round: exits {s['exits']}")
    print(f"{files} files {case:7} {s['wall_median']:8.2f} s")
if smoke:
    sys.exit(0)
def ratio(a, b):
    return statistics.median(x["wall"] / y["wall"] for x, y in zip(result[a]["runs"], result[b]["runs"]))
line = f"uninstall / plain delete: {ratio('after', 'plain'):5.2f}x"
if "before" in result:
    line += (f"   earlier build / plain delete: {ratio('before', 'plain'):5.2f}x"
             f"   uninstall / earlier build: {ratio('after', 'before'):5.2f}x")
print(line)
PY
rm -rf "$WORK/plain" "$WORK/after/installed" "$WORK/before/installed"
