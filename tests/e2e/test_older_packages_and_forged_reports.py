"""What a run believes, from the shipped installer files and the tests'
update server: a package older than the installation in the folder is never
installed over it, by any road (a full installer's own package, also where
the elevated backend of an installation for every user unpacks it itself,
or the one an online installer downloads; silent or in the window), and a
package older than the online installer
is told as such, not as a network failure. A success report that another
process writes into the front end's mailslot before the package was handed
over is dropped: the run's exit code, its log and its statistics report say
what the backend did. A partner file of a run that fails leaves nothing
behind, also under a name that makes its path longer than MAX_PATH."""

import os
import subprocess
import time

import pytest

import installer_files as files
import test_installation as installation
import test_rollback as rollback
from conftest import Logs, windows_path
from test_installer_window import ACCEPT, FULL_PACKAGE, PHASE
from test_interactive_installation import Installer
from test_silent_installation import (HANG_GUARD, PARTNER, SWITCHES, TREE_RUNNER,  # noqa: F401
                                      VERSIONS, downloads, exit_code_of, machine, packages,
                                      partner_item, pki, server)

IPC_TOOL = "desktop/windows/installer/installer_ipc_tool.exe"
NEWER_INSTALLED = 37088
NEWER_INSTALLED_TEXT = ("A newer version of Tarvo (45.0.2548.1) is already installed in this "
                        "folder, so this older one was not installed. Nothing was changed.")
OLDER_THAN_INSTALLER = 37089
OLDER_THAN_INSTALLER_TEXT = ("The downloaded Tarvo package is older than this installer, so it "
                             "was not installed. Please download the latest Tarvo installer.")


def failure_line(code, text):
    return f'The run failed with error {code}: "{text}"'


# Each road an older package can take into a folder with a newer
# installation: the installer file, the scope and the front end. For every
# user, a silent full installer leaves its package packed for the elevated
# backend, which alone learns its version; an online installer's front end
# learns it from the download, and a window always unpacks the package.
ROADS = {
    "full-peruser-silent": ("full", "--allusers=0", "silent"),
    "full-allusers-silent": ("full", "--allusers=1", "silent"),
    "online-peruser-silent": ("online", "--allusers=0", "silent"),
    "online-allusers-silent": ("online", "--allusers=1", "silent"),
    "full-allusers-window": ("full", "--allusers=1", "window"),
}


@pytest.fixture
def machine_uninstall_entries(build_dir):
    """The uninstall entries of the runs for every user, which the machine's
    own clean-up, of the user's rows, leaves. The list is there once an
    installation for every user made it."""
    rollback.remove_uninstall_entries(build_dir, rollback.ALL_USERS_UNINSTALL_KEY)
    yield lambda tmp_path: rollback.exported(build_dir, tmp_path,
                                             rollback.ALL_USERS_UNINSTALL_KEY)
    rollback.remove_uninstall_entries(build_dir, rollback.ALL_USERS_UNINSTALL_KEY)


def run_in_window(build_dir, machine, installer, *extra):
    """Accept on the first page, then leave the error page; the exit code and
    the error page's text."""
    window = Installer(build_dir, machine, machine.tmp_path, installer, *extra)
    try:
        window.find_window()
        window.wait_for_page("WELCOME")
        window.drive("click", ACCEPT)
        state = window.wait_for_page("ERROR", without={FULL_PACKAGE})
        shown = window.text(state, PHASE)
        window.cancel()
        return window.exit_code(), shown
    finally:
        window.stop()


@pytest.mark.parametrize("road", list(ROADS))
def test_older_package_over_a_newer_installation_changes_nothing(
        build_dir, pki, packages, downloads, machine, server, logs, machine_uninstall_entries,
        road):
    kind, scope, front_end = ROADS[road]
    newer = files.full_installer(build_dir, machine.tmp_path / "newer", pki,
                                 packages["next"][1], library="next")
    assert machine.run(newer, scope) == 0
    # The user's rows as the newer version names them.
    machine.use_version(VERSIONS["next"])
    all_users = scope == "--allusers=1"
    registry = lambda: (machine.registry(),  # noqa: E731
                        all_users and machine_uninstall_entries(machine.tmp_path))
    tree_before, registry_before = installation.tree(machine.folder), registry()
    assert f"tarvo {VERSIONS['next']}" in str(registry_before[all_users]).lower()
    if kind == "online":
        server.offer(downloads["current"])
        older = files.online_installer(build_dir, machine.tmp_path / "older", pki,
                                       autoupdate_url=server.autoupdate_url)
        older_version = "2548.0"
    else:
        older = files.full_installer(build_dir, machine.tmp_path / "older", pki,
                                     packages["older"][1], library="older",
                                     autoupdate_url=server.autoupdate_url)
        older_version = "2547.0"
    marker = Logs.marker()

    if front_end == "window":
        code, shown = run_in_window(build_dir, machine, older, scope, marker)
        assert shown == NEWER_INSTALLED_TEXT
    else:
        code = machine.run(older, scope, marker)

    assert code == 1
    assert installation.tree(machine.folder) == tree_before
    assert registry() == registry_before
    log = logs.one(marker)[1]
    assert failure_line(NEWER_INSTALLED, NEWER_INSTALLED_TEXT) in log, log[-3000:]
    (report,) = server.reports()
    assert report["installation_success"] == 0
    assert report["failure_reason"] == \
        f"The package ({older_version}) is older than the installed version 45.0.2548.1"


