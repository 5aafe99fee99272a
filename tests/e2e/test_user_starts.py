"""The product started as its users start it, in a prefix of this group's
own: the installer files as the build ships them (installer_files/full and
online), copied with their library into the user's Downloads folder and
started with no switch at all, as a double-click starts them, with the
default temporary folder and the default installation folder; the
uninstallation started by the command of the product's uninstall entry, as
Programs and Features starts it; a silent installation with --silent alone;
a temporary folder too long for what the run puts below it.

window_driver_tool, a second process, lists the session's windows while a
run starts (the first one to show must be the installer's own page) and then
works the installer's window as a user would.

The shipped files name autoupdate.tarvo.example, which never resolves here:
copies of them name the tests' update server instead, their branding
rewritten in place and signed again by the build's signer, as the other
tests make their installer files."""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import uuid
from pathlib import Path

import pytest

import installer_files as files
from conftest import run_tool, tree_runner_as, wait_until, windows_path
from test_installer_window import (ACCEPT, DRIVER, FAILED_HEADING, IDOK, MAIN_CONTROLS, MAIN_FOLDERS,
                                   PAGES, UNINSTALL, Window)
import test_installation as installation
from test_signature import Pki
from test_silent_installation import (TREE_RUNNER, VERSIONS, exit_code_of, installed_tree,
                                      package_tree)
from update_server import UpdateServer
from wine_process import HANG_GUARD, WineProcess

VERSION = VERSIONS["current"]
# The installation's defaults: every user, under the program files, the
# stream in the folder's name.
DEFAULT_FOLDER = "C:\\Program Files\\Tarvo developer"
WINDOW_TITLE = "Tarvo Installer"
# The installation starts the browser once done, and the browser's launcher
# stand-in records it beside itself.
LAUNCH_RECORD = "launcher_started.txt"
UNINSTALL_KEYS = [f"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo {VERSION}",
                  f"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo {VERSION}"]


def wine(build_dir, *args):
    return run_tool([str(build_dir / "wine-run"), *map(str, args)], capture_output=True,
                    timeout=HANG_GUARD)


def linux_path(build_dir, path):
    return Path(wine(build_dir, "winepath", "-u", path).stdout.decode().strip())


def shell_folder(build_dir, variable):
    shown = wine(build_dir, "cmd", "/c", f"echo %{variable}%").stdout.decode().strip()
    return shown, linux_path(build_dir, shown)


class User:
    """The prefix's user: Downloads, the temporary folder, the default
    installation folder."""

    def __init__(self, build_dir):
        self.build_dir = build_dir
        profile, self.profile = shell_folder(build_dir, "USERPROFILE")
        self.downloads = self.profile / "Downloads"
        self.downloads_windows = profile + "\\Downloads"
        self.temp_windows, self.temp = shell_folder(build_dir, "TEMP")
        self.folder = linux_path(build_dir, DEFAULT_FOLDER)

    def windows(self):
        """The session's visible top-level windows."""
        listed = wine(self.build_dir, self.build_dir / DRIVER, "windows")
        assert listed.returncode == 0, listed
        return json.loads(listed.stdout)

    def uninstall_strings(self):
        """The commands of the product's uninstall entries, in whichever root
        and view they stand, as Programs and Features reads them."""
        found = []
        for key in UNINSTALL_KEYS:
            for view in ("/reg:64", "/reg:32"):
                result = wine(self.build_dir, "reg", "query", key, "/v", "UninstallString", view)
                for line in result.stdout.decode(errors="replace").splitlines():
                    name, _, value = line.strip().partition("    REG_SZ    ")
                    if name == "UninstallString":
                        found.append(value)
        return found


@pytest.fixture(scope="module")
def user(build_dir):
    return User(build_dir)


@pytest.fixture
def server():
    with UpdateServer() as running:
        yield running


@pytest.fixture
def shipped(build_dir, user, server):
    """{"full", "online"}: the shipped installer files in Downloads, each in
    a folder of its own with the library beside it, naming the test server."""
    keys = files.BuildKeys(build_dir)
    copies = {}
    for kind in ("full", "online"):
        folder = user.downloads / f"Tarvo {kind} {uuid.uuid4().hex[:8]}"
        folder.mkdir(parents=True)
        source = build_dir / "installer_files" / kind
        shutil.copy(source / "tarvo_installer.dll", folder)
        unsigned = folder / "unsigned.exe"
        subprocess.run(["osslsigncode", "remove-signature", "-in", str(source / "installer.exe"),
                        "-out", str(unsigned)], check=True, capture_output=True)
        unsigned.write_bytes(files.rebrand(unsigned.read_bytes(), server.autoupdate_url))
        copies[kind] = keys.sign(files.GOOD_SIGNER, unsigned, folder / "installer.exe")
        unsigned.unlink()
    yield copies
    for copy in copies.values():
        shutil.rmtree(copy.parent, ignore_errors=True)


@pytest.fixture(scope="module")
def package(build_dir, tmp_path_factory):
    """The shipped package, unpacked: what an installation puts in place."""
    folder = tmp_path_factory.mktemp("shipped_package")
    subprocess.run(["7zz", "x", "-bso0", "-bsp0", str(build_dir / "installer_files/package.7z"),
                    f"-o{folder}"], check=True)
    return folder


@pytest.fixture
def machine(build_dir, user):
    """A machine without the product before and after the test: what a test
    left installed is uninstalled by its own installer."""
    assert not user.folder.exists(), "an earlier test left the product installed"
    yield user
    if (user.folder / VERSION / "installer.exe").exists():
        run_tree(build_dir, windows_path(user.folder / VERSION / "installer.exe"), "--uninstall",
                 "--silent")
    shutil.rmtree(user.folder, ignore_errors=True)
    for key in UNINSTALL_KEYS:
        for view in ("/reg:64", "/reg:32"):
            wine(build_dir, "reg", "delete", key, "/f", view)


