"""Shared fixtures of the end-to-end tests: the build folder and a runner
that starts the built Windows programs under Wine in the build's prefix;
installer.exe in a folder of its own and the log files of its runs."""

import contextlib
import os
import re
import shutil
import subprocess
import time
import uuid
from pathlib import Path

import pytest
from wine_start import LAUNCHER_FAILURE, looks_unstarted


def pytest_addoption(parser):
    parser.addoption("--build-dir", action="store", default=os.environ.get("TARVO_BUILD_DIR", "out"),
                     help="CMake build folder that holds the programs and wine-run")
    parser.addoption("--shard", action="store", default="1/1",
                     help="K/N: run only every Nth test, from the Kth, so that N groups "
                          "share a long file")


def pytest_collection_modifyitems(config, items):
    shard, count = (int(part) for part in config.getoption("--shard").split("/"))
    if count > 1:
        items[:] = items[shard - 1::count]


@pytest.fixture(scope="session")
def build_dir(request):
    path = Path(request.config.getoption("--build-dir")).resolve()
    if not (path / "wine-run").exists():
        pytest.fail(f"{path} is not a configured build folder")
    return path


@pytest.fixture(scope="session")
def run_exe(build_dir):
    """run_exe(relative_exe, *args, input=None, timeout=600, standard_user=False)
    -> CompletedProcess

    The timeout only guards against a hang: a busy machine must never fail
    a test by being slow."""

    def run(exe, *args, input=None, timeout=600, check=False, standard_user=False):
        program = as_standard_user(build_dir, build_dir / exe, *args) if standard_user \
            else [str(build_dir / exe), *map(str, args)]
        command = [str(build_dir / "wine-run"), *program]
        return run_tool(command, check=check, input=input, capture_output=True,
                        timeout=timeout)

    return run


def unstarted(result):
    return looks_unstarted(result.returncode, bool(result.stdout or result.stderr),
                           LAUNCHER_FAILURE in (result.stdout or b""))


def run_tool(command, check=False, **kwargs):
    """subprocess.run for the tests' tools and Wine's own programs, started
    again when Wine failed to start them. Never for installer.exe, whose
    silent failure is exit code 1 without a word."""
    for _ in range(2):
        result = subprocess.run(command, **kwargs)
        if not unstarted(result):
            break
    if check:
        result.check_returncode()
    return result


def windows_path(path):
    """The path of a Linux file as a Windows program under Wine sees it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


# installer.exe and the library it loads from its own folder.
INSTALLER = "desktop/windows/installer/installer.exe"
LIBRARY = "desktop/windows/installer/tarvo_installer.dll"


# Starts a command line with a standard user's token: under Wine every
# process is an elevated administrator's, whose run the installer takes as
# one that may run elevated. A test that means a standard user's run (one
# for this user alone, its places chosen through the environment) starts
# the program through it (desktop/windows/installer/test/standard_user_start.cc).
STANDARD_USER_START = "desktop/windows/installer/standard_user_start.exe"


def as_standard_user(build_dir, program, *args):
    """The Windows command (program and arguments) as a standard user starts
    it; a Path is a Linux path."""
    program = windows_path(program) if isinstance(program, Path) else str(program)
    return [str(build_dir / STANDARD_USER_START), program, *map(str, args)]


def is_standard_users_run(args):
    """Whether the tests start an installer run with `args` as a standard
    user: one for all users is an administrator's, any other a standard
    user's (with UAC on, an administrator's unraised start is one too)."""
    return "--allusers=1" not in map(str, args)


def tree_runner_as(args):
    """process_tree_runner's own switches for a run with `args`."""
    return ["--standard-user"] if is_standard_users_run(args) else []


def wine(build_dir, *args, **kwargs):
    """Runs a program (a path or one of Wine's own) in the build's prefix."""
    command = [str(build_dir / "wine-run"), *map(str, args)]
    timeout = kwargs.pop("timeout", 600)
    if any("installer.exe" in str(arg) for arg in args):
        return subprocess.run(command, capture_output=True, timeout=timeout, **kwargs)
    return run_tool(command, capture_output=True, timeout=timeout, **kwargs)


