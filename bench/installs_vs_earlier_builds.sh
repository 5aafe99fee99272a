#!/bin/sh
# This build's silent installations (per user, or with --allusers for all
# users) against the same made by the
# builds of earlier commits, in the same rounds: the full installer of the
# benchmark payload (bench/make_silent_install_package.py: 300 files, 188
# MB), the online installer of the same build downloading that full
# installer from an update server on 127.0.0.1 (tests/e2e/update_server.py),
# and the online installer of the build's older release downloading it, an
# update across releases. Every build's files are made by today's makers,
# signed with that build's own test keys, whose root the session's prefix
# trusts for the run. The cases go in turn (tree-bench.py of the
# install-speed anchor), in two sets with the builds' order swapped; printed
# are each case's median and, per earlier build, the median of the paired
# ratios (this build's run over the earlier build's of the same round) with
# its 95% interval, and the median hand-over: from the backend's log line
# "Package is ready" to "Running installer from the package".
#   bench/installs_vs_earlier_builds.sh [--smoke] [--allusers] [build-dir] [work-folder] [rounds] [earlier-build-dir ...]
# rounds: per set, 6 by default. --smoke: one set of one round, no warm-up,
# a 1 MB payload, this build alone: proves the script works; its figures
# mean nothing. Run it inside a Wine session of its own:
#   bench/wine-session out figures bench/installs_vs_earlier_builds.sh out '' 6 ../base/out
set -eu
exec /usr/bin/python3 - "$(dirname "$0")" "$@" <<'PY'
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
from datetime import datetime
from pathlib import Path

BENCH = Path(sys.argv.pop(1)).resolve()
ROOT = BENCH.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(BENCH))
import earlier_build_roots  # noqa: E402
from bench_arguments import parse, winpath  # noqa: E402
from paired_ratios import median_interval  # noqa: E402
import installer_files as files  # noqa: E402
from update_server import UpdateServer  # noqa: E402

SWITCHES = ["--silent", "--allusers=0", "--desktopshortcut=0", "--startmenushortcut=0",
            "--quicklaunchshortcut=0", "--pintotaskbar=0", "--launchtarvo=0",
            "--enable-installer-stats=0",
            "--with-feature:installer-pref-default-overrides-support=off"]
KINDS = ["full", "online", "online_older"]
READY = "Package is ready"
HANDED_OVER = "Running installer from the package with command line: "
LOG_TIME = re.compile(r"^\[\d{4}/(\d{6}\.\d{3}):")


def arguments(argv):
    smoke, flags, build, work, rounds, rest = parse(
        argv, ROOT, "installs_vs_earlier_builds_bench_work", 6, flags=("--allusers",))
    if "--allusers" in flags:
        SWITCHES[SWITCHES.index("--allusers=0")] = "--allusers=1"
    return smoke, build, work, rounds, [Path(a).resolve() for a in rest]


def build_name(build):
    """The earlier build by the commit its checkout stands at, when it has one."""
    said = subprocess.run(["git", "-C", str(build.parent), "rev-parse", "--short", "HEAD"],
                          capture_output=True, text=True)
    return said.stdout.strip() if said.returncode == 0 else build.name


def run_windows(build, *command, check=True):
    return subprocess.run([str(build / "wine-run"), *map(str, command)], capture_output=True,
                          check=check)


def make_installers(build, folder, payload, server):
    """{kind: installer.exe} of `build` in `folder`; the full one is what
    `server` offers the online ones."""
    subprocess.run([sys.executable, str(BENCH / "make_silent_install_package.py"), str(build),
                    str(folder / "full"), *payload], check=True)
    full = folder / "full" / "installer" / "installer.exe"
    server.offer(full.read_bytes())
    keys = files.BuildKeys(build)
    made = {"full": full}
    for kind, library in (("online", "current"), ("online_older", "older")):
        shutil.rmtree(folder / kind, ignore_errors=True)
        made[kind] = files.online_installer(build, folder / kind / "installer", keys,
                                            library=library,
                                            autoupdate_url=server.autoupdate_url)
    return made


def case(build, installer, folder):
    """tree-bench's PREP and COMMAND for one silent installation into
    `folder`/installed, its temporary folder `folder`/temp."""
    prep = (f"rm -rf '{folder}/installed' '{folder}/temp' && mkdir -p '{folder}/temp' && "
            f"sh '{BENCH}/silent_install_vs_7zz.sh' --forget-uninstall-entries '{build}'")
    command = " ".join([f"'{build}/wine-run'", f"'{winpath(installer)}'", *SWITCHES,
                        f"'--installfolder={winpath(folder / 'installed')}'",
                        f"'--temp-folder={winpath(folder / 'temp')}'"])
    return [prep, f"{command} && test -f '{folder}/installed/installation_status.xml'"]


def anchor():
    for candidate in (os.environ.get("TARVO_BENCH_ANCHOR"), ROOT.parent / "shared" / "bench",
                      Path("/work/shared/bench")):
        if candidate and (Path(candidate) / "tree-bench.py").is_file():
            return Path(candidate)
    print("install-speed anchor not found: set TARVO_BENCH_ANCHOR", file=sys.stderr)
    sys.exit(77)


