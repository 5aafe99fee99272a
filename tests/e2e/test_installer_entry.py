"""installer.exe as other programs and its own installer processes see it:
what each role prints, runs and logs, and the exit code it ends with. The
folder-permission role is driven by entry_peer_tool.exe, which plays the
installer that asks for the permission; the access list is read back on
both sides (the tool's SDDL and, through Wine's mapping of file access to
Unix modes, Python's os.stat)."""

import datetime
import os
import re
import shutil
import stat
import subprocess

import pytest

from conftest import INSTALLER, LIBRARY, Logs, run_installer, wine, windows_path
from http_test_server import HttpTestServer
from installer_files import BuildKeys
from test_signature import Pki

PEER = "desktop/windows/installer/entry_peer_tool.exe"
PLANTED = "desktop/windows/installer/planted_library.dll"
LOG_NAME = re.compile(r"^tarvo_installer_(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})_(\d+)\.log$")
# Without a display the interactive front end has no window and ends.
NO_WINDOW = "Could not initialize installer window"


@pytest.fixture(autouse=True)
def no_display(monkeypatch):
    monkeypatch.delenv("DISPLAY", raising=False)
# Wine gives the prefix's user full access to every folder already; a grant
# to Everyone is one whose coming and going shows. Wine keeps a folder's
# access as its Unix mode and reports the grant as what the mode holds. The
# installer names the trustee by SID (Everyone's, here).
TRUSTEE = "S-1-1-0"
FULL_ACCESS_FOR_EVERYONE = "(A;OICI;0x1301ff;;;WD)"


def k_bat(folder):
    """An uninstall batch as the uninstallation writes it, left to delete one
    file; returns that file, which is gone once the batch ran."""
    leftover = folder / "leftover 100%.dll"
    leftover.write_bytes(b"in use")
    name = windows_path(leftover).replace("%", "%%")
    (folder / "k.bat").write_bytes(f'ping -n 2 127.0.0.1\ndel "{name}"\ndel %0'.encode("ascii"))
    return leftover


def foreign_k_bat(folder):
    """A batch file that the uninstallation could not have written."""
    (folder / "k.bat").write_bytes(b'@echo ran>"%~dp0marker.txt"\r\n')
    return folder / "marker.txt"


@pytest.mark.parametrize("args, printed", [
    (["--version"], "version"),
    (["--internal-version"], "internal"),
    (["--stream"], "stream"),
    (["--stream", "--internal-version", "--version"], "version"),
    (["--stream", "--internal-version"], "internal"),
])
def test_print_roles_print_one_value_without_line_end(build_dir, logs, args, printed):
    marker = Logs.marker()
    result = run_installer(build_dir, build_dir / INSTALLER, *args, marker)
    assert result.returncode == 0
    output = result.stdout.decode()
    version = run_installer(build_dir, build_dir / INSTALLER, "--version").stdout.decode()
    assert re.fullmatch(r"\d+\.\d+\.\d+\.\d+", version)
    expected = {"version": version,
                "internal": ".".join(version.split(".")[2:]),
                "stream": "developer"}[printed]
    assert output == expected
    # Nothing else is set up for these roles, not even the log.
    assert logs.of(marker) == {}


@pytest.mark.parametrize("help_switch", ["--help", "-?"])
def test_help_wins_over_folder_permission(build_dir, installer_folder, logs, help_switch):
    leftover = k_bat(installer_folder)
    marker = Logs.marker()
    result = run_installer(build_dir, installer_folder / "installer.exe", help_switch,
                           f"--set-folder-permission={windows_path(installer_folder)}",
                           "--permissions-for-user=" + TRUSTEE, "--run-uninstall-bat", marker)
    assert result.returncode == 0
    assert leftover.exists()
    assert logs.of(marker) == {}


def test_uninstall_batch_runs_only_in_the_folder_permission_role(build_dir, installer_folder,
                                                                 logs):
    leftover = k_bat(installer_folder)
    installer = installer_folder / "installer.exe"

    marker = Logs.marker()
    alone = run_installer(build_dir, installer, "--run-uninstall-bat", marker)
    assert leftover.exists()
    # It went on as an ordinary front end.
    assert alone.returncode == 1
    assert NO_WINDOW in logs.one(marker)[1]

    # Without a user to grant to, the permission role itself does nothing.
    marker = Logs.marker()
    with_role = run_installer(build_dir, installer, "--run-uninstall-bat", marker,
                              f"--set-folder-permission={windows_path(installer_folder / 'x')}")
    assert with_role.returncode == 0
    assert not leftover.exists()
    assert not (installer_folder / "k.bat").exists()
    assert not (installer_folder / "x").exists()
    assert logs.of(marker) == {}

    # The role runs elevated: a batch file the uninstallation did not write
    # is not run.
    marker_file = foreign_k_bat(installer_folder)
    with_role = run_installer(build_dir, installer, "--run-uninstall-bat", Logs.marker(),
                              f"--set-folder-permission={windows_path(installer_folder / 'x')}")
    assert with_role.returncode == 0
    assert not marker_file.exists()


