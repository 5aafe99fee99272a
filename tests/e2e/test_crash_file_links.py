"""Crash reporting in an all-users run (which stands for an elevated one
under Wine) against what another process of the session prepared: links
planted under every name the reporter gives its crash log, dump and zip,
and under its own log's, in the user's temporary folder and in the crash folder the environment
names, must neither be written through nor make a file outside, while the
crash is still written under another name; and the reporter's pipe and
init event, made first (the event signalled) for every process id, must
not hold the run, which installs without crash reporting."""

import os
import shutil
import subprocess
import uuid

import pytest

import installer_files as files
from conftest import windows_path, wine
from test_silent_installation import (HANG_GUARD, SWITCHES, TREE_RUNNER, exit_code_of,  # noqa: F401
                                      machine)
from test_user_starts import linux_path
from wine_process import WineProcess

# Wine gives out process ids as multiples of 4 and soon again; a run of this
# group stays far below this.
HIGHEST_PID = 4096
ACCESS_VIOLATION = 0xC0000005
SHIPPED_INSTALLER = "installer_files/full/installer.exe"
TEST_SERVER = "desktop/windows/crash_test_server.exe"
ALL_USERS = [switch for switch in SWITCHES if not switch.startswith("--allusers")] + \
    ["--allusers=1"]
VICTIM_TEXT = b"not the reporter's\n"
# What each crash leaves, kept: the file the crash log or dump is written
# to, and its first bytes.
CRASHES = {
    "crash-log": ([], ".txt", b"TARVO-CRASHLOG V1 "),
    "minidump": (["--with-feature:alternative-crash-logging=on"], ".dmp", b"MDMP"),
}


def own_temp_folder(build_dir):
    """(Windows path, Linux path) of a temporary folder of the test's own
    inside the prefix's: the shell hands it to the installer as the user's."""
    temp_root = wine(build_dir, "cmd", "/c", "echo %TEMP%").stdout.decode().strip()
    temp_windows = f"{temp_root}\\crash-{uuid.uuid4().hex[:8]}"
    temp = linux_path(build_dir, temp_root) / temp_windows.rsplit("\\", 1)[1]
    temp.mkdir()
    return temp_windows, temp


def plant_links(folder, victim, outside):
    """Links under every crash file name of every reporter process (the
    zip also under the name of a log that gave way): the logs' at a file
    that exists, the others' at names outside."""
    planted = set()
    for pid in range(4, HIGHEST_PID + 1, 4):
        for ending in (".txt", ".dmp", ".zip", "_2.zip"):
            extension = ending[-4:]
            name = f"tarvo-crashlog-{pid}-1{ending}"
            (folder / name).symlink_to(victim if extension == ".txt" else outside / name)
            planted.add(name)
    return planted


def run_in_temp(build_dir, tmp_path, temp_windows, installer, switches, env=None):
    """installer.exe started by the shell with the temporary folder given;
    its exit code once every process it started has ended."""
    batch = tmp_path / "start.bat"
    batch.write_bytes(f'@set "TMP={temp_windows}"\r\n@set "TEMP={temp_windows}"\r\n'
                      f'@start "" /wait "{windows_path(installer)}" {" ".join(switches)}\r\n'
                      f'@exit /b %ERRORLEVEL%\r\n'.encode())
    result = subprocess.run([str(build_dir / "wine-run"), str(build_dir / TREE_RUNNER),
                             windows_path(batch)],
                            capture_output=True, timeout=HANG_GUARD,
                            env={**os.environ, **(env or {})})
    return exit_code_of(result.stdout) & 0xFFFFFFFF


@pytest.mark.parametrize("crash", list(CRASHES))
def test_planted_crash_file_links_are_not_written_through(build_dir, machine, tmp_path, crash):
    switches, extension, head = CRASHES[crash]
    installer_folder = tmp_path / "installer"
    installer_folder.mkdir()
    shutil.copy(files.host_file(build_dir, hooks=True), installer_folder)
    shutil.copy(files.library_file(build_dir, "current", hooks=True), installer_folder)
    outside = tmp_path / "outside"
    outside.mkdir()
    victim = outside / "victim.txt"
    victim.write_bytes(VICTIM_TEXT)
    temp_windows, temp = own_temp_folder(build_dir)
    # The crash folder the environment names: the user's to choose, so an
    # elevated reporter does not take it.
    chosen = tmp_path / "chosen"
    chosen.mkdir()
    planted = plant_links(temp, victim, outside)
    plant_links(chosen, victim, outside)
    # The reporter's own log, whose old file it deletes before it makes a
    # new one: a link in its place goes as a link or stays, never reaching
    # what it leads to.
    reporter_log = temp / "tarvo_crashreporter.log"
    reporter_log.symlink_to(victim)
    env = {"TARVO_TEST_FAULT": "at=silent-front-end;action=crash",
           "TARVO_CRASH_LOG_DIR": windows_path(chosen), "TARVO_CRASH_KEEP_LOGS": "1"}
    try:
        code = run_in_temp(build_dir, tmp_path, temp_windows, installer_folder / "installer.exe",
                           [*ALL_USERS, f'"--installfolder={windows_path(machine.folder)}"',
                            f'"--temp-folder={windows_path(machine.temp)}"', *switches],
                           env)

        assert code == ACCESS_VIOLATION
        # Nothing was made or written through a link, here or in the chosen
        # folder, which got nothing else.
        assert sorted(os.listdir(outside)) == ["victim.txt"]
        assert victim.read_bytes() == VICTIM_TEXT
        assert reporter_log.is_symlink()
        assert all((temp / name).is_symlink() and (chosen / name).is_symlink()
                   for name in planted)
        assert set(os.listdir(chosen)) == planted
        # The crash was still written, beside the link that took its name.
        made = [name for name in os.listdir(temp)
                if name not in planted and name.endswith(extension)]
        assert len(made) == 1, made
        [name] = made
        assert name.endswith(f"-1_2{extension}")
        assert not (temp / name).is_symlink()
        assert (temp / name).read_bytes().startswith(head)
    finally:
        shutil.rmtree(temp)


def test_reporter_names_made_first_leave_the_run_without_crash_reporting(
        build_dir, machine, tmp_path):
    squatter = WineProcess(build_dir, TEST_SERVER, tmp_path / "squatter.log",
                           f"--squat={HIGHEST_PID}")
    temp_windows, temp = own_temp_folder(build_dir)
    try:
        assert squatter.read_line() == "squatting"

        # Before: the signalled event said a reporter served, the installer
        # registered over the squatter's pipe and waited for an answer for
        # ever.
        code = run_in_temp(build_dir, tmp_path, temp_windows, build_dir / SHIPPED_INSTALLER,
                           [*ALL_USERS, "--enable-installer-stats=0",
                            f'"--installfolder={windows_path(machine.folder)}"',
                            f'"--temp-folder={windows_path(machine.temp)}"'])

        assert code == 0
        assert (machine.folder / "launcher.exe").is_file()
    finally:
        squatter.stop()
        shutil.rmtree(temp)