def run_set(order, cases, rounds, warmup, work, number):
    result = work / f"set{number}.json"
    command = [sys.executable, str(anchor() / "tree-bench.py"), "--rounds", str(rounds),
               "--warmup", str(warmup), "--json", str(result), "--log",
               str(work / f"set{number}.log")]
    for name in order:
        command += ["--case", name, *cases[name]]
    with open(work / f"set{number}.rounds.txt", "w") as rounds_file:
        subprocess.run(command, check=True, stdout=rounds_file)
    summary = json.loads(result.read_text())
    for name, figures in summary.items():
        if any(code != 0 for code in figures["exits"]):
            tail = (work / f"set{number}.log").read_text(errors="replace").splitlines()[-20:]
            sys.exit("\n".join([f"{name} failed in a round: exits {figures['exits']}", *tail]))
    return {name: [run["wall"] for run in figures["runs"]] for name, figures in summary.items()}


def handover_times(logs, before, folders):
    """{case: [seconds from the package ready to the hand-over]}, read from
    the installer logs written since `before`, each hand-over known by the
    temporary folder its command line names."""
    found = {}
    for path in sorted(set(logs.glob("*.log")) - before):
        ready = None
        for line in path.read_text(errors="replace").splitlines():
            stamp = LOG_TIME.match(line)
            if not stamp:
                continue
            at = datetime.strptime(stamp.group(1), "%H%M%S.%f")
            if READY in line:
                ready = at
            elif HANDED_OVER in line and ready is not None:
                for name, temp in folders.items():
                    if winpath(temp) in line:
                        found.setdefault(name, []).append((at - ready).total_seconds())
                ready = None
    return found


def main():
    smoke, build, work, rounds, earlier = arguments(sys.argv[1:])
    anchor()
    payload = ["--scale", str(1 / 188)] if smoke else ["--scale", "1.0"]
    warmup = 0 if smoke else 1
    builds = [("this", build)] + [(build_name(other), other) for other in earlier]
    work.mkdir(parents=True, exist_ok=True)
    profile = Path(run_windows(build, "cmd", "/c", "echo %TEMP%").stdout.decode().strip())
    logs = Path(run_windows(build, "winepath", "-u", str(profile)).stdout.decode().strip()) / \
        "Tarvo Installer"
    before = set(logs.glob("*.log"))
    servers = [UpdateServer() for _ in builds]
    cases, temps = {}, {}
    with earlier_build_roots.Trusted(build, earlier):
        for server in servers:
            server.__enter__()
        try:
            for (name, tree), server in zip(builds, servers):
                made = make_installers(tree, work / name, payload, server)
                for kind in KINDS:
                    folder = work / name / kind
                    cases[f"{kind}:{name}"] = case(tree, made[kind], folder)
                    temps[f"{kind}:{name}"] = folder / "temp"
            forward = [f"{kind}:{name}" for kind in KINDS for name, _ in builds]
            backward = [f"{kind}:{name}" for kind in KINDS for name, _ in reversed(builds)]
            sets = [forward] if smoke else [forward, backward]
            walls = {name: [] for name in forward}
            for number, order in enumerate(sets, 1):
                for name, runs in run_set(order, cases, rounds, warmup, work, number).items():
                    walls[name] += runs
        finally:
            for server in servers:
                server.__exit__(None, None, None)
    handovers = handover_times(logs, before, temps)
    print(f"{'case':28} {'median':>8} {'min':>7} {'max':>7} {'hand-over':>10}")
    for name, runs in walls.items():
        handover = handovers.get(name)
        said = f"{statistics.median(handover):9.3f}s" if handover else f"{'-':>10}"
        print(f"{name:28} {statistics.median(runs):7.2f}s {min(runs):6.2f}s {max(runs):6.2f}s"
              f" {said}")
    for kind in KINDS:
        for name, _ in builds[1:]:
            ratios = [a / b for a, b in zip(walls[f"{kind}:this"], walls[f"{kind}:{name}"])]
            middle, interval = median_interval(ratios)
            said = f"{interval[0]:.3f}-{interval[1]:.3f}" if interval else "too few rounds"
            print(f"{kind:12} this / {name:10} {middle:6.3f}x  95%: {said}  ({len(ratios)} pairs)")
    for name, _ in builds:
        for kind in KINDS:
            shutil.rmtree(work / name / kind / "installed", ignore_errors=True)
            shutil.rmtree(work / name / kind / "temp", ignore_errors=True)
    remove_registry_rows(build, work / "this" / "full" / "installer" / "installer.exe")


def remove_registry_rows(build, installer):
    """What the installations wrote to the registry goes again."""
    import test_installation
    import test_registry_entries as entries
    version = test_installation.run(build, installer, "--version").stdout.decode()
    entries.PLACEHOLDERS.update({
        "InstallFolder": "", "Version": version,
        "Uninstall": f"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo {version}",
        "HelpURL": "", "CompanyURL": "", "DownloadsURL": ""})
    test_installation.remove_rows(build, installer.parent, entries.table_rows("installation")[:-1])


main()
PY