@pytest.fixture(scope="session")
def log_folder(build_dir):
    """Where installer processes write their logs, as a Linux path."""
    temp = wine(build_dir, "cmd", "/c", "echo %TEMP%").stdout.decode().strip()
    unix = wine(build_dir, "winepath", "-u", temp).stdout.decode().strip()
    return os.path.join(unix, "Tarvo Installer")


# The name of a private folder an installer process makes in a temporary
# folder, the installer's own copy that removes an uninstallation's
# leftovers among them.
PRIVATE_FOLDER_NAME = re.compile(r"[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}")
# Bounds a wait for another process only against a hang.
WAIT_GUARD = 300


@pytest.fixture(scope="session")
def private_folders(build_dir, log_folder):
    """private_folders() -> the private folders now in the user's and the
    system's temporary folders, as Linux paths."""
    system_temp = Path(wine(build_dir, "winepath", "-u", "C:\\windows\\temp").stdout
                       .decode().strip())
    temps = [Path(log_folder).parent, system_temp]

    def listed():
        return {path for temp in temps if temp.is_dir() for path in temp.iterdir()
                if PRIVATE_FOLDER_NAME.fullmatch(path.name)}

    return listed


def wait_until(done, what):
    """Polls `done` until it holds; only a hang fails it."""
    deadline = time.monotonic() + WAIT_GUARD
    while not done():
        assert time.monotonic() < deadline, what
        time.sleep(0.1)


@pytest.fixture
def installer_folder(build_dir, tmp_path):
    """A folder of its own holding installer.exe and the library."""
    folder = tmp_path / "installer"
    folder.mkdir()
    shutil.copy(build_dir / INSTALLER, folder)
    shutil.copy(build_dir / LIBRARY, folder)
    return folder


def run_installer(build_dir, installer, *args, standard_user=False):
    """Runs installer.exe to its end, as an administrator or a standard user.
    Without a display the interactive front end has no window and ends with
    an error instead of waiting for a user; its statistics report stays home
    instead of retrying against an update server that is not there."""
    env = {name: value for name, value in os.environ.items() if name != "DISPLAY"}
    command = [installer, *args, "--enable-installer-stats=0"]
    if standard_user:
        command = as_standard_user(build_dir, *command)
    return wine(build_dir, *command, input=b"\n", env=env)


class Logs:
    """The log files of runs marked with a switch of their own."""

    def __init__(self, folder):
        self.folder = folder
        self.found = []

    @staticmethod
    def marker():
        return f"--e2e-run={uuid.uuid4().hex}"

    def of(self, marker):
        """{file name: text} of every log whose command line holds the marker."""
        logs = {}
        if os.path.isdir(self.folder):
            for name in os.listdir(self.folder):
                path = os.path.join(self.folder, name)
                with open(path, encoding="utf-8", errors="replace") as log:
                    text = log.read()
                if marker in text:
                    logs[name] = text
                    self.found.append(path)
        return logs

    def one(self, marker):
        logs = self.of(marker)
        assert len(logs) == 1, logs.keys()
        return next(iter(logs.items()))


@pytest.fixture
def logs(log_folder):
    logs = Logs(log_folder)
    yield logs
    for path in logs.found:
        if os.path.exists(path):
            os.remove(path)


@contextlib.contextmanager
def small_volume(folder, size="2m"):
    """A tmpfs of `size` at the folder: at 2 MiB the package's library
    (3.4 MB) fills it part-way, after the smaller files fitted. Mounting
    needs root; elsewhere the test is skipped."""
    folder.mkdir(exist_ok=True)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tarvo_test",
                              str(folder)], capture_output=True)
    if mounted.returncode != 0:
        pytest.skip(f"no tmpfs can be mounted here: {mounted.stderr.decode().strip()}")
    try:
        yield
    finally:
        subprocess.run(["umount", "-l", str(folder)], check=False)