def run_tree(build_dir, *command):
    """The command run to the end of its process tree: (exit code, stderr)."""
    result = subprocess.run([str(build_dir / "wine-run"), str(build_dir / TREE_RUNNER), *command],
                            capture_output=True, timeout=HANG_GUARD)
    return exit_code_of(result.stdout), result.stderr.decode(errors="replace")


class Started(Window):
    """A command run to the end of its process tree as the shell runs it,
    with the first window it shows."""

    def __init__(self, build_dir, user, tmp_path, *command):
        self.stderr_path = tmp_path / f"{uuid.uuid4().hex}.stderr"
        self.before = {window["handle"] for window in user.windows()}
        WineProcess.__init__(self, build_dir, TREE_RUNNER, self.stderr_path, *command)
        self.build_dir = build_dir
        self.user = user
        self.screenshots = tmp_path  # where Window.screenshot puts its pictures
        first = self.read_line()
        assert first and first.startswith("pid "), first
        self.pid = int(first.split()[1])
        self.first_windows = self.wait_for_new_windows()
        self.handle = self.first_windows[0]["handle"]
        # What the run said before its first window showed.
        self.said_first = self.stderr()

    def wait_for_new_windows(self):
        """The windows that showed first; only the hang guard ends the wait
        while the run goes on without one."""
        while True:
            shown = [w for w in self.user.windows() if w["handle"] not in self.before]
            if shown:
                return shown
            assert self.process.poll() is None, \
                f"ended without a window: {self.stderr()}"

    def stderr(self):
        self.log.flush()
        return self.stderr_path.read_bytes().decode(errors="replace")

    def assert_first_window_is_the_installer(self, pid=None):
        assert len(self.first_windows) == 1, json.dumps(self.first_windows)
        first = self.first_windows[0]
        assert (first["class"], first["title"], first["owned"]) == \
            ("#32770", WINDOW_TITLE, False), json.dumps(first)
        if pid is not None:
            assert first["pid"] == pid, json.dumps(first)

    def wait_for_page(self, page):
        while True:
            state = self.state()
            if self.visible_main_controls(state) == PAGES[page]:
                return state

    def exit_code(self):
        while True:
            line = self.read_line()
            assert line is not None, self.stderr()
            if line.startswith("exit "):
                return int(line.split()[1])


@pytest.fixture
def start(build_dir, user, tmp_path):
    started = []

    def run(*command):
        process = Started(build_dir, user, tmp_path, *command)
        started.append(process)
        return process

    yield run
    for process in started:
        process.stop()


def installed(folder):
    """The installed tree without the files the installation writes itself,
    nor the launcher stand-in's record."""
    tree = installed_tree(folder)
    tree.pop(LAUNCH_RECORD, None)
    return tree


def double_click(start, user, installer):
    """Starts the installer as the shell starts it and checks that its
    welcome page is the first window and nothing was said before it."""
    run = start(windows_path(installer))
    run.assert_first_window_is_the_installer(pid=run.pid)
    state = run.wait_for_page("WELCOME")
    assert run.text(state, MAIN_FOLDERS) == DEFAULT_FOLDER
    assert run.said_first == ""
    return run


def test_double_clicked_full_installer_installs_and_its_uninstall_entry_removes_it(
        build_dir, user, machine, shipped, package, server, start, tmp_path):
    run = double_click(start, user, shipped["full"])
    run.drive("click", ACCEPT)

    assert run.exit_code() == 0
    assert "cannot start" not in run.stderr()
    assert installed(user.folder) == package_tree(package, VERSION)
    launches = (user.folder / LAUNCH_RECORD).read_text(encoding="utf-8").splitlines()
    assert launches == [f'"{DEFAULT_FOLDER}\\launcher.exe" --start-maximized']
    (report,) = server.reports()
    assert report["installation_success"] == 1
    assert report["payload_type"] == "full_package"

    (command,) = user.uninstall_strings()
    assert command == f'"{DEFAULT_FOLDER}\\Launcher.exe" /uninstall'
    command_file = tmp_path / "uninstall_command.txt"
    command_file.write_bytes(command.encode())
    uninstall = start(f"@{windows_path(command_file)}")
    uninstall.assert_first_window_is_the_installer()
    uninstall.wait_for_page("UNINSTALL")
    # The launcher hands over to the installed installer and ends, as the
    # browser's does: the uninstallation's own end is the installer's.
    uninstaller = WineProcess(build_dir, DRIVER, tmp_path / "uninstaller.stderr",
                              "exit-code", str(uninstall.first_windows[0]["pid"]))
    assert uninstaller.read_line() == "holding"
    uninstall.drive("click", UNINSTALL)

    assert uninstall.exit_code() == 0
    assert uninstaller.read_line() == "0"
    uninstaller.stop()
    assert "cannot start" not in uninstall.stderr()
    # The installer's copy deletes the uninstaller's own program and library
    # and the record of them once the uninstaller has ended; the launcher
    # stand-in's record is none of the installation's, and keeps the folder.
    wait_until(lambda: set(installation.tree(user.folder)) == {LAUNCH_RECORD},
               "the uninstallation's leftovers stay")
    assert user.uninstall_strings() == []


