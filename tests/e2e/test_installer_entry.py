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
import time
import uuid
from pathlib import Path

import pytest

from conftest import INSTALLER, LIBRARY, Logs, run_installer, wait_until, wine, windows_path
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
# Wine keeps a folder's access as its Unix mode and reports an access list
# as what the mode holds: the prefix's user's grant shows on a folder whose
# mode keeps its owner from writing. The installer names the trustee by SID.
READ_ONLY = 0o555
FULL_ACCESS_FOR_EVERYONE = "(A;OICI;0x1301ff;;;WD)"
GROUPS = ["S-1-1-0", "S-1-5-32-545", "S-1-5-11"]


@pytest.fixture(scope="module")
def user_sid(build_dir):
    result = wine(build_dir, build_dir / PEER, "user-sid")
    assert result.returncode == 0
    return result.stdout.decode().strip()


def full_access_for(sid):
    return f"(A;OICI;FA;;;{sid})"


def k_bat(folder):
    """A record of leftovers as the uninstallation writes it, naming one
    file; returns that file, which the installer's copy deletes once the
    role that started it has ended."""
    leftover = folder / "leftover 100%.dll"
    leftover.write_bytes(b"in use")
    name = windows_path(leftover).replace("%", "%%")
    (folder / "k.bat").write_bytes(f'ping -n 2 127.0.0.1\ndel "{name}"\ndel %0'.encode("ascii"))
    return leftover


def foreign_k_bat(folder):
    """A batch file that the uninstallation could not have written: nothing
    may run it."""
    (folder / "k.bat").write_bytes(b'@echo ran>"%~dp0marker.txt"\r\n')
    return folder / "marker.txt"


UNINSTALL_LIST = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"


@pytest.fixture
def machine_record(build_dir):
    """record(folder): names the folder in the machine's own record as an
    all-users installation does, by the product's entry in the programs list
    under HKEY_LOCAL_MACHINE (32-bit view); the entries go after the test."""
    keys = []

    def record(folder):
        key = f"{UNINSTALL_LIST}\\Tarvo 1.2548.0.0 {uuid.uuid4().hex[:8]}"
        name = folder if isinstance(folder, str) else windows_path(folder)
        assert wine(build_dir, "reg", "add", key, "/v", "InstallLocation", "/d", name,
                    "/f", "/reg:32").returncode == 0
        keys.append(key)

    yield record
    for key in keys:
        wine(build_dir, "reg", "delete", key, "/f", "/reg:32")


def prefix_path(build_dir, name):
    """The Linux path of a Windows path of the prefix."""
    return Path(wine(build_dir, "winepath", "-u", name).stdout.decode().strip())


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
def test_help_wins_over_folder_permission(build_dir, installer_folder, logs, user_sid,
                                         help_switch):
    leftover = k_bat(installer_folder)
    marker = Logs.marker()
    result = run_installer(build_dir, installer_folder / "installer.exe", help_switch,
                           f"--set-folder-permission={windows_path(installer_folder)}",
                           "--permissions-for-user=" + user_sid, "--run-uninstall-bat", marker)
    assert result.returncode == 0
    assert leftover.exists()
    assert logs.of(marker) == {}


def test_uninstall_batch_runs_only_in_the_folder_permission_role(build_dir, installer_folder,
                                                                 logs, machine_record,
                                                                 private_folders):
    machine_record(installer_folder)
    leftover = k_bat(installer_folder)
    installer = installer_folder / "installer.exe"

    marker = Logs.marker()
    alone = run_installer(build_dir, installer, "--run-uninstall-bat", marker)
    assert leftover.exists()
    # It went on as an ordinary front end.
    assert alone.returncode == 1
    assert NO_WINDOW in logs.one(marker)[1]

    # Without a user to grant to, the permission role itself does nothing.
    # It hands the record to its copy, which deletes the leftover once the
    # role has ended, then the record, then has its own folder removed.
    copies = private_folders()
    marker = Logs.marker()
    with_role = run_installer(build_dir, installer, "--run-uninstall-bat", marker,
                              f"--set-folder-permission={windows_path(installer_folder / 'x')}")
    assert with_role.returncode == 0
    wait_until(lambda: not (installer_folder / "k.bat").exists(), "the record stays")
    assert not leftover.exists()
    wait_until(lambda: private_folders() <= copies, "the installer's copy stays")
    assert not (installer_folder / "x").exists()
    assert "Granted" not in "".join(logs.of(marker).values())

    # The role runs elevated: a batch file the uninstallation did not write
    # is not run.
    marker_file = foreign_k_bat(installer_folder)
    with_role = run_installer(build_dir, installer, "--run-uninstall-bat", Logs.marker(),
                              f"--set-folder-permission={windows_path(installer_folder / 'x')}")
    assert with_role.returncode == 0
    assert not marker_file.exists()


