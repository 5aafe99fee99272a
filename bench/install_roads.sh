#!/bin/sh
# One build's per-user silent installation of the full installer on its two
# roads, alternated: started with the administrator's token Wine gives every
# process (a run that may be elevated, the held-folder road) and started
# with a standard user's token. Both are started alike, through
# desktop/windows/installer/standard_user_start.exe (as the tests start a
# standard user's run), the administrator's with --keep-token: the
# starter's own work before the installer starts (the standard user's
# road readies the user's registry hive first) is its own row, and the
# wall time compared is the installer's: from its front end's start (the
# kernel's start time of that process) to the end of the run's last
# process. The payload is the benchmark's
# (bench/make_silent_install_package.py: 300 files, 188 MB). Each pair runs
# both roads, the order swapped every other pair. Every process of a run is
# watched from Linux (/proc: under Wine a process reads its own memory
# counters as 0): its peak resident memory (VmHWM) and CPU. Printed per
# road are the medians of the wall times, of the largest process's peak,
# of each role's CPU and peak (front end, first backend, the package's
# installer), of the crash reporters' count and summed CPU and of the CPU
# the session's wineserver spent meanwhile (each file call of Wine's is a
# request to it), then the phases read from the run's logs, the median of the paired wall ratios
# with its 95% interval, and how the package's files got into the
# installation folder: moved (0 bytes written; whole package folders at
# once or file by file) or copied (the bytes written). The load average is printed before and after.
#   bench/install_roads.sh [--smoke] [build-dir] [work-folder] [pairs]
# pairs: 8 by default. --smoke: one pair, no warm-up, a 1 MB payload: proves
# the script works; its figures mean nothing. Run it inside a Wine session
# of its own:
#   bench/wine-session out roads bench/install_roads.sh out '' 8
set -eu
exec /usr/bin/python3 - "$(dirname "$0")" "$@" <<'PY'
import ctypes
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time
from datetime import datetime
from pathlib import Path

BENCH = Path(sys.argv.pop(1)).resolve()
ROOT = BENCH.parent
sys.path.insert(0, str(BENCH))
from bench_arguments import parse, winpath  # noqa: E402
from paired_ratios import median_interval  # noqa: E402

SWITCHES = ["--silent", "--allusers=0", "--desktopshortcut=0", "--startmenushortcut=0",
            "--quicklaunchshortcut=0", "--pintotaskbar=0", "--launchtarvo=0",
            "--enable-installer-stats=0",
            "--with-feature:installer-pref-default-overrides-support=off"]
STANDARD_USER_START = "desktop/windows/installer/standard_user_start.exe"
ROADS = ["administrator", "standard_user"]
# How the starter starts each road.
STARTER_SWITCHES = {"administrator": ["--keep-token"], "standard_user": []}
REPORTER_SWITCH = "--crash-reporter-parent-id"
ROLES = ["front_end", "first_backend", "package_installer"]
PR_SET_CHILD_SUBREAPER = 36
POLL_SECONDS = 0.01
# Wine's own programs that outlive a run, or are not the installer's.
NOT_OURS = ("wineserver", "services.exe", "winedevice.exe", "plugplay.exe", "explorer.exe",
            "svchost.exe", "rpcss.exe", "winemenubuilder.exe", "conhost.exe")
LOG_TIME = re.compile(r"^\[(\d{4})/(\d{6}\.\d{3}):")
# Each phase: its role's log, the line that starts it and the one that ends
# it (the first of each in that log).
PHASES = [
    ("front end: start to backend started", "front_end", "Tarvo installer starting",
     "launching installer backend"),
    ("front end: unpacking", "front_end", "Unpacking files from archive", "Package ready."),
    ("first backend: start to waiting", "first_backend", "Tarvo installer starting",
     "Need to wait for actual package"),
    ("first backend: package ready to hand-over", "first_backend", "Package is ready",
     "Running installer from the package"),
    ("package installer: start to files", "package_installer", "Tarvo installer starting",
     "Read root files list"),
    ("package installer: files into the folder", "package_installer", "Read root files list",
     "Installing the launcher"),
    ("package installer: set-up to success", "package_installer", "Installing the launcher",
     "Installation succeeded"),
    ("front end: backend ended to its last line", "front_end", "Installer backend exit code",
     None),
]
# The package installer's count of how its files got into the folder.
TRANSFERRED = re.compile(r"Done copying root files: (\d+) moved, (\d+) copied")
# A package folder moved whole, each of its files counted as moved.
FOLDER_MOVED = "Moved the package folder"