def test_double_clicked_online_installer_installs_from_the_update_server(
        build_dir, user, machine, shipped, package, server, start):
    server.offer((build_dir / "installer_files/full/installer.exe").read_bytes())
    run = double_click(start, user, shipped["online"])
    run.drive("click", ACCEPT)

    assert run.exit_code() == 0
    assert "cannot start" not in run.stderr()
    assert installed(user.folder) == package_tree(package, VERSION, online=True)
    assert len(server.package_requests()) == 1
    (report,) = server.reports()
    assert report["installation_success"] == 1
    assert report["payload_type"] != "full_package"


def test_silent_switch_alone_installs(build_dir, user, machine, shipped, package, server):
    code, stderr = run_tree(build_dir, windows_path(shipped["full"]), "--silent")

    assert code == 0
    assert "cannot start" not in stderr
    assert installed(user.folder) == package_tree(package, VERSION)
    assert [r["installation_success"] for r in server.reports()] == [1]


@pytest.mark.parametrize("switch, box", [
    ("--version", False), ("--internal-version", False), ("--stream", False),
    ("--silent", False), ("", True)])
def test_host_without_library_tells_by_box_only_a_run_that_shows_windows(
        build_dir, user, tmp_path, switch, box):
    # The installer tests whether programs run from a folder by starting a
    # copy of installer.exe there alone, with --version.
    alone = tmp_path / "alone"
    alone.mkdir()
    shutil.copy(build_dir / "installer_files/full/installer.exe", alone)
    before = {window["handle"] for window in user.windows()}
    run = WineProcess(build_dir, TREE_RUNNER, tmp_path / "alone.stderr",
                      *filter(None, [windows_path(alone / "installer.exe"), switch]))
    assert run.read_line().startswith("pid ")

    # A box holds the run until it is answered: the run ends by itself, or
    # its box is found.
    shown = []
    while run.process.poll() is None and not shown:
        shown = [w for w in user.windows() if w["handle"] not in before]
    if box:
        (window,) = shown
        assert window["title"] == "Tarvo installer" and any(
            "tarvo_installer.dll is missing" in text for text in window["texts"]), window
        subprocess.run([str(build_dir / "wine-run"), str(build_dir / DRIVER), "click",
                        window["handle"], str(IDOK)], check=True, timeout=HANG_GUARD)
    else:
        assert shown == []

    assert run.read_line() == "exit 2"
    run.stop()
    said = (tmp_path / "alone.stderr").read_text(errors="replace")
    assert said.startswith("The installer cannot start: the file "), said
    assert f"{windows_path(alone)}\\tarvo_installer.dll is missing." in said


def long_temp(user, length):
    """A temporary folder of `length` characters inside the prefix's own."""
    windows = user.temp_windows + "\\long"
    while len(windows) < length:
        windows += "\\" + "t" * min(120, length - len(windows) - 1)
    assert len(windows) == length
    return windows


@pytest.mark.parametrize("kind, length", [("full", 200), ("online", 213)])
def test_temporary_folder_too_long_for_the_package_gives_way_to_downloads(
        build_dir, user, machine, shipped, package, server, tmp_path, kind, length):
    server.offer((build_dir / "installer_files/full/installer.exe").read_bytes())
    temp = long_temp(user, length)
    # The prefix outlives a run: only what this run leaves may be counted.
    shutil.rmtree(linux_path(build_dir, user.temp_windows + "\\long"), ignore_errors=True)
    shutil.rmtree(user.downloads / "Tarvo Installer", ignore_errors=True)
    # The user's environment as a process started by the shell gets it.
    batch = tmp_path / "start.bat"
    batch.write_bytes(f'@set "TMP={temp}"\r\n@set "TEMP={temp}"\r\n'
                      f'@start "" /wait "{windows_path(shipped[kind])}" --silent\r\n'
                      f'@exit /b %ERRORLEVEL%\r\n'.encode())

    # A standard user's start: an administrator's run downloads into a
    # folder of its own that only the administrators may write.
    code, _ = run_tree(build_dir, "--standard-user", windows_path(batch))

    assert code == 0
    assert installed(users_own_folder(build_dir)) == \
        package_tree(package, VERSION, online=kind == "online")
    logs = linux_path(build_dir, temp) / "Tarvo Installer"
    front_end = [text for text in (p.read_text(errors="replace") for p in logs.glob("*.log"))
                 if "Installer download folder: " in text]
    assert len(front_end) == 1
    candidate = f"{temp}\\Tarvo Installer"
    assert f"{candidate} is {len(candidate)} characters long" in front_end[0]
    assert f"Installer download folder: {user.downloads_windows}\\Tarvo Installer\n" \
        in front_end[0]
    # Nothing but the logs in the temporary folder, nothing in Downloads.
    assert {p.suffix for p in logs.iterdir()} == {".log"}
    downloads = user.downloads / "Tarvo Installer"
    assert not downloads.exists() or list(downloads.iterdir()) == []
    shutil.rmtree(linux_path(build_dir, user.temp_windows + "\\long"))
    uninstall_for_this_user(build_dir)


PEER = "desktop/windows/installer/entry_peer_tool.exe"
PLANTED = "desktop/windows/installer/planted_library.dll"
PLANTED_RAN = "planted_library_ran"
REFUSED = "is not the library this installer was built with, so it was not loaded."
CHANGED = "The package's installer or library was changed after the package was checked."


def logs_since(user, before):
    folder = user.temp / "Tarvo Installer"
    return "".join(p.read_text(errors="replace") for p in sorted(folder.glob("*.log"))
                   if p.name not in before)


def log_names(user):
    return {p.name for p in (user.temp / "Tarvo Installer").glob("*.log")}


