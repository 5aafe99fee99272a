"""A signed online installer's check of the package it downloaded: once the
package is unpacked into the download folder, a folder its user may write,
its installer.exe is run for its version and stream. Replaced there after
unpacking and before that run (the testing library pauses the front end at
that point; the check is the one that ships), the package's installer or
its library never runs: the attempt fails as a refused package does and the
next one downloads and unpacks the package again. Replaced in every
attempt, the run fails and says that the package's files were changed.

The stand-ins mark each start beside themselves, into a record planted
there as a hard link to a file outside the package folder: the next
attempt removes that folder, the record stays."""

import os
import shutil
import subprocess

import pytest

import installer_files as files
from conftest import Logs, windows_path
from test_silent_installation import (HANG_GUARD, SWITCHES, TREE_RUNNER, VERSIONS,  # noqa: F401
                                      downloads, exit_code_of, installed_tree, machine,
                                      package_tree, packages, pki, server)

# The replaced file, its stand-in and the record it leaves beside itself (a
# line per start; the planted library makes its record anew, empty).
STAND_INS = {
    "installer": ("installer.exe", "desktop/windows/installer/launcher_recorder.exe",
                  "launcher_started.txt"),
    "library": ("tarvo_installer.dll", "desktop/windows/installer/planted_library.dll",
                "planted_library_ran"),
}
UNTOUCHED = b"never started"
CHANGED = ("Downloaded package failed version check: its installer or library was changed "
           "after the package was checked")
# What the user is told when every attempt found changed files.
CHANGED_STRING = 37085
CHANGED_TEXT = ("The files of the Tarvo package were changed after they were checked, so they "
                "were not run. Please download Tarvo again.")
ATTEMPTS = 3


def start_paused(build_dir, machine, installer, marker, run_marker, times=1):
    """The silent online installer, started: it pauses before the version
    check of each of its first `times` attempts, making `marker`, until
    `marker` is deleted."""
    environment = {**os.environ, "TARVO_TEST_FAULT":
                   f"at=version-check;action=pause;marker={windows_path(marker)};times={times}"}
    return subprocess.Popen(
        [*machine.command(installer), run_marker],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=environment)


def replace_in_package(build_dir, machine, replaced, record):
    """Puts the stand-in in the paused attempt's package folder, its record
    linked to `record` outside; the package folder."""
    (package,) = [p for p in machine.download_folder.iterdir() if p.is_dir()]
    name, stand_in, record_name = STAND_INS[replaced]
    shutil.copy(build_dir / stand_in, package / name)
    record.write_bytes(UNTOUCHED)
    os.link(record, package / record_name)
    return package, record


def run_replacing(build_dir, pki, downloads, machine, server, log_folder, tmp_path, in_turn):
    """The silent online installer with the test hooks, each of its first
    attempts paused before its version check while the next file of
    `in_turn` is replaced in its package: the run's exit code, its log and
    the packages, once no stand-in was found to have started."""
    server.offer(downloads["current"])
    installer = files.online_installer(build_dir, tmp_path / "online", pki, hooks=True,
                                       autoupdate_url=server.autoupdate_url)
    logs = Logs(log_folder)
    run_marker = Logs.marker()
    paused = tmp_path / "paused"
    run = start_paused(build_dir, machine, installer, paused, run_marker, times=len(in_turn))
    replaced = []
    for attempt, what in enumerate(in_turn):
        while not paused.exists():
            assert run.poll() is None, f"ended before attempt {attempt + 1} paused"
        replaced.append(replace_in_package(build_dir, machine, what,
                                           tmp_path / f"record_{attempt}"))
        paused.unlink()
    output, _ = run.communicate(timeout=HANG_GUARD)
    _, log = logs.one(run_marker)
    for path in logs.found:
        os.remove(path)
    assert all(record.read_bytes() == UNTOUCHED for _, record in replaced)
    return exit_code_of(output), log, [package for package, _ in replaced]


@pytest.mark.parametrize("replaced", list(STAND_INS))
def test_package_files_replaced_before_the_version_check_are_never_run(
        build_dir, pki, packages, downloads, machine, server, log_folder, tmp_path, replaced):
    code, log, (package,) = run_replacing(build_dir, pki, downloads, machine, server,
                                          log_folder, tmp_path, [replaced])

    name = STAND_INS[replaced][0]
    assert f"Refusing {windows_path(package)}\\{name}: it is not signed" in log
    # Refused as a package of another version is; the next attempt brings
    # the package's own files again.
    refused, ready = server.reports()[0]["fetches"]
    assert refused["result"] == "download_failed"
    assert refused["failure_reason"] == CHANGED
    assert "internal_version" not in refused
    assert ready["result"] == "package_ready"
    assert code == 0
    assert installed_tree(machine.folder) == package_tree(packages["current"][0],
                                                          VERSIONS["current"], online=True)


def test_package_files_replaced_in_every_attempt_fail_the_run_as_changed(
        build_dir, pki, downloads, machine, server, log_folder, tmp_path):
    # The installer and the library in turn.
    in_turn = [list(STAND_INS)[attempt % len(STAND_INS)] for attempt in range(ATTEMPTS)]
    code, log, _ = run_replacing(build_dir, pki, downloads, machine, server, log_folder,
                                 tmp_path, in_turn)

    # Not the download failure's "check your Internet connection".
    assert f'The run failed with error {CHANGED_STRING}: "{CHANGED_TEXT}"' in log, log[-3000:]
    assert code == 1
    assert not machine.folder.exists()
    (report,) = server.reports()
    assert [(fetch["result"], fetch["failure_reason"]) for fetch in report["fetches"]] == \
        [("download_failed", CHANGED)] * ATTEMPTS
    assert report["failure_reason"] == "Fetcher error"
