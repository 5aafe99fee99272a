#!/bin/sh
# Runs every benchmark program (bench/<area>_bench.cc, built into
# BUILD/bench/) one after another, each printing its own figures, except
# those that time inputs a comparison script makes: that script runs them.
# Ends with the names of the programs that failed, if any.
#   bench/programs.sh [--smoke] [build-dir]
# --smoke: each program's smoke run (every measured body once, every count
# at its smoke size), to prove the programs work; their figures mean
# nothing. Run it inside a Wine session (bench/wine-session).
set -eu

SMOKE=
if [ "${1:-}" = --smoke ]; then SMOKE=--smoke; shift; fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/out}" && pwd)

# The programs that need inputs: each is run by the comparison script that
# makes them, with them.
DRIVEN_BY_SCRIPTS="downloader_bench file_writing_floor_bench package_unpack_bench"

failed=
for source in "$ROOT"/bench/*_bench.cc; do
  name=$(basename "$source" .cc)
  case " $DRIVEN_BY_SCRIPTS " in
    *" $name "*)
      if ! grep -q "bench/$name.exe" "$ROOT"/bench/*.sh; then
        echo "$name: no script in bench/ runs it" >&2
        failed="$failed $name"
      fi
      continue ;;
  esac
  echo "== $name"
  status=0
  "$BUILD/wine-run" "$BUILD/bench/$name.exe" $SMOKE || status=$?
  if [ $status != 0 ]; then
    echo "$name: exit code $status" >&2
    failed="$failed $name"
  fi
done
if [ -n "$failed" ]; then
  echo "failed:$failed" >&2
  exit 1
fi