def planted_beside_installer(build_dir, user):
    """The shipped signed installer.exe in a Downloads folder, an unsigned
    library planted beside it under the installer library's name."""
    folder = user.downloads / f"Tarvo planted {uuid.uuid4().hex[:8]}"
    folder.mkdir(parents=True)
    shutil.copy(build_dir / "installer_files/full/installer.exe", folder)
    shutil.copy(build_dir / PLANTED, folder / "tarvo_installer.dll")
    return folder / "installer.exe"


def test_library_planted_beside_the_signed_installer_is_never_loaded(build_dir, user, machine):
    installer = planted_beside_installer(build_dir, user)

    code, stderr = run_tree(build_dir, windows_path(installer), "--silent")

    assert code == 4
    assert not (installer.parent / PLANTED_RAN).exists()
    assert f"the file {windows_path(installer.parent)}\\tarvo_installer.dll {REFUSED}" in stderr
    shutil.rmtree(installer.parent)


def test_library_planted_beside_an_elevated_start_is_never_loaded(build_dir, user, machine):
    # The elevated relaunch is the shell's "runas" of the same file.
    installer = planted_beside_installer(build_dir, user)

    result = wine(build_dir, build_dir / PEER, "runas", windows_path(installer), "--silent",
                  "--allusers=1")

    assert result.stdout.decode().split()[-2:] == ["exit", "4"], result
    assert not (installer.parent / PLANTED_RAN).exists()
    shutil.rmtree(installer.parent)


@pytest.mark.parametrize("swapped,expected_code", [(False, 0), (True, 4)],
                         ids=["genuine_pair_runs", "swapped"])
def test_resigned_copy_swapped_in_while_the_host_starts_never_loads_its_library(
        build_dir, user, machine, tmp_path, swapped, expected_code):
    # The testing build's host waits where the race was, after its start and
    # before it holds its library; meanwhile a process of the user renames
    # the running installer.exe and its library away and puts in their place
    # the same installer.exe signed again with a self-made certificate of the
    # vendor's names, and a library of its own signed alike.
    attacker = tmp_path / "attacker"
    attacker.mkdir()
    pki = Pki(attacker)
    run, marker, folder = start_paused(build_dir, user, tmp_path, "host-start", "--version",
                                       stderr=subprocess.PIPE)
    if swapped:
        for name in files.INSTALLER_FILES:
            (folder / name).rename(folder / f"old_{name}")
        unsigned = attacker / "unsigned.exe"
        subprocess.run(["osslsigncode", "remove-signature", "-in", str(folder / "old_installer.exe"),
                        "-out", str(unsigned)], check=True, capture_output=True)
        pki.sign("rogue", unsigned, folder / "installer.exe")
        pki.sign("rogue", build_dir / PLANTED, folder / "tarvo_installer.dll")
    marker.unlink()

    output, stderr = run.communicate(timeout=HANG_GUARD)

    # The version is printed without a line end, before the runner's line.
    shown = output.decode(errors="replace").rstrip()
    assert shown.endswith(f"exit {expected_code}"), shown
    assert (VERSION in shown) != swapped
    refusal = f"the file {windows_path(folder)}\\tarvo_installer.dll {REFUSED}"
    assert (refusal in stderr.decode(errors="replace")) == swapped
    assert not (folder / PLANTED_RAN).exists()
    shutil.rmtree(folder)


@pytest.mark.parametrize("switches", [["--version"], ["--silent", "--allusers=1"]],
                         ids=["version", "silent_all_users"])
@pytest.mark.parametrize("library", ["older", "other_stream"])
def test_signed_library_of_another_build_beside_the_signed_installer_is_never_loaded(
        build_dir, user, machine, library, switches):
    # A library that a release of another version or stream shipped, signed
    # by the publisher itself, put beside the current signed installer.
    folder = user.downloads / f"Tarvo {library} {uuid.uuid4().hex[:8]}"
    folder.mkdir(parents=True)
    shutil.copy(build_dir / "installer_files/full/installer.exe", folder)
    files.BuildKeys(build_dir).sign(files.GOOD_SIGNER, files.library_file(build_dir, library),
                                    folder / "tarvo_installer.dll")

    code, stderr = run_tree(build_dir, windows_path(folder / "installer.exe"), *switches)

    assert code == 4
    assert f"the file {windows_path(folder)}\\tarvo_installer.dll {REFUSED}" in stderr
    assert not user.folder.exists()
    shutil.rmtree(folder)


def test_crash_reporter_of_an_elevated_start_is_the_program_that_runs(
        build_dir, user, machine, shipped):
    # The reporter is the program started again in another role. The
    # command line's first name is its starter's to choose: a program that
    # records its start, put beside the signed installer.
    installer = shipped["full"]
    named = installer.parent / "named.exe"
    shutil.copy(build_dir / installation.LAUNCHER, named)
    before = log_names(user)

    result = wine(build_dir, build_dir / PEER, "run-named", windows_path(named),
                  windows_path(installer), "--silent", "--allusers=1")

    assert result.stdout.decode().split()[-2:] == ["exit", "0"], result
    assert not (installer.parent / LAUNCH_RECORD).exists()
    assert (user.folder / VERSION / "installer.exe").is_file()
    # The signed program, held, was started in its place, and served.
    assert re.search(r"Crash reporter of this process: [1-9]", logs_since(user, before))


def test_pinning_helper_of_an_all_users_installation_runs_from_an_administrators_folder(
        build_dir, user, machine, shipped):
    # The helper runs with the run's rights; the user's unelevated processes
    # share its user and write that user's temporary folder.
    before = log_names(user)

    code, stderr = run_tree(build_dir, windows_path(shipped["full"]), "--silent",
                            "--allusers=1", "--pintotaskbar=1")

    assert code == 0, stderr
    (line,) = [line for line in logs_since(user, before).splitlines()
               if "Running the pinning helper " in line]
    helper = line.split("Running the pinning helper ", 1)[1].strip()
    folder, name = helper.rsplit("\\", 1)
    assert name == "explorer.exe"
    assert folder.rsplit("\\", 1)[0] == SYSTEM_TEMP, helper
    assert not linux_path(build_dir, folder).exists()