def test_log_name_has_four_digit_year_and_process_id(build_dir, logs):
    marker = Logs.marker()
    # The name's time is UTC, whatever the machine's time zone.
    before = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    result = wine(build_dir, build_dir / PEER, "run", windows_path(build_dir / INSTALLER), marker)
    after = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    lines = result.stdout.decode().split()
    assert lines[0] == "pid" and lines[2:] == ["exit", "1"]
    name, text = logs.one(marker)
    match = LOG_NAME.match(name)
    assert match, name
    started = datetime.datetime(*map(int, match.groups()[:6]))
    # Whole seconds: the name may round the start down.
    assert before.replace(microsecond=0) <= started <= after
    assert match.group(7) == lines[1]
    assert "Tarvo installer starting - version " in text


def test_processes_started_together_keep_their_own_logs(build_dir, logs, tmp_path):
    markers = [Logs.marker() for _ in range(4)]
    # Each its own download folder: the logs are what they share.
    processes = [subprocess.Popen([str(build_dir / "wine-run"), str(build_dir / INSTALLER),
                                   marker, "--enable-installer-stats=0",
                                   f"--temp-folder={windows_path(tmp_path / str(number))}"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                 for number, marker in enumerate(markers)]
    assert [p.wait(timeout=600) for p in processes] == [1] * len(markers)
    names = set()
    for marker in markers:
        name, text = logs.one(marker)
        names.add(name)
        assert text.count("installer starting") == 1
        # One holds the download folder's window lock; the others give way.
        assert NO_WINDOW in text or "Another instance of the installer UI is running" in text
    assert len(names) == len(markers)


@pytest.fixture
def package_server():
    """Switches that point a silent run at an update server with no package
    and keep its statistics report home: it ends at once, without waiting
    for a network that is not there."""
    with HttpTestServer() as server:
        yield [f"--internal-package-server={server.url('/netinstaller')}",
               "--enable-installer-stats=0"]


@pytest.mark.parametrize("args, exit_code, logged", [
    (["--version"], 0, None),
    (["--help"], 0, None),
    ([], 1, NO_WINDOW),
    # Without a payload the package is asked of an update server, here one
    # that has none.
    (["--silent"], 1, "Failed fetching the download URL"),
    # A backend started without a front end has nobody to report to.
    (["--backend"], 1, "Missing information about initial process"),
    (["--register-tarvo-as-protocol-handler"], 1,
     "Failed to open a handle to the installation interrupted event"),
    (["--uninstall"], 1,
     "Requested to uninstall, but we are not in a valid installation folder"),
], ids=["version", "help", "front-end", "silent", "backend", "protocol-handler", "uninstall"])
def test_exit_code_is_zero_only_for_success(build_dir, logs, tmp_path, package_server, args,
                                            exit_code, logged):
    marker = Logs.marker()
    if "--silent" in args:
        args = [*args, *package_server, f"--installfolder={windows_path(tmp_path / 'Tarvo')}"]
    result = run_installer(build_dir, build_dir / INSTALLER, *args, marker)
    assert result.returncode == exit_code
    if logged:
        text = logs.one(marker)[1]
        assert re.search(r"^\[[^]]*:ERROR:[^]]*\] " + re.escape(logged), text, re.MULTILINE)


def test_host_without_library_says_so(build_dir, installer_folder):
    (installer_folder / "tarvo_installer.dll").unlink()
    # --silent keeps the message box away: a run without a display waits
    # for no one.
    result = run_installer(build_dir, installer_folder / "installer.exe", "--silent")
    assert result.returncode == 2
    assert re.search(r"^The installer cannot start: the file .*\\tarvo_installer\.dll is missing\.",
                     result.stderr.decode(errors="replace"), re.MULTILINE), result.stderr


@pytest.mark.parametrize("last_token, recovered", [
    ("C:\\Program Files\\Tarvo T12", "C:\\Program Files\\Tarvo T12"),
    ("Tarvo T12", ""),
])
def test_t12_autoupdate_recovers_install_folder_from_last_token(build_dir, logs, package_server,
                                                                last_token, recovered):
    marker = Logs.marker()
    result = run_installer(build_dir, build_dir / INSTALLER, marker, "--installfolder=",
                           "--autoupdate", "--silent", *package_server, last_token)
    assert result.returncode == 1
    text = logs.one(marker)[1]
    assert "It looks like we are autoupdating from T12." in text
    assert re.search(r"Recovered install folder from command line: (.*)$", text,
                     re.MULTILINE).group(1) == recovered
    configured = bool(recovered)
    assert ("Configuring for T12 autoupdate." in text) == configured
    assert f"Silent: {str(not configured).lower()}" in text
    assert f"Run Immediately {str(configured).lower()}" in text


def dacl(build_dir, folder):
    result = wine(build_dir, build_dir / PEER, "dacl", windows_path(folder))
    assert result.returncode == 0
    return result.stdout.decode().strip().removeprefix("dacl ")


def others_may_write(folder):
    return bool(os.stat(folder).st_mode & stat.S_IWOTH)


def read_line(process):
    return process.stdout.readline().decode().strip()


def test_permission_helper_grants_until_undo_is_signalled(build_dir, tmp_path):
    folder = tmp_path / "install"
    folder.mkdir(mode=0o755)
    original = dacl(build_dir, folder)
    assert FULL_ACCESS_FOR_EVERYONE not in original and not others_may_write(folder)
    requester = subprocess.Popen(
        [str(build_dir / "wine-run"), str(build_dir / PEER), "request", windows_path(folder),
         TRUSTEE, windows_path(build_dir / INSTALLER)],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert read_line(requester) == "sid S-1-1-0"
        assert read_line(requester) == "granted"
        assert FULL_ACCESS_FOR_EVERYONE in dacl(build_dir, folder)
        assert others_may_write(folder)
        requester.stdin.write(b"\n")
        requester.stdin.flush()
        assert read_line(requester) == "helper exited 0"
    finally:
        requester.stdin.close()
        requester.wait(timeout=600)
    assert dacl(build_dir, folder) == original
    assert not others_may_write(folder)


def test_permission_helper_undoes_when_requester_ends(build_dir, tmp_path):
    folder = tmp_path / "install"
    folder.mkdir(mode=0o755)
    original = dacl(build_dir, folder)
    # The helper would wait for the undo event for ever; the timeout only
    # stops a hang.
    result = wine(build_dir, build_dir / PEER, "request-then-end", windows_path(folder), TRUSTEE,
                  windows_path(build_dir / INSTALLER), timeout=600)
    assert result.stdout.decode().splitlines()[1:3] == ["granted", "helper exited 0"]
    assert dacl(build_dir, folder) == original
    assert not others_may_write(folder)


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("entry_pki"))


@pytest.mark.parametrize("signer", [None, "other", "good"])
def test_package_installer_runs_only_with_the_product_signature(build_dir, tmp_path, pki,
                                                               signer):
    package = tmp_path / "package"
    package.mkdir()
    if signer:
        pki.sign(signer, build_dir / INSTALLER, package / "installer.exe")
        pki.sign(signer, build_dir / LIBRARY, package / "tarvo_installer.dll")
    else:
        shutil.copy(build_dir / INSTALLER, package)
        shutil.copy(build_dir / LIBRARY, package)
    folder = tmp_path / "install"
    folder.mkdir(mode=0o755)
    original = dacl(build_dir, folder)
    result = wine(build_dir, build_dir / PEER, "package", windows_path(folder), TRUSTEE,
                  windows_path(build_dir / INSTALLER), windows_path(package),
                  "--permanent-permissions")
    runs = signer == "good"
    assert result.stdout.decode().splitlines()[:2] == [
        "granted" if runs else "not granted", "helper exited 0"]
    assert (FULL_ACCESS_FOR_EVERYONE in dacl(build_dir, folder)) == runs
    if not runs:
        assert dacl(build_dir, folder) == original


def test_package_installer_with_a_swapped_library_is_never_run(build_dir, tmp_path):
    # The role as the shipped, signed installer plays it; the package's
    # installer.exe is the product's, its library was swapped.
    keys = BuildKeys(build_dir)
    package = tmp_path / "package"
    package.mkdir()
    keys.sign("good", build_dir / INSTALLER, package / "installer.exe")
    shutil.copy(build_dir / PLANTED, package / "tarvo_installer.dll")
    folder = tmp_path / "install"
    folder.mkdir(mode=0o755)
    original = dacl(build_dir, folder)
    helper = build_dir / "installer_files/full/installer.exe"
    result = wine(build_dir, build_dir / PEER, "package", windows_path(folder), TRUSTEE,
                  windows_path(helper), windows_path(package), "--permanent-permissions")
    assert result.stdout.decode().splitlines()[:2] == ["not granted", "helper exited 0"]
    assert not (package / "planted_library_ran").exists()
    assert dacl(build_dir, folder) == original
