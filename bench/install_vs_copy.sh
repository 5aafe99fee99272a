#!/bin/sh
# An installation of the benchmark payload (bench/make_unpack_archive.py's
# tree: 300 files, 188 MB) from an unpacked package folder, against a plain
# `xcopy /E` of the same tree, both under Wine in the same run. The
# installation is the real one: the runner tool is the front end, the
# package's installer.exe the backend; it is timed from the front end's start
# to the backend's end, the copy from cmd's start to its exit. Five runs in
# turn each, after a pair that warms the caches; medians and their ratio are
# printed. Between runs (not timed) the installation folder, the copy and the
# installation's registry keys are removed, so that every run installs anew.
#   bench/install_vs_copy.sh [--smoke] [build-dir] [work-folder]
# --smoke: one run of each, no warm-up, on 10 files of 1 MB, to prove the
# script works; its figures mean nothing. Run it inside a Wine session
# (bench/wine-session), or each run pays for starting a wineserver.
set -eu
exec /usr/bin/python3 - "$(dirname "$0")" "$@" <<'PY'
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

BENCH = Path(sys.argv.pop(1)).resolve()
sys.path.insert(0, str(BENCH))
from bench_arguments import winpath  # noqa: E402

SWITCHES = ["--allusers=0", "--desktopshortcut=0", "--startmenushortcut=0",
            "--quicklaunchshortcut=0", "--pintotaskbar=0", "--launchtarvo=0"]
REGISTRY_LEFTOVERS = ["HKCU\\Software\\Tarvo Software",
                      "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"]


def make_package(build, tree, package):
    """Made anew each time, with the build's programs of today."""
    shutil.rmtree(package, ignore_errors=True)
    version_files = sorted(p.relative_to(tree) for p in tree.rglob("*") if p.is_file())
    shutil.copytree(tree, package)
    installer = build / "desktop/windows/installer"
    shutil.copy(installer / "installer.exe", package)
    shutil.copy(installer / "tarvo_installer.dll", package)
    shutil.copy(installer / "launcher_recorder.exe", package / "launcher.exe")
    names = "".join(str(p).replace("/", "\\") + "\r\n" for p in version_files)
    (package / "files_list").write_bytes(names.encode())


def install(build, package, folder):
    front = subprocess.Popen(
        [str(build / "wine-run"), str(build / "desktop/windows/installer/installer_runner_tool.exe"),
         "--frontend", f"--installfolder={winpath(folder)}", f"--package-folder={winpath(package)}",
         "--have-package", *SWITCHES],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    started = time.monotonic()
    last = ""
    for line in front.stdout:
        last = line.strip()
        if last.startswith("OnInstallerTerminated"):
            break
    elapsed = time.monotonic() - started
    front.stdin.write("exit\n")
    front.stdin.close()
    front.wait()
    if last != "OnInstallerTerminated 1":
        sys.exit(f"installation failed: {last!r}")
    return elapsed


def copy(build, tree, target):
    started = time.monotonic()
    subprocess.run([str(build / "wine-run"), "cmd", "/c", "xcopy", "/E", "/I", "/Q", "/Y",
                    winpath(tree), winpath(target)], check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - started


def clean(build, *folders):
    for folder in folders:
        shutil.rmtree(folder, ignore_errors=True)
    for key in REGISTRY_LEFTOVERS:
        subprocess.run([str(build / "wine-run"), "reg", "delete", key, "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    arguments = sys.argv[1:]
    smoke = arguments[:1] == ["--smoke"]
    if smoke:
        arguments.pop(0)
    runs, warmup, payload = (1, 0, ["10", "1000000"]) if smoke else (5, 1, [])
    build = Path(arguments[0] if arguments else BENCH.parent / "out").resolve()
    work = Path(arguments[1] if len(arguments) > 1 else build / "install_bench_work").resolve()
    subprocess.run([sys.executable, str(BENCH / "make_unpack_archive.py"), str(work), *payload],
                   check=True)
    package, folder, target = work / "package", work / "Tarvo Bench", work / "copy"
    make_package(build, work / "tree", package)
    timings = {"install": [], "copy": []}
    for _ in range(warmup + runs):
        clean(build, folder, target)
        timings["install"].append(install(build, package, folder))
        timings["copy"].append(copy(build, work / "tree", target))
    clean(build, folder, target)
    medians = {name: statistics.median(values[warmup:]) for name, values in timings.items()}
    print(f"{'installation (runner + backend, Wine)':40} {medians['install']:8.3f} s")
    print(f"{'xcopy /E of the same tree (Wine)':40} {medians['copy']:8.3f} s")
    print(f"{'time ratio':40} {medians['install'] / medians['copy']:8.2f}")


if __name__ == "__main__":
    main()
PY