def start_paused(build_dir, user, tmp_path, point, *switches, stderr=subprocess.DEVNULL):
    """The testing full installer started silently from Downloads, with
    `switches`, paused at `point` until the returned marker is deleted."""
    folder = user.downloads / f"Tarvo testing {uuid.uuid4().hex[:8]}"
    folder.mkdir(parents=True)
    for name in files.INSTALLER_FILES:
        shutil.copy(build_dir / "installer_files_testing/full" / name, folder)
    marker = tmp_path / "paused"
    environment = {**os.environ,
                   "TARVO_TEST_FAULT": f"at={point};action=pause;marker={windows_path(marker)}"}
    run = subprocess.Popen([str(build_dir / "wine-run"), str(build_dir / TREE_RUNNER),
                            *tree_runner_as(switches), windows_path(folder / "installer.exe"),
                            "--silent", *switches],
                           stdout=subprocess.PIPE, stderr=stderr, env=environment)
    while not marker.exists():
        assert run.poll() is None, "ended before the pause"
    return run, marker, folder


def package_folder(user):
    """The package folder the paused run unpacked last."""
    unpacked = (user.temp / "Tarvo Installer").glob("tarvo_installer_*/installer.exe")
    return max(unpacked, key=lambda installer: installer.stat().st_mtime).parent


@pytest.mark.parametrize("replaced", ["library", "installer"])
def test_package_files_replaced_before_the_hand_over_are_never_run(
        build_dir, user, machine, tmp_path, replaced):
    before = log_names(user)
    # For this user alone: the backend hands over to the front end's copy.
    run, marker, downloaded = start_paused(build_dir, user, tmp_path, "hand-over",
                                           "--allusers=0")
    package = package_folder(user)
    if replaced == "library":
        shutil.copy(build_dir / PLANTED, package / "tarvo_installer.dll")
    else:
        # An unsigned build of installer.exe, which would load anything.
        shutil.copy(build_dir / installation.INSTALLER, package / "installer.exe")
    marker.unlink()

    output, _ = run.communicate(timeout=HANG_GUARD)

    assert exit_code_of(output) == 1
    assert not (package / PLANTED_RAN).exists()
    assert not (user.folder / VERSION).exists()
    logged = logs_since(user, before)
    assert CHANGED in logged
    name = "tarvo_installer.dll" if replaced == "library" else "installer.exe"
    assert f"Refusing {user.temp_windows}\\Tarvo Installer\\{package.name}\\{name}: " \
        "it is not signed" in logged
    shutil.rmtree(downloaded)


def test_folder_probe_copy_replaced_is_never_run(build_dir, user, machine, tmp_path):
    before = log_names(user)
    run, marker, downloaded = start_paused(build_dir, user, tmp_path, "folder-probe")
    probe = user.temp / "Tarvo Installer"
    copy = probe / "installer.exe"
    assert copy.exists()
    # A program that records each start beside itself.
    shutil.copy(build_dir / installation.LAUNCHER, copy)
    marker.unlink()

    output, _ = run.communicate(timeout=HANG_GUARD)

    assert not (probe / LAUNCH_RECORD).exists()
    assert f"Refusing {user.temp_windows}\\Tarvo Installer\\installer.exe: it is not signed" \
        in logs_since(user, before)
    # The run goes on from the next folder that runs the checked copy.
    assert exit_code_of(output) == 0
    shutil.rmtree(downloaded)


# The places where a run of the testing full installer, started from
# Downloads, starts or loads a checked file from a folder its user may
# write, each paused just before the start or load. For each: the run's
# switches, the folder that holds the file, the run's exit code once a
# Linux process swapped that folder, and what the run then says (in its
# logs and on its standard error).
SWAP_PLACES = {
    "host-load": (["--version"], lambda user, downloaded: downloaded, 4,
                  "was changed after it was checked, so it was not run"),
    "backend-start": (["--allusers=1"], lambda user, downloaded: downloaded, 1,
                      "Not starting the backend: "),
    "protected-unpack": (["--allusers=1"], lambda user, downloaded: downloaded, 1,
                         "its path led elsewhere"),
    "hand-over-start": (["--allusers=0"], lambda user, downloaded: package_folder(user), 1,
                        CHANGED),
    "folder-probe-start": ([], lambda user, downloaded: user.temp / "Tarvo Installer", 0,
                           "it was changed after it was checked"),
}


def users_own_folder(build_dir):
    """The default installation folder of a run for this user alone."""
    _, local = shell_folder(build_dir, "LOCALAPPDATA")
    return local / "Programs" / "Tarvo developer"


def uninstall_for_this_user(build_dir):
    """What a run for this user alone installed goes, by its own installer."""
    folder = users_own_folder(build_dir)
    if (folder / VERSION / "installer.exe").exists():
        run_tree(build_dir, windows_path(folder / VERSION / "installer.exe"), "--uninstall",
                 "--silent")
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def machine_for_each(build_dir, machine):
    """`machine`, and no installation for this user alone after the test."""
    yield machine
    uninstall_for_this_user(build_dir)


def exit_code_shown(output):
    """The tree runner's exit code, after whatever the run printed without a
    line end (the version)."""
    shown = output.decode(errors="replace").rstrip()
    code = re.search(r"exit (-?\d+)$", shown)
    assert code, shown
    return int(code.group(1))