def status_of(pid):
    found = {}
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                key, _, value = line.partition(":")
                if key in ("PPid", "VmHWM"):
                    found[key] = int(value.split()[0])
    except (OSError, ValueError, IndexError):
        return None
    return found


def command_of(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            return cmdline.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


def cpu_of(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return None


def started_at(pid):
    """The process's start, in seconds of CLOCK_BOOTTIME (the kernel's own
    record: it does not depend on when the watcher first saw it)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return int(fields[19]) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return None


def session_wineserver():
    """The pid of the wineserver of this Wine session (its WINEPREFIX's),
    None when there is none to be found."""
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        return None
    wanted = f"WINEPREFIX={prefix}".encode()
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/comm") as comm:
                if not comm.read().startswith("wineserver"):
                    continue
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if wanted in environ.read().split(b"\0"):
                    return int(entry)
        except (OSError, ValueError):
            continue
    return None


def now():
    return time.clock_gettime(time.CLOCK_BOOTTIME)


def role_of(command, installer, roles_seen):
    """The installer's role a process plays, by its command line; None for a
    helper (standard_user_start, the crash reporter) or Wine's own."""
    if "installer.exe" not in command or REPORTER_SWITCH in command or \
            Path(STANDARD_USER_START).name in command:
        return None
    if "--backend" not in command:
        role = "front_end"
    elif winpath(installer).lower() in command.lower():
        role = "first_backend"
    else:
        role = "package_installer"
    return None if role in roles_seen else role


def run_watched(command, installer):
    """Runs `command` to the end of every process it started; per role the
    peak resident memory (MiB) and CPU (s) of its process, the crash
    reporters' count and CPU, the largest peak of any process, the wall time
    of the whole command and of the installer (from its front end's start)."""
    me = os.getpid()
    server = session_wineserver()
    server_cpu = cpu_of(server) if server else None
    start = now()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             stdin=subprocess.DEVNULL)
    processes, status, end = {}, None, start
    while True:
        while True:
            try:
                pid, code, usage = os.wait4(-1, os.WNOHANG)
            except ChildProcessError:
                pid = 0
            if not pid:
                break
            end = now()
            if pid in processes:
                processes[pid]["cpu"] = usage.ru_utime + usage.ru_stime
                processes[pid]["peak"] = max(processes[pid]["peak"], usage.ru_maxrss)
                processes[pid]["ended"] = True
            if pid == child.pid:
                status = os.waitstatus_to_exitcode(code)
        table = {}
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                found = status_of(entry)
                if found and "PPid" in found:
                    table[int(entry)] = found
        alive = 0
        for pid, found in table.items():
            parent, depth = found["PPid"], 0
            while parent and parent != me and parent in table and depth < 64:
                parent, depth = table[parent]["PPid"], depth + 1
            if parent != me:
                continue
            seen = processes.setdefault(pid, {"peak": 0, "cpu": 0.0, "command": "",
                                              "ended": False, "start": started_at(pid)})
            seen["command"] = seen["command"] or command_of(pid)
            if any(name in seen["command"] for name in NOT_OURS):
                continue
            alive += 1
            seen["peak"] = max(seen["peak"], found.get("VmHWM", 0))
            cpu = cpu_of(pid)
            if cpu is not None and not seen["ended"]:
                seen["cpu"] = cpu
        if status is not None and alive == 0:
            break
        time.sleep(POLL_SECONDS)
    roles, front_start = {}, None
    for pid in sorted(processes):
        role = role_of(processes[pid]["command"], installer, roles)
        if role:
            roles[role] = {"peak": processes[pid]["peak"] / 1024, "cpu": processes[pid]["cpu"]}
        if role == "front_end":
            front_start = processes[pid]["start"]
    if server_cpu is not None:
        after = cpu_of(server)
        server_cpu = after - server_cpu if after is not None else None
    reporters = [seen for seen in processes.values() if REPORTER_SWITCH in seen["command"]]
    largest = max((seen["peak"] for seen in processes.values()), default=0) / 1024
    if front_start is None:
        sys.exit("no front end seen: the installer's wall time has no start")
    return {"whole": end - start, "wall": end - front_start, "starter": front_start - start,
            "exit": status, "roles": roles, "largest": largest,
            "reporters": len(reporters), "reporter_cpu": sum(r["cpu"] for r in reporters),
            "server_cpu": server_cpu}


def read_logs(paths, installer):
    """{role: [(time, line)]} of the run's logs, each log's role told by its
    command line."""
    logs = {}
    for path in paths:
        lines, role = [], None
        for line in path.read_text(errors="replace").splitlines():
            stamp = LOG_TIME.match(line)
            if not stamp:
                continue
            lines.append((datetime.strptime(stamp.group(2), "%H%M%S.%f"), line))
            if role is None and "Command line: " in line:
                role = role_of(line, installer, logs) or "other"
        if role:
            logs.setdefault(role, lines)
    return logs


def phases_of(logs):
    found = {}
    for name, role, begin, end in PHASES:
        lines = logs.get(role, [])
        start = next((at for at, line in lines if begin in line), None)
        stop = lines[-1][0] if end is None and lines else \
            next((at for at, line in lines if end and end in line and start and at >= start),
                 None)
        if start and stop:
            found[name] = (stop - start).total_seconds()
    return found


def tree_bytes(folder):
    return sum(path.stat().st_size for path in folder.rglob("*") if path.is_file())


def forget_uninstall_entries(build):
    subprocess.run(["sh", str(BENCH / "silent_install_vs_7zz.sh"), "--forget-uninstall-entries",
                    str(build)], check=True, stdout=subprocess.DEVNULL)


def run_road(road, build, installer, work, logs_folder):
    installed, temp = work / "installed", work / "temp"
    shutil.rmtree(installed, ignore_errors=True)
    shutil.rmtree(temp, ignore_errors=True)
    temp.mkdir(parents=True)
    forget_uninstall_entries(build)
    command = [str(build / "wine-run"), str(build / STANDARD_USER_START),
               *STARTER_SWITCHES[road], winpath(installer), *SWITCHES, f"--installfolder={winpath(installed)}",
                f"--temp-folder={winpath(temp)}"]
    before = set(logs_folder.glob("*.log"))
    run = run_watched(command, installer)
    if run["exit"] != 0 or not (installed / "installation_status.xml").is_file():
        sys.exit(f"{road}: the installation failed (exit {run['exit']})")
    logs = read_logs(sorted(set(logs_folder.glob("*.log")) - before), installer)
    run["phases"] = phases_of(logs)
    counts = [TRANSFERRED.search(line) for _, line in logs.get("package_installer", [])]
    moved, copied = next((tuple(map(int, c.groups())) for c in counts if c), (0, 0))
    run["moved"], run["copied"] = moved, copied
    run["folders_moved"] = sum(FOLDER_MOVED in line for _, line in logs.get("package_installer", []))
    # What a copy wrote: the whole tree when nothing was moved.
    run["written_mb"] = tree_bytes(installed) / 1e6 if not moved else None
    return run


def logs_folder_of(build):
    said = subprocess.run([str(build / "wine-run"), "cmd", "/c", "echo %TEMP%"],
                          capture_output=True, check=True)
    temp = said.stdout.decode().strip()
    unix = subprocess.run([str(build / "wine-run"), "winepath", "-u", temp],
                          capture_output=True, check=True).stdout.decode().strip()
    return Path(unix) / "Tarvo Installer"


def report(runs):
    def median(values):
        values = [v for v in values if v is not None]
        return statistics.median(values) if values else None

    def cell(value, unit):
        return f"{value:9.3f}{unit}" if value is not None else f"{'-':>10}"

    print(f"{'measure':46} {'administrator':>14} {'standard user':>14} {'ratio':>7}")
    rows = [("wall: the installer's (front end's start on)", "s", lambda r: r["wall"]),
            ("wall: the whole command", "s", lambda r: r["whole"]),
            ("starter: start to the front end's start", "s", lambda r: r["starter"]),
            ("largest process's peak memory", "M", lambda r: r["largest"])]
    for role in ROLES:
        rows.append((f"{role}: CPU", "s", lambda r, role=role: r["roles"].get(role, {}).get("cpu")))
        rows.append((f"{role}: peak memory", "M",
                     lambda r, role=role: r["roles"].get(role, {}).get("peak")))
    rows.append(("crash reporters: count", " ", lambda r: r["reporters"]))
    rows.append(("crash reporters: CPU, all together", "s", lambda r: r["reporter_cpu"]))
    rows.append(("wineserver: CPU during the run", "s", lambda r: r["server_cpu"]))
    for name, _, _, _ in PHASES:
        rows.append((name, "s", lambda r, name=name: r["phases"].get(name)))
    rows.append(("package files moved", " ", lambda r: r["moved"]))
    rows.append(("package folders moved whole", " ", lambda r: r["folders_moved"]))
    rows.append(("package files copied", " ", lambda r: r["copied"]))
    rows.append(("bytes copied into the folder (MB)", " ", lambda r: r["written_mb"]))
    for name, unit, read in rows:
        admin = median([read(r) for r in runs["administrator"]])
        user = median([read(r) for r in runs["standard_user"]])
        ratio = f"{admin / user:6.2f}x" if admin is not None and user else f"{'-':>7}"
        print(f"{name:46} {cell(admin, unit):>14} {cell(user, unit):>14} {ratio}")
    for name, key in (("the installer's wall", "wall"), ("the whole command's wall", "whole")):
        ratios = [a[key] / s[key] for a, s in zip(runs["administrator"], runs["standard_user"])]
        middle, interval = median_interval(ratios)
        said = f"{interval[0]:.3f}-{interval[1]:.3f}" if interval else "too few pairs"
        print(f"{name}, administrator / standard user: {middle:.3f}x  95%: {said}  "
              f"({len(ratios)} pairs)")


def load():
    with open("/proc/loadavg") as loadavg:
        return " ".join(loadavg.read().split()[:3])


def main():
    smoke, _, build, work, pairs, _ = parse(sys.argv[1:], ROOT, "install_roads_bench_work", 8)
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("prctl(PR_SET_CHILD_SUBREAPER) failed")
    signal.signal(signal.SIGCHLD, signal.SIG_DFL)
    work.mkdir(parents=True, exist_ok=True)
    payload = ["--scale", str(1 / 188)] if smoke else ["--scale", "1.0"]
    made = subprocess.run([sys.executable, str(BENCH / "make_silent_install_package.py"),
                           str(build), str(work / "package"), *payload])
    if made.returncode != 0:
        sys.exit(made.returncode)
    installer = work / "package" / "installer" / "installer.exe"
    logs_folder = logs_folder_of(build)
    warmup = 0 if smoke else 1
    print(f"load average (1, 5, 15 min) before: {load()}", flush=True)
    runs = {road: [] for road in ROADS}
    for number in range(warmup + pairs):
        order = ROADS if number % 2 == 0 else list(reversed(ROADS))
        for road in order:
            run = run_road(road, build, installer, work, logs_folder)
            counted = number >= warmup
            print(f"{'pair' if counted else 'warm-up'} {number - warmup + 1 if counted else 1}"
                  f" {road}: "
                  f"{run['wall']:.2f} s from the front end's start ({run['whole']:.2f} s "
                  f"whole), {run['reporters']} crash reporters, "
                  f"largest {run['largest']:.0f} MiB", flush=True)
            if counted:
                runs[road].append(run)
    print(f"load average (1, 5, 15 min) after: {load()}", flush=True)
    report(runs)
    shutil.rmtree(work / "installed", ignore_errors=True)
    shutil.rmtree(work / "temp", ignore_errors=True)
    forget_uninstall_entries(build)


main()
PY