def test_uninstall_batch_of_a_copied_signed_installer_is_never_run(build_dir, user_sid, logs,
                                                                    machine_record):
    # The shipped, signed installer and its library copied beside another
    # vendor's files, with a batch naming one of them as the uninstallation
    # writes its own; the role runs elevated.
    folder = prefix_path(build_dir, "C:\\ProgramData") / f"VendorSvc2 {uuid.uuid4().hex[:8]}"
    folder.mkdir()
    try:
        for name in (INSTALLER, LIBRARY):
            shutil.copy(build_dir / "installer_files/full" / Path(name).name, folder)
        vendor = k_bat(folder)
        for recorded in (None, folder / "elsewhere"):
            if recorded:
                # Another folder recorded is no record of this one.
                machine_record(recorded)
            marker = Logs.marker()
            result = run_installer(build_dir, folder / "installer.exe", marker,
                                   f"--set-folder-permission={windows_path(folder)}\\x",
                                   "--permissions-for-user=" + user_sid, "--run-uninstall-bat")
            assert result.returncode == 0
            assert vendor.exists() and (folder / "k.bat").exists()
            assert f"Not running the uninstall batch of C:\\ProgramData\\{folder.name}:" in \
                logs.one(marker)[1]
    finally:
        shutil.rmtree(folder)


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
    """The access list of a folder, given as a Linux path or a Windows one."""
    name = folder if isinstance(folder, str) else windows_path(folder)
    result = wine(build_dir, build_dir / PEER, "dacl", name)
    assert result.returncode == 0
    return result.stdout.decode().strip().removeprefix("dacl ")


def others_may_write(folder):
    return bool(os.stat(folder).st_mode & stat.S_IWOTH)


def owner_may_write(folder):
    return bool(os.stat(folder).st_mode & stat.S_IWUSR)


def read_line(process):
    return process.stdout.readline().decode().strip()


def read_only_folder(tmp_path):
    folder = tmp_path / "install"
    folder.mkdir(mode=READ_ONLY)
    folder.chmod(READ_ONLY)
    return folder