def put_back(aside, folder):
    """`aside`'s files back in `folder`, which the run may have made anew."""
    folder.mkdir(exist_ok=True)
    for entry in aside.iterdir():
        if not (folder / entry.name).exists():
            entry.rename(folder / entry.name)
    shutil.rmtree(aside)


@pytest.mark.parametrize("point", list(SWAP_PLACES))
@pytest.mark.parametrize("swap", ["windows_rename", "linux_rename"])
def test_checked_file_swapped_through_its_folder_never_runs(build_dir, user, machine_for_each,
                                                             tmp_path, point, swap):
    # Just before the start or load, another process of the user's renames
    # the folder aside and moves a folder of an unsigned stand-in into its
    # place: a program that records each start, a library that records its
    # load, beside each other. A Windows program finds the folder held; a
    # Linux process renames it all the same, and the run refuses what the
    # path now leads to.
    switches, folder_of, refused_code, refusal = SWAP_PLACES[point]
    before = log_names(user)
    downloads_probe = user.downloads / "Tarvo Installer"
    probe_existed = downloads_probe.exists()
    run, marker, downloaded = start_paused(build_dir, user, tmp_path, point, *switches,
                                           stderr=subprocess.PIPE)
    folder = folder_of(user, downloaded)
    aside = folder.with_name(folder.name + " aside")
    stand_in = tmp_path / "stand_in"
    stand_in.mkdir()
    shutil.copy(build_dir / installation.LAUNCHER, stand_in / "installer.exe")
    shutil.copy(build_dir / PLANTED, stand_in / "tarvo_installer.dll")
    if swap == "windows_rename":
        moved = wine(build_dir, build_dir / PEER, "move", windows_path(folder), windows_path(aside))
        assert moved.stdout.decode().split() == ["error", "32"], moved
    else:
        folder.rename(aside)
        shutil.move(stand_in, folder)
    marker.unlink()

    output, stderr = run.communicate(timeout=HANG_GUARD)

    said = stderr.decode(errors="replace") + logs_since(user, before)
    if aside.exists():
        said += "".join(p.read_text(errors="replace") for p in aside.glob("*.log"))
    for place in (folder, aside):
        assert not (place / LAUNCH_RECORD).exists()
        assert not (place / PLANTED_RAN).exists()
    if swap == "windows_rename":
        assert exit_code_shown(output) == 0, said
        assert refusal not in said
    else:
        assert exit_code_shown(output) == refused_code, said
        assert refusal in said
    if point == "folder-probe-start" and aside.exists():
        shutil.rmtree(folder, ignore_errors=True)
        put_back(aside, folder)
    if not probe_existed:
        shutil.rmtree(downloads_probe, ignore_errors=True)
    shutil.rmtree(downloaded, ignore_errors=True)
    shutil.rmtree(aside, ignore_errors=True)


MOVE_ELSEWHERE = "Please move the installer to another folder, and try again."


@pytest.mark.parametrize("switches, sibling", [
    (["--version"], True), (["--silent", "--allusers=1"], True), (["--silent"], False)],
    ids=["version", "silent_all_users", "silent_no_sibling"])
def test_installer_in_a_folder_ending_in_a_dot_runs_nothing_of_its_sibling(
        build_dir, user, machine, switches, sibling):
    # The path rules drop a folder name's last dot from a path used as a user
    # spells it: "x.\installer.exe" opens "x\installer.exe". The shipped
    # files lie in "x.", reached through a link; the sibling "x" holds a
    # program that records its start and a library that records its load.
    # Windows names "x." with its dot, a name the pin refuses; Wine names it
    # without, and the path it hands on opens the sibling's file, or none:
    # either way the run refuses and tells the user to move the installer.
    tag = uuid.uuid4().hex[:8]
    dotted = user.downloads / f"Tarvo dot {tag}."
    other = dotted.with_name(f"Tarvo dot {tag}")
    link = dotted.with_name(f"Tarvo link {tag}")
    dotted.mkdir(parents=True)
    for name in files.INSTALLER_FILES:
        shutil.copy(build_dir / "installer_files/full" / name, dotted)
    if sibling:
        other.mkdir()
        shutil.copy(build_dir / installation.LAUNCHER, other / "installer.exe")
        shutil.copy(build_dir / PLANTED, other / "tarvo_installer.dll")
    link.symlink_to(dotted.name, target_is_directory=True)
    # Through the link, unresolved: windows_path() would resolve it.
    started_as = "Z:" + str(link / "installer.exe").replace("/", "\\")

    code, stderr = run_tree(build_dir, started_as, *switches)

    assert code == 4, stderr
    assert MOVE_ELSEWHERE in stderr
    for folder in (dotted, other):
        assert not (folder / LAUNCH_RECORD).exists()
        assert not (folder / PLANTED_RAN).exists()
    assert not user.folder.exists()
    link.unlink()
    shutil.rmtree(dotted)
    shutil.rmtree(other, ignore_errors=True)


# A process of the user's that replaces every file of a package folder in
# the user's temporary folder as soon as it shows, until the stop file is
# made; it prints what it replaced. The package's installer and library are
# left alone: the hand-over checks them, and replacing them only makes a
# run refuse.
WATCHER = """
import os, sys, time
root, planted, stop = sys.argv[1], sys.argv[2].encode(), sys.argv[3]
checked = {"installer.exe", "tarvo_installer.dll"}
replaced = set()
while not os.path.exists(stop):
    packages = os.listdir(root) if os.path.isdir(root) else []
    for package in (os.path.join(root, p) for p in packages if p.startswith("tarvo_installer_")):
        for folder, _, names in os.walk(package):
            for path in (os.path.join(folder, n) for n in names if n not in checked):
                try:
                    with open(path, "rb") as f:
                        if f.read(len(planted) + 1) == planted:
                            continue
                    with open(path, "wb") as f:
                        f.write(planted)
                    replaced.add(os.path.relpath(path, package))
                except OSError:
                    pass
    time.sleep(0.001)
print("\\n".join(sorted(replaced)))
"""
PLANTED_TEXT = "planted by the user's process"
SYSTEM_TEMP = "C:\\windows\\Temp"