def test_package_older_than_the_installer_is_told_as_such(build_dir, pki, downloads, machine,
                                                          server, logs):
    server.offer(downloads["older"])
    installer = files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                       autoupdate_url=server.autoupdate_url)
    marker = Logs.marker()

    assert machine.run(installer, marker) == 1

    log = logs.one(marker)[1]
    assert failure_line(OLDER_THAN_INSTALLER, OLDER_THAN_INSTALLER_TEXT) in log, log[-3000:]
    assert not machine.folder.exists()


def tool(build_dir, *args, stdin=b""):
    result = subprocess.run([str(build_dir / "wine-run"), str(build_dir / IPC_TOOL), *args],
                            input=stdin, capture_output=True, timeout=HANG_GUARD)
    return result.stdout.decode(errors="replace").split()


def logged(folder, marker, text):
    """Whether a log of the run marked `marker` holds `text` yet; the run's
    other files come and go in the same folder."""
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        try:
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as log:
                content = log.read()
        except OSError:
            continue
        if marker in content and text in content:
            return True
    return False


def wait_until(condition, run, deadline):
    """Polls `condition` while the run goes on; the deadline only guards
    against a run that hangs."""
    while not condition():
        assert run.poll() is None, "the run ended first"
        assert time.monotonic() < deadline, "the run hangs"


# The package is refused at its version check, three times over: the run
# fails. Paused before the first check, the backend waits for the package
# while a foreign writer reports success on the run's channel.
def test_success_report_before_the_hand_over_is_dropped(build_dir, pki, downloads, machine,
                                                        server, log_folder, tmp_path):
    server.offer(downloads["older"])
    installer = files.online_installer(build_dir, tmp_path / "online", pki, hooks=True,
                                       autoupdate_url=server.autoupdate_url)
    paused = tmp_path / "paused"
    marker = Logs.marker()
    run = subprocess.Popen(
        [str(build_dir / "wine-run"), str(build_dir / TREE_RUNNER), windows_path(installer),
         *SWITCHES, f"--installfolder={windows_path(machine.folder)}",
         f"--temp-folder={windows_path(machine.temp)}", marker],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
        env={**os.environ, "TARVO_TEST_FAULT":
             f"at=version-check;action=pause;marker={windows_path(paused)}"})
    deadline = time.monotonic() + HANG_GUARD
    folder = windows_path(machine.folder)
    mailslot = "\\\\.\\mailslot\\tarvo_installer\\" + folder.upper()
    logs = Logs(log_folder)
    try:
        wait_until(paused.exists, run, deadline)
        wait_until(lambda: tool(build_dir, "open", mailslot) == ["opened"], run, deadline)
        assert tool(build_dir, "send", folder, stdin=b"success\n") == ["ok", "closed"]
        wait_until(lambda: logged(log_folder, marker, "Dropping a success report"), run,
                   deadline)
        paused.unlink()
        output, _ = run.communicate(timeout=HANG_GUARD)
    finally:
        if run.poll() is None:
            run.kill()
    _, log = logs.one(marker)
    for path in logs.found:
        os.remove(path)

    assert exit_code_of(output) == 1
    assert "The run succeeded" not in log
    assert failure_line(OLDER_THAN_INSTALLER, OLDER_THAN_INSTALLER_TEXT) in log, log[-3000:]
    (report,) = server.reports()
    assert report["installation_success"] == 0
    assert not machine.folder.exists()


def test_long_partner_name_of_a_failed_run_leaves_nothing(build_dir, pki, machine, server,
                                                          tmp_path, logs):
    package = files.make_package(build_dir, tmp_path / "package", hooks=True, pki=pki)
    archive = files.pack(package, tmp_path / "package.7z", level=1)
    download = files.full_installer(build_dir, tmp_path / "download", pki, archive,
                                    hooks=True).read_bytes()
    name = "p" * 251 + ".txt"
    server.offer(download, components=[partner_item(server, "/files/long", name, PARTNER)])
    installer = files.online_installer(build_dir, tmp_path / "online", pki, hooks=True,
                                       autoupdate_url=server.autoupdate_url)
    marker = Logs.marker()
    assert len(windows_path(machine.folder / "45.0.2548.0" / name)) > 260

    assert machine.run(installer, marker,
                       env={"TARVO_TEST_FAULT": "step=copy the package files;action=fail"}) == 1

    assert not machine.folder.exists()
    for root, _, names in os.walk(tmp_path):
        assert name not in names, root
    assert "Failed moving" not in logs.one(marker)[1]