@pytest.mark.parametrize("moved_for_a_link", [False, True], ids=["in-place", "moved-for-a-link"])
def test_permission_helper_grants_until_undo_is_signalled(build_dir, tmp_path, logs, user_sid,
                                                          moved_for_a_link):
    folder = read_only_folder(tmp_path)
    granted = windows_path(folder)
    assert full_access_for(user_sid) not in dacl(build_dir, folder)
    marker = Logs.marker()
    requester = subprocess.Popen(
        [str(build_dir / "wine-run"), str(build_dir / PEER), "request", granted,
         user_sid, windows_path(build_dir / INSTALLER), marker],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert read_line(requester) == "sid " + user_sid
        assert read_line(requester) == "granted"
        assert full_access_for(user_sid) in dacl(build_dir, folder)
        assert owner_may_write(folder)
        if moved_for_a_link:
            # What the user granted to may do while the grant lasts: move
            # the folder away and leave a link in its place. The undo is
            # the moved folder's; a link at its name must not turn it away.
            moved = tmp_path / "moved"
            folder.rename(moved)
            folder.symlink_to(moved, target_is_directory=True)
        requester.stdin.write(b"\n")
        requester.stdin.flush()
        assert read_line(requester) == "helper exited 0"
    finally:
        requester.stdin.close()
        requester.wait(timeout=600)
    # Wine turns the list put back into a mode that lets the owner write
    # again: the undo is read from the helper's log.
    text = logs.one(marker)[1]
    assert "Granted full access to " + granted in text, text
    assert "Put back the access list of " + granted in text, text


def test_permission_helper_undoes_when_requester_ends(build_dir, tmp_path, logs, user_sid):
    folder = read_only_folder(tmp_path)
    # The helper would wait for the undo event for ever; the timeout only
    # stops a hang. The child that makes the request passes no marker: the
    # helper's log is the one that names the folder, shown whole when the
    # undo is missing from it.
    result = wine(build_dir, build_dir / PEER, "request-then-end", windows_path(folder), user_sid,
                  windows_path(build_dir / INSTALLER), timeout=600)
    assert result.stdout.decode().splitlines()[1:3] == ["granted", "helper exited 0"]
    name, text = logs.one("Granted full access to " + windows_path(folder))
    assert "Put back the access list of " + windows_path(folder) in text, (name, text)


@pytest.fixture
def documents_link(build_dir):
    """A link in the user's Documents to the prefix's SysWOW64, made as a
    standard user could make it; its Windows path."""
    documents = wine(build_dir, "cmd", "/c", "echo %USERPROFILE%\\Documents").stdout.decode().strip()
    unix = Path(wine(build_dir, "winepath", "-u", documents).stdout.decode().strip())
    syswow64 = wine(build_dir, "winepath", "-u", "C:\\windows\\syswow64").stdout.decode().strip()
    link = unix / f"link-{uuid.uuid4().hex}"
    link.symlink_to(syswow64, target_is_directory=True)
    yield documents + "\\" + link.name
    link.unlink()


def request_permanent_grant(build_dir, folder, trustee, marker):
    result = wine(build_dir, build_dir / PEER, "request", folder, trustee,
                  windows_path(build_dir / INSTALLER), "--permanent-permissions", marker,
                  timeout=600)
    return result.stdout.decode().splitlines()[1:3]


@pytest.mark.parametrize("kind, reason", [
    ("C:\\windows\\system32", "it is a folder of the system or of all users"),
    ("C:\\windows", "it is a folder of the system or of all users"),
    ("C:\\Program Files", "it is a folder of the system or of all users"),
    ("C:\\", "it is the root of a drive"),
    ("link", "is a link or another reparse point"),
    ("foreign", "it holds files that are not an installation of the product"),
], ids=["system32", "windows", "program-files", "drive-root", "link-to-syswow64", "foreign"])
def test_permission_helper_refuses_where_no_installation_goes(build_dir, tmp_path, logs, user_sid,
                                                             request, kind, reason):
    if kind == "link":
        folder = request.getfixturevalue("documents_link")
    elif kind == "foreign":
        foreign = tmp_path / "foreign"
        foreign.mkdir()
        (foreign / "notes.txt").write_bytes(b"someone else's")
        foreign.chmod(READ_ONLY)
        folder = windows_path(foreign)
    else:
        folder = kind
    original = dacl(build_dir, folder)
    marker = Logs.marker()
    assert request_permanent_grant(build_dir, folder, user_sid, marker) == [
        "not granted", "helper exited 0"]
    assert dacl(build_dir, folder) == original
    if kind == "foreign":
        assert not owner_may_write(foreign)
        foreign.chmod(0o755)
    text = logs.one(marker)[1]
    assert re.search(r"ERROR:.*Not granting access to .*: .*" + re.escape(reason), text), text


@pytest.mark.parametrize("group", GROUPS)
def test_permission_helper_refuses_a_group(build_dir, tmp_path, logs, group):
    folder = tmp_path / "install"
    marker = Logs.marker()
    assert request_permanent_grant(build_dir, windows_path(folder), group, marker) == [
        "not granted", "helper exited 0"]
    # Nothing is made for a trustee that is refused.
    assert not folder.exists()
    assert "the trustee is not one user's own account" in logs.one(marker)[1]

    # A folder that exists keeps its access list.
    folder.mkdir(mode=0o755)
    original = dacl(build_dir, folder)
    assert request_permanent_grant(build_dir, windows_path(folder), group, Logs.marker()) == [
        "not granted", "helper exited 0"]
    assert dacl(build_dir, folder) == original
    assert FULL_ACCESS_FOR_EVERYONE not in dacl(build_dir, folder)
    assert not others_may_write(folder)


def test_permission_helper_grants_a_new_folder_and_an_installation(build_dir, tmp_path, logs,
                                                                   user_sid, machine_record):
    new = tmp_path / "Tarvo" / "new"
    marker = Logs.marker()
    assert request_permanent_grant(build_dir, windows_path(new), user_sid, marker) == [
        "granted", "helper exited 0"]
    assert new.is_dir()
    assert "Granted full access to " + windows_path(new) in logs.one(marker)[1]

    installation = tmp_path / "installation"
    (installation / "1.2548.0.0").mkdir(parents=True)
    for name in ["installation_status.xml", "launcher.exe", "root.dat"]:
        (installation / name).write_bytes(b"")
    installation.chmod(READ_ONLY)
    machine_record(installation)
    assert request_permanent_grant(build_dir, windows_path(installation), user_sid,
                                   Logs.marker()) == ["granted", "helper exited 0"]
    assert full_access_for(user_sid) in dacl(build_dir, installation)
    assert owner_may_write(installation)


def planted_install_log(folder):
    """A vendor's service folder with an empty install log planted in it."""
    for name in ["service.exe", "config.ini", "installation_status.xml"]:
        (folder / name).write_bytes(b"")


def other_products_folder(folder):
    """Another product's folder that holds an installer and a version folder."""
    (folder / "installer.exe").write_bytes(b"MZ")
    (folder / "1.2.3.4").mkdir()


SYSTEM_FOLDER = "it is a folder of the system or of all users"
FOREIGN = "it holds files that are not an installation of the product"


@pytest.mark.parametrize("folder, made, reason", [
    ("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp", None,
     SYSTEM_FOLDER),
    ("C:\\users\\Public\\Desktop", None, SYSTEM_FOLDER),
    ("C:\\users\\other {tag}\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
     "\\Startup", None, SYSTEM_FOLDER),
    ("C:\\users\\other {tag}\\Tarvo", "new", SYSTEM_FOLDER),
    ("C:\\users\\Default\\Tarvo {tag}", "new", SYSTEM_FOLDER),
    ("C:\\ProgramData\\VendorSvc {tag}", planted_install_log, FOREIGN),
    ("C:\\ProgramData\\Other product {tag}", other_products_folder, FOREIGN),
], ids=["all-users-startup", "public-desktop", "other-users-startup", "new-in-other-profile",
        "new-in-default-profile", "planted-install-log", "other-products-folder"])
def test_permission_helper_refuses_what_is_no_installation_of_this_machine(
        build_dir, logs, user_sid, folder, made, reason):
    tag = uuid.uuid4().hex[:8]
    folder = folder.format(tag=tag)
    linux = prefix_path(build_dir, folder)
    made_here = [path for path in [prefix_path(build_dir, "C:\\users") / f"other {tag}",
                                   prefix_path(build_dir, "C:\\users\\Default")]
                 if not path.exists()]
    try:
        if made == "new":
            linux.parent.mkdir(parents=True, exist_ok=True)
        else:
            linux.mkdir(parents=True, exist_ok=True)
            if made:
                made(linux)
            original = dacl(build_dir, folder)
        marker = Logs.marker()
        assert request_permanent_grant(build_dir, folder, user_sid, marker) == [
            "not granted", "helper exited 0"]
        if made == "new":
            assert not linux.exists()
        else:
            assert dacl(build_dir, folder) == original
        text = logs.one(marker)[1]
        assert re.search(r"ERROR:.*Not granting access to .*: .*" + re.escape(reason), text), text
    finally:
        if made and made != "new":
            shutil.rmtree(linux)
        for path in made_here:
            shutil.rmtree(path, ignore_errors=True)


def grant_until_undo(build_dir, folder, user_sid, marker):
    """Asks for a grant of `folder` as the installer does and signals its
    undo once it is granted; the helper's log text."""
    requester = subprocess.Popen(
        [str(build_dir / "wine-run"), str(build_dir / PEER), "request", windows_path(folder),
         user_sid, windows_path(build_dir / INSTALLER), marker],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert read_line(requester) == "sid " + user_sid
        assert read_line(requester) == "granted"
        assert full_access_for(user_sid) in dacl(build_dir, folder)
        requester.stdin.write(b"\n")
        requester.stdin.flush()
        assert read_line(requester) == "helper exited 0"
    finally:
        requester.stdin.close()
        requester.wait(timeout=600)


def test_permission_helper_grants_only_the_recorded_installation(build_dir, tmp_path, logs,
                                                                user_sid, machine_record):
    installation = tmp_path / "installation"
    (installation / "1.2548.0.0").mkdir(parents=True)
    for name in ["installation_status.xml", "launcher.exe", "root.dat"]:
        (installation / name).write_bytes(b"")
    original = dacl(build_dir, installation)

    # An installation's names are no record of one.
    marker = Logs.marker()
    assert request_permanent_grant(build_dir, windows_path(installation), user_sid, marker) == [
        "not granted", "helper exited 0"]
    assert FOREIGN in logs.one(marker)[1]
    assert dacl(build_dir, installation) == original

    # Recorded, but a file in it has a second name outside, which the grant
    # would reach.
    machine_record(installation)
    outside = tmp_path / "system.dll"
    outside.write_bytes(b"system")
    os.link(outside, installation / "1.2548.0.0" / "browser.dll")
    marker = Logs.marker()
    assert request_permanent_grant(build_dir, windows_path(installation), user_sid, marker) == [
        "not granted", "helper exited 0"]
    assert "a file in it is a hard link" in logs.one(marker)[1]
    assert dacl(build_dir, installation) == original

    (installation / "1.2548.0.0" / "browser.dll").unlink()
    marker = Logs.marker()
    grant_until_undo(build_dir, installation, user_sid, marker)
    text = logs.one(marker)[1]
    assert "Granted full access to " + windows_path(installation) in text, text
    assert "Put back the access list of " + windows_path(installation) in text, text
    assert dacl(build_dir, installation) == original


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("entry_pki"))


@pytest.mark.parametrize("signer", [None, "other", "good"])
def test_package_installer_runs_only_with_the_product_signature(build_dir, tmp_path,
                                                               user_sid, signer):
    # The build's signers, whose root the machine trusts.
    keys = BuildKeys(build_dir)
    package = tmp_path / "package"
    package.mkdir()
    if signer:
        keys.sign(signer, build_dir / INSTALLER, package / "installer.exe")
        keys.sign(signer, build_dir / LIBRARY, package / "tarvo_installer.dll")
    else:
        shutil.copy(build_dir / INSTALLER, package)
    folder = read_only_folder(tmp_path)
    original = dacl(build_dir, folder)
    result = wine(build_dir, build_dir / PEER, "package", windows_path(folder), user_sid,
                  windows_path(build_dir / INSTALLER), windows_path(package),
                  "--permanent-permissions")
    runs = signer == "good"
    assert result.stdout.decode().splitlines()[:2] == [
        "granted" if runs else "not granted", "helper exited 0"]
    assert (full_access_for(user_sid) in dacl(build_dir, folder)) == runs
    if not runs:
        assert dacl(build_dir, folder) == original


# The role learns the package's version from its held installer: this
# build's, 2548.0, older than the installation in the folder.
def test_package_installer_older_than_the_installation_is_never_run(build_dir, tmp_path,
                                                                     user_sid, logs):
    # The build's signers, whose root the machine trusts: only the version
    # may refuse it.
    keys = BuildKeys(build_dir)
    package = tmp_path / "package"
    package.mkdir()
    keys.sign("good", build_dir / INSTALLER, package / "installer.exe")
    keys.sign("good", build_dir / LIBRARY, package / "tarvo_installer.dll")
    folder = tmp_path / "install"
    folder.mkdir()
    (folder / "installation_status.xml").write_text(
        '<?xml version="1.0"?>\n<install_log version="45.0.2548.1" copy_only="False" '
        'all_users="False" pinned="False" app_id="">\n'
        f' <path subfolder="45.0.2548.1">{windows_path(folder)}</path>\n'
        " <files>\n  <file>tarvo.exe</file>\n </files>\n</install_log>\n", encoding="utf-8")
    folder.chmod(READ_ONLY)
    original = dacl(build_dir, folder)
    marker = Logs.marker()
    result = wine(build_dir, build_dir / PEER, "package", windows_path(folder), user_sid,
                  windows_path(build_dir / INSTALLER), windows_path(package),
                  "--permanent-permissions", marker)
    assert result.stdout.decode().splitlines()[:2] == ["not granted", "helper exited 0"]
    assert dacl(build_dir, folder) == original
    assert "(2548.0) is older than the installed version 45.0.2548.1" in logs.one(marker)[1]


def test_package_installer_with_a_swapped_library_is_never_run(build_dir, tmp_path, user_sid):
    # The role as the shipped, signed installer plays it; the package's
    # installer.exe is the product's, its library was swapped.
    keys = BuildKeys(build_dir)
    package = tmp_path / "package"
    package.mkdir()
    keys.sign("good", build_dir / INSTALLER, package / "installer.exe")
    shutil.copy(build_dir / PLANTED, package / "tarvo_installer.dll")
    folder = read_only_folder(tmp_path)
    original = dacl(build_dir, folder)
    helper = build_dir / "installer_files/full/installer.exe"
    result = wine(build_dir, build_dir / PEER, "package", windows_path(folder), user_sid,
                  windows_path(helper), windows_path(package), "--permanent-permissions")
    assert result.stdout.decode().splitlines()[:2] == ["not granted", "helper exited 0"]
    assert not (package / "planted_library_ran").exists()
    assert dacl(build_dir, folder) == original


def test_package_installer_is_held_to_the_signer_of_the_program_that_runs(build_dir, tmp_path,
                                                                          pki, user_sid, logs):
    # The role as the shipped, signed installer plays it, from a folder of
    # its own. While it waits for the package, its file is renamed and a
    # copy of the same program signed with another certificate of the
    # product's name is put under its name, as anyone who may write that
    # folder can do; the package is signed with that certificate too. The
    # role holds the package to the publisher it was built with: a signer of
    # the product's name whose chain ends, trusted, in the publisher's
    # roots; this certificate's CA is neither trusted nor one of them.
    helper_folder = tmp_path / "helper"
    helper_folder.mkdir()
    for name in ("installer.exe", "tarvo_installer.dll"):
        shutil.copy(build_dir / "installer_files/full" / name, helper_folder)
    helper = helper_folder / "installer.exe"
    package = tmp_path / "package"
    package.mkdir()
    pki.sign("good", build_dir / INSTALLER, package / "installer.exe")
    pki.sign("good", build_dir / LIBRARY, package / "tarvo_installer.dll")
    stripped = tmp_path / "stripped.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(helper), "-out",
                    str(stripped)], check=True, capture_output=True)
    resigned = tmp_path / "resigned.exe"
    pki.sign("good", stripped, resigned)
    folder = read_only_folder(tmp_path)
    original = dacl(build_dir, folder)
    marker = Logs.marker()
    requester = subprocess.Popen(
        [str(build_dir / "wine-run"), str(build_dir / PEER), "package-later",
         windows_path(folder), user_sid, windows_path(helper), windows_path(package),
         "--permanent-permissions", marker],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert read_line(requester) == "started"
        # The role's log names the marker once the program runs; the bound
        # only stops a hang.
        for _ in range(3000):
            if logs.of(marker):
                break
            time.sleep(0.1)
        assert logs.of(marker)
        helper.rename(helper_folder / "installer.old.exe")
        shutil.copy(resigned, helper)
        requester.stdin.write(b"\n")
        requester.stdin.flush()
        assert read_line(requester) == "not granted"
        assert read_line(requester) == "helper exited 0"
    finally:
        requester.stdin.close()
        requester.wait(timeout=600)
    assert dacl(build_dir, folder) == original
    assert "installer.exe: its signature is not trusted" in logs.one(marker)[1]


TESTING_HELPER = "installer_files_testing/full/installer.exe"
LAUNCHER = "desktop/windows/installer/launcher_recorder.exe"
LAUNCH_RECORD = "launcher_started.txt"
STAND_IN_REFUSED = "it was changed after it was checked"


def stand_in_folder(build_dir, folder):
    """An unsigned program under the package installer's name, which records
    each start beside itself, and a library that records its load."""
    folder.mkdir()
    shutil.copy(build_dir / LAUNCHER, folder / "installer.exe")
    shutil.copy(build_dir / PLANTED, folder / "tarvo_installer.dll")
    return folder


def swap_package(build_dir, swap, package, stand_in):
    """What another process of the user's does to the checked package folder
    (`package`, a link to it for "link") just before it is started."""
    aside = package.with_name(package.name + "_aside")
    if swap == "windows_rename":
        # A Windows program: the folder is held, the rename refused.
        moved = wine(build_dir, build_dir / PEER, "move", windows_path(package),
                     windows_path(aside))
        assert moved.stdout.decode().split() == ["error", "32"], moved
    elif swap == "linux_rename":
        # A Linux process ignores Wine's hold on the folder.
        package.rename(aside)
        stand_in.rename(package)
    elif swap == "link":
        package.unlink()
        package.symlink_to(stand_in, target_is_directory=True)


@pytest.mark.parametrize("swap, runs", [("none", True), ("windows_rename", True),
                                        ("linux_rename", False), ("link", True)])
def test_package_installer_swapped_just_before_its_start_never_runs(build_dir, tmp_path,
                                                                   user_sid, logs, swap, runs):
    # The role as the testing build of the signed installer plays it, paused
    # once the package's installer is checked, held and asked for its
    # version, just before it starts it. The folder is renamed aside and a
    # folder of an unsigned stand-in moved into its place, or the link the
    # role was given the package by is pointed at the stand-in's folder.
    keys = BuildKeys(build_dir)
    real = tmp_path / "package"
    real.mkdir()
    keys.sign("good", build_dir / INSTALLER, real / "installer.exe")
    keys.sign("good", build_dir / LIBRARY, real / "tarvo_installer.dll")
    stand_in = stand_in_folder(build_dir, tmp_path / "stand_in")
    package = real
    if swap == "link":
        package = tmp_path / "link"
        package.symlink_to(real, target_is_directory=True)
    folder = read_only_folder(tmp_path)
    original = dacl(build_dir, folder)
    paused = tmp_path / "paused"
    marker = Logs.marker()
    environment = {**os.environ, "TARVO_TEST_FAULT":
                   f"at=package-installer-start;action=pause;marker={windows_path(paused)}"}
    requester = subprocess.Popen(
        [str(build_dir / "wine-run"), str(build_dir / PEER), "package", windows_path(folder),
         user_sid, windows_path(build_dir / TESTING_HELPER), windows_path(package),
         "--permanent-permissions", marker],
        stdout=subprocess.PIPE, env=environment)
    try:
        wait_until(lambda: paused.exists() or requester.poll() is not None, "the pause")
        assert paused.exists(), "ended before the pause"
        swap_package(build_dir, swap, package, stand_in)
        paused.unlink()
        output, _ = requester.communicate(timeout=600)
    finally:
        if requester.poll() is None:
            requester.kill()
    assert output.decode().splitlines()[:2] == [
        "granted" if runs else "not granted", "helper exited 0"]
    assert (full_access_for(user_sid) in dacl(build_dir, folder)) == runs
    if not runs:
        assert dacl(build_dir, folder) == original
        assert STAND_IN_REFUSED in logs.one(marker)[1]
    for place in (real, real.with_name("package_aside"), stand_in, package):
        assert not (place / LAUNCH_RECORD).exists()
        assert not (place / "planted_library_ran").exists()


def test_window_lock_is_never_made_through_a_link_planted_in_its_place(build_dir, tmp_path,
                                                                        logs):
    # A standard user's front end keeps its lock file in the user's
    # temporary folder, where another of the user's programs may put a link
    # to any file under its name; the shipped installer as a double-click
    # starts it (without a display it gives up after the lock). The link is
    # neither written through nor read as the lock of another window. (A
    # run that may be elevated keeps it in a private folder.)
    lock_folder = tmp_path / "temp" / "Tarvo Installer"
    lock_folder.mkdir(parents=True)
    canary = tmp_path / "canary.txt"
    canary.write_bytes(b"outside canary")
    (lock_folder / "installer.lck").symlink_to(canary)
    marker = Logs.marker()
    result = run_installer(build_dir, build_dir / "installer_files/full/installer.exe",
                           f"--temp-folder={windows_path(tmp_path / 'temp')}", marker,
                           standard_user=True)
    assert result.returncode == 1
    text = logs.one(marker)[1]
    assert "Existing installer UI lock file is invalid" in text, text
    assert NO_WINDOW in text, text
    assert canary.read_bytes() == b"outside canary"