def folders_in(folder):
    return {path for path in folder.iterdir() if path.is_dir()}


# What the front end writes for the run beside its copy of the package: the
# user's own input, as a switch is, which the watcher spoils as the user
# could (the backend takes the preference defaults only as valid JSON).
RUN_DATA = {"pref_default_overrides", "server_tracking_data"}


@pytest.mark.parametrize("kind", ["full", "online"])
def test_all_users_installation_takes_nothing_from_the_users_temporary_folder(
        build_dir, user, machine, shipped, package, server, tmp_path, kind):
    server.offer((build_dir / "installer_files/full/installer.exe").read_bytes())
    system_temp = linux_path(build_dir, SYSTEM_TEMP)
    before = folders_in(system_temp)
    stop = tmp_path / "stop"
    watcher = subprocess.Popen([sys.executable, "-c", WATCHER, str(user.temp / "Tarvo Installer"),
                                PLANTED_TEXT, str(stop)], stdout=subprocess.PIPE, text=True)
    try:
        code, stderr = run_tree(build_dir, windows_path(shipped[kind]), "--silent",
                                "--allusers=1")
    finally:
        stop.touch()
        replaced, _ = watcher.communicate(timeout=HANG_GUARD)

    assert code == 0, stderr
    tree = installed(user.folder)
    expected = package_tree(package, VERSION, online=kind == "online")
    spoilt = RUN_DATA & set(replaced.split())
    assert {p: d for p, d in tree.items() if p not in spoilt} == \
        {p: d for p, d in expected.items() if p not in spoilt}, replaced
    planted = hashlib.sha256(PLANTED_TEXT.encode()).hexdigest()
    assert planted not in [d for p, d in tree.items() if p not in RUN_DATA]
    # The package's folder only administrators write goes with the run.
    assert folders_in(system_temp) == before


def test_elevated_unpack_folder_admits_only_system_and_administrators(
        build_dir, user, machine, tmp_path):
    system_temp = linux_path(build_dir, SYSTEM_TEMP)
    before = folders_in(system_temp)
    logs = log_names(user)
    run, marker, downloaded = start_paused(build_dir, user, tmp_path, "hand-over",
                                           "--allusers=1")
    # The front end's download folder, and the package the backend unpacked.
    made = folders_in(system_temp) - before
    (folder,) = [made_folder for made_folder in made if (made_folder / "installer.exe").exists()]
    (download,) = made - {folder}
    marker.unlink()

    output, _ = run.communicate(timeout=HANG_GUARD)

    assert exit_code_of(output) == 0
    # Protected from what the folder above passes on; full access for
    # SYSTEM and the Administrators alone, passed on to everything unpacked
    # inside. Wine keeps no list on a folder (it shows one made from the
    # Unix mode): the run names the one it made each folder with, in
    # Windows's own notation.
    logged = logs_since(user, logs)
    for made_folder in (folder, download):
        assert f"Made {SYSTEM_TEMP}\\{made_folder.name} with the access list " \
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" in logged
    assert folders_in(system_temp) == before
    shutil.rmtree(downloaded)


ADMINISTRATORS_LIST = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
WINE_MODE_LIST = "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)"
IN_PROFILE = "The folder for all users is refused: it is in a user's profile"


def test_all_users_installation_goes_only_to_an_administrators_folder(build_dir, user, machine,
                                                                      shipped, server):
    # Elevated processes (the update task, every later installer) run what
    # an all-users installation's folder holds.
    tag = uuid.uuid4().hex[:8]
    local, _ = shell_folder(build_dir, "LOCALAPPDATA")
    program_data, _ = shell_folder(build_dir, "ProgramData")
    in_profile = local + f"\\TarvoAU {tag}"
    new = program_data + f"\\TarvoAU {tag}"
    try:
        before = log_names(user)
        code, _ = run_tree(build_dir, windows_path(shipped["full"]), "--silent", "--allusers=1",
                           f"--installfolder={in_profile}")
        assert code != 0
        assert not linux_path(build_dir, in_profile).exists()
        assert IN_PROFILE in logs_since(user, before)
        assert user.uninstall_strings() == []

        before = log_names(user)
        code, _ = run_tree(build_dir, windows_path(shipped["full"]), "--silent", "--allusers=1",
                           f"--installfolder={new}")
        assert code == 0
        # Wine keeps a folder's access as its Unix mode and reports the list
        # that mode holds; Windows reports the list written.
        listed = wine(build_dir, build_dir / PEER, "dacl", new).stdout.decode().strip()
        assert listed in ("dacl " + ADMINISTRATORS_LIST, "dacl " + WINE_MODE_LIST)
        assert f"Made {new} the administrators' alone" in logs_since(user, before)
        assert user.uninstall_strings() == [f'"{new}\\Launcher.exe" /uninstall']
    finally:
        installer = linux_path(build_dir, new) / VERSION / "installer.exe"
        if installer.exists():
            run_tree(build_dir, windows_path(installer), "--uninstall", "--silent")
        shutil.rmtree(linux_path(build_dir, new), ignore_errors=True)
        shutil.rmtree(linux_path(build_dir, in_profile), ignore_errors=True)
        for key in UNINSTALL_KEYS:
            for view in ("/reg:64", "/reg:32"):
                wine(build_dir, "reg", "delete", key, "/f", view)


SYSTEM_POLICIES = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"


def set_user_account_control(build_dir, enabled):
    """The machine's "EnableLUA" policy, 1 or 0; returns the value before."""
    listed = wine(build_dir, "reg", "query", SYSTEM_POLICIES, "/v", "EnableLUA", "/reg:64")
    before = 1
    for line in listed.stdout.decode(errors="replace").splitlines():
        name, _, value = line.strip().partition("    REG_DWORD    ")
        if name == "EnableLUA":
            before = int(value, 16)
    result = wine(build_dir, "reg", "add", SYSTEM_POLICIES, "/v", "EnableLUA", "/t", "REG_DWORD",
                  "/d", str(enabled), "/f", "/reg:64")
    assert result.returncode == 0, result
    return before


def test_elevated_download_folder_is_never_reached_through_a_link(
        build_dir, user, machine, shipped, package, server, tmp_path):
    # The user's temporary folder, its installer folder a link to another
    # program's folder that holds a file under the name of the folder
    # probe's copy.
    tag = uuid.uuid4().hex[:8]
    temp_windows = f"{user.temp_windows}\\linked {tag}"
    temp = user.temp / f"linked {tag}"
    temp.mkdir()
    other = tmp_path / "other program"
    other.mkdir()
    (other / "installer.exe").write_bytes(b"the other program's\n")
    (temp / "Tarvo Installer").symlink_to(other)
    system_temp = linux_path(build_dir, SYSTEM_TEMP)
    before = folders_in(system_temp)
    batch = tmp_path / "start.bat"
    batch.write_bytes(f'@set "TMP={temp_windows}"\r\n@set "TEMP={temp_windows}"\r\n'
                      f'@start "" /wait "{windows_path(shipped["full"])}" --silent --allusers=1\r\n'
                      f'@exit /b %ERRORLEVEL%\r\n'.encode())
    try:
        code, stderr = run_tree(build_dir, windows_path(batch))

        assert code == 0, stderr
        assert installed(user.folder) == package_tree(package, VERSION)
        # Nothing was copied over, deleted or made where the link leads.
        assert other.is_dir() and os.listdir(other) == ["installer.exe"]
        assert (other / "installer.exe").read_bytes() == b"the other program's\n"
        # The run's own folder, only the administrators', went with it.
        assert folders_in(system_temp) == before
    finally:
        shutil.rmtree(temp)


def ending(run):
    """The run's exit code once its window has gone, or the texts of the
    error page its window stops at."""
    while True:
        shown = run.drive("state", check=False)
        if shown.returncode != 0:
            return run.exit_code()
        controls = json.loads(shown.stdout)["controls"]
        visible = {c["id"]: c["text"] for c in controls if c["visible"] and c["id"] in MAIN_CONTROLS}
        if FAILED_HEADING in visible:
            return visible


def test_elevated_window_run_with_the_package_ready_installs_nothing_of_the_users(
        build_dir, user, machine, shipped, package, server, start, tmp_path):
    # The package is ready before Accept, and without the preference
    # defaults to fetch, Accept hands it over at once.
    before = log_names(user)
    stop = tmp_path / "stop"
    watcher = subprocess.Popen([sys.executable, "-c", WATCHER, str(user.temp / "Tarvo Installer"),
                                PLANTED_TEXT, str(stop)], stdout=subprocess.PIPE, text=True)
    try:
        run = start(windows_path(shipped["full"]), "--allusers=1",
                    "--with-feature:installer-pref-default-overrides-support=off")
        run.wait_for_page("WELCOME")
        wait_until(lambda: "Package fetched successfully." in logs_since(user, before),
                   "the package never got ready")
        run.drive("click", ACCEPT)
        ended = ending(run)
    finally:
        stop.touch()
        replaced, _ = watcher.communicate(timeout=HANG_GUARD)

    assert ended == 0, run.stderr()
    assert replaced.split() == []
    tree = installed(user.folder)
    assert {p: d for p, d in tree.items() if p not in RUN_DATA} == \
        {p: d for p, d in package_tree(package, VERSION).items() if p not in RUN_DATA}
    logged = logs_since(user, before)
    assert f"Installer download folder: {SYSTEM_TEMP}\\" in logged


def test_per_user_run_raised_by_uac_never_starts_the_installed_launcher(
        build_dir, user, machine, shipped, package, server, tmp_path):
    # With the user account control on, every process of this prefix has a
    # token raised by it, as one started "as administrator" has.
    folder = tmp_path / "per user"
    before = log_names(user)
    uac = set_user_account_control(build_dir, 1)
    try:
        code, stderr = run_tree(build_dir, windows_path(shipped["full"]), "--silent",
                                "--allusers=0", f"--installfolder={windows_path(folder)}",
                                "--desktopshortcut=0", "--startmenushortcut=0",
                                "--quicklaunchshortcut=0", "--pintotaskbar=0")
    finally:
        set_user_account_control(build_dir, uac)

    assert code == 0, stderr
    assert installed(folder) == package_tree(package, VERSION)
    assert not (folder / LAUNCH_RECORD).exists()
    logged = logs_since(user, before)
    assert "Not starting Tarvo: this process may run elevated" in logged
    # Nor did it install from the user's temporary folder.
    assert f"Installer download folder: {SYSTEM_TEMP}\\" in logged
    run_tree(build_dir, windows_path(folder / VERSION / "installer.exe"), "--uninstall",
             "--silent")
