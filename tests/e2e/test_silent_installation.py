"""Whole silent installations from real installer files: installer.exe
--silent, a full installer carrying the demo package as its 7z payload or an
online installer that asks the tests' update server for it, both signed with
a test certificate, each run under Wine until every process it started has
ended. The installed tree is checked byte for byte against the package, the
registry rows against what they were, and the statistics report as the
update server received it (Python's json)."""

import contextlib
import hashlib
import json
import os
import re
import subprocess
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pytest

import installer_files as files
import test_installation as installation
import test_registry_entries as entries
import test_update_uninstall as update_uninstall
from conftest import PRIVATE_FOLDER_NAME, Logs, small_volume, tree_runner_as, windows_path, wine
from update_server import PREF_DEFAULTS, UpdateServer

TREE_RUNNER = "desktop/windows/installer/process_tree_runner.exe"
HANG_GUARD = 600
SWITCHES = ["--silent", "--allusers=0", "--desktopshortcut=0", "--startmenushortcut=0",
            "--quicklaunchshortcut=0", "--pintotaskbar=0", "--launchtarvo=0"]
VERSIONS = {"current": "45.0.2548.0", "next": "45.0.2548.1"}
WELCOME_URL = "https://updates.example/welcome"


@pytest.fixture(scope="module")
def pki(build_dir):
    # The build's signers: its root is the one each prefix's machine trusts.
    return files.BuildKeys(build_dir)


@pytest.fixture(scope="module")
def packages(build_dir, pki, tmp_path_factory):
    """{library variant: (package folder, its 7z archive)}"""
    made = {}
    for variant in files.LIBRARIES:
        folder = tmp_path_factory.mktemp(f"package_{variant}")
        package = files.make_package(build_dir, folder / "package", variant, pki=pki)
        made[variant] = (package, files.pack(package, folder / "package.7z", level=1))
    return made


@pytest.fixture(scope="module")
def downloads(build_dir, pki, packages, tmp_path_factory):
    """Signed package files as the update server serves them: {name: bytes}."""
    made = {}
    folder = tmp_path_factory.mktemp("downloads")
    for variant, (_, archive) in packages.items():
        made[variant] = files.full_installer(build_dir, folder / variant, pki, archive,
                                             library=variant).read_bytes()
    made["other_signer"] = files.full_installer(build_dir, folder / "other_signer", pki,
                                                packages["current"][1],
                                                signer="other").read_bytes()
    return made


@pytest.fixture
def server():
    with UpdateServer() as running:
        yield running


class Machine:
    """The installation folder of a test and the registry rows it may write."""

    def __init__(self, build_dir, tmp_path, monkeypatch):
        self.build_dir = build_dir
        self.tmp_path = tmp_path
        self.monkeypatch = monkeypatch
        self.folder = tmp_path / "Tarvo Silent"
        self.temp = tmp_path / "temp"
        self.temp.mkdir()
        self.rows = entries.table_rows("installation")[:-1]

    def use_version(self, version):
        uninstall = f"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo {version}"
        for name, value in {"InstallFolder": windows_path(self.folder), "Version": version,
                            "Uninstall": uninstall, "HelpURL": "", "CompanyURL": "",
                            "DownloadsURL": ""}.items():
            self.monkeypatch.setitem(entries.PLACEHOLDERS, name, value)

    def clean(self):
        for version in VERSIONS.values():
            self.use_version(version)
            installation.remove_rows(self.build_dir, self.tmp_path, self.rows)
        self.use_version(VERSIONS["current"])

    def registry(self):
        return installation.registry(self.build_dir, self.tmp_path,
                                     installation.row_keys(self.rows))

    def private_folders(self, session_folders):
        """A lister of the private folders in the session's temporary folders
        and in this machine's own, where the installer's copy that removes an
        uninstallation's leftovers makes its folder."""
        return lambda: session_folders() | {
            path for path in self.temp.iterdir() if PRIVATE_FOLDER_NAME.fullmatch(path.name)}

    @property
    def download_folder(self):
        return self.temp / "Tarvo Installer"

    def run(self, installer, *extra, folder=None, folder_switch=True, env=None, names=None):
        """installer.exe --silent into the folder; its exit code once every
        process it started has ended. Without the folder switch the
        installer takes the folder it stored itself. Given a list, `names`
        gets every path a process of the run gave the system's file
        functions."""
        traced = {} if names is None else {"WINEDEBUG": "trace+file"}
        result = subprocess.run(self.command(installer, *extra, folder=folder,
                                             folder_switch=folder_switch),
                                capture_output=True, timeout=HANG_GUARD,
                                env={**os.environ, **(env or {}), **traced})
        if names is not None:
            names.extend(traced_file_names(result.stderr))
        return exit_code_of(result.stdout)

    def command(self, installer, *extra, folder=None, folder_switch=True):
        """The command line of `run`."""
        folder_switches = [f"--installfolder={windows_path(folder or self.folder)}"] \
            if folder_switch else []
        arguments = [*SWITCHES, *folder_switches, f"--temp-folder={windows_path(self.temp)}",
                     *extra]
        return [str(self.build_dir / "wine-run"), str(self.build_dir / TREE_RUNNER),
                *tree_runner_as(arguments), windows_path(installer), *arguments]


# A name in Wine's trace of its file functions, its backslashes doubled;
# one cut short ends in "...".
TRACED_NAME = re.compile(rb'L"((?:[^"\\]|\\.)*)"(\.\.\.)?')


def traced_file_names(trace):
    """Every name in a run's trace of the file functions, as the program
    gave it (without the prefixes that only change how it is read), and
    whether the trace cut it short."""
    names = []
    for line in trace.splitlines():
        if b":trace:file:" not in line:
            continue
        for name, cut in TRACED_NAME.findall(line):
            text = re.sub(rb"\\(.)", rb"\1", name).decode(errors="replace")
            for prefix in ("\\??\\", "\\\\?\\"):
                text = text.removeprefix(prefix)
            names.append((text, bool(cut)))
    return names


def exit_code_of(output):
    """The tree runner's last line; an uninstallation's batch file talks
    before it."""
    lines = output.decode(errors="replace").split()
    assert len(lines) >= 2 and lines[-2] == "exit", output
    return int(lines[-1])


@pytest.fixture
def machine(build_dir, tmp_path, monkeypatch):
    machine = Machine(build_dir, tmp_path, monkeypatch)
    machine.clean()
    yield machine
    machine.clean()


def package_tree(package, version, pref_defaults=PREF_DEFAULTS, extra=None, online=False):
    """{relative path: sha256} of what installing the package puts in place,
    without the files the installation writes itself. An online installer's
    tracking data comes along."""
    digest = lambda path: hashlib.sha256(path.read_bytes()).hexdigest()  # noqa: E731
    tree = {"launcher.exe": digest(package / "launcher.exe"),
            "root.dat": digest(package / "root.dat"),
            "pref_default_overrides": hashlib.sha256(pref_defaults).hexdigest(),
            f"{version}/": None, f"{version}/resources/": None,
            f"{version}/installer_helper_64.exe": digest(package / "installer_helper_64.exe")}
    for name in [*installation.FILES, *files.INSTALLER_FILES]:
        relative = name.replace("\\", "/")
        tree[f"{version}/{relative}"] = digest(package / relative)
    for name, data in (extra or {}).items():
        tree[f"{version}/{name}"] = hashlib.sha256(data).hexdigest()
    if online:
        tracking = files.tracking_data(files.ONLINE_TRACKING)
        tree["server_tracking_data"] = hashlib.sha256(tracking).hexdigest()
    return tree


WRITTEN = {"installer_prefs.json", "installation_status.xml"}


def installed_tree(folder):
    tree = installation.tree(folder)
    assert WRITTEN <= set(tree), tree
    return {path: digest for path, digest in tree.items() if path not in WRITTEN}


def test_full_installer_installs_silently_and_reports(build_dir, pki, packages, machine,
                                                      server, logs):
    package, archive = packages["current"]
    installer = files.full_installer(build_dir, machine.tmp_path / "full", pki, archive,
                                     autoupdate_url=server.autoupdate_url)
    marker = Logs.marker()

    assert machine.run(installer, marker) == 0

    assert installed_tree(machine.folder) == package_tree(package, VERSIONS["current"])
    (report,) = server.reports()
    assert report["installation_success"] == 1
    assert report["payload_type"] == "full_package"
    (fetch,) = report["fetches"]
    assert fetch["result"] == "package_ready" and fetch["try_number"] == 0
    assert "download_url" not in report and "failure_reason" not in report
    # The payload is the package: nothing is asked of the server for it.
    assert all("netinstaller/developer" not in r.path for r in server.http.requests)
    # The package folder lives as long as the run.
    assert not machine.download_folder.exists()
    log = logs.one(marker)[1]
    assert "Initializing controller with fetcher." in log
    assert "Controller exiting" in log


def test_backend_ending_with_0_unreported_fails_the_run(build_dir, pki, packages, machine,
                                                        server, logs):
    # The backend is the installer file's own, waiting for the package.
    installer = files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                     packages["current"][1],
                                     autoupdate_url=server.autoupdate_url, hooks=True)
    before = machine.registry()
    marker = Logs.marker()

    # The backend is killed with 0 before it says a word, as a killed one
    # reads under Wine.
    assert machine.run(installer, marker,
                       env={"TARVO_TEST_FAULT": "at=backend;action=kill;code=0"}) == 1

    assert not machine.folder.exists()
    assert machine.registry() == before
    (report,) = server.reports()
    assert report["installation_success"] == 0
    assert report["failure_reason"] == "Installer backend ended without reporting success"
    log = logs.one(marker)[1]
    assert "Installer ended. Success is false" in log


# The installer's own paths below the download folder reach 66 characters
# more (the package folder for the largest process id, and in it the
# package's longest program name); Windows runs nothing from a path of 260.
LONGEST_DOWNLOAD_FOLDER = 259 - 66


@pytest.mark.parametrize("length", [LONGEST_DOWNLOAD_FOLDER, LONGEST_DOWNLOAD_FOLDER + 1])
def test_temporary_folder_without_room_for_the_package_is_refused_up_front(
        build_dir, pki, packages, machine, server, logs, length):
    package, archive = packages["current"]
    installer = files.full_installer(build_dir, machine.tmp_path / "full", pki, archive,
                                     autoupdate_url=server.autoupdate_url)
    download_folder = "\\Tarvo Installer"
    base = len(windows_path(machine.tmp_path / "t")) + len(download_folder)
    machine.temp = machine.tmp_path / ("t" * (length - base + 1))
    marker = Logs.marker()

    code = machine.run(installer, marker)

    log = logs.one(marker)[1]
    if length == LONGEST_DOWNLOAD_FOLDER:
        assert code == 0, log
        assert installed_tree(machine.folder) == package_tree(package, VERSIONS["current"])
    else:
        assert code == 1
        assert "The temporary installer folder is too long: " \
               f"{length} characters, at most {LONGEST_DOWNLOAD_FOLDER}" in log
        assert not machine.folder.exists()
    # Nothing is left in it either way.
    assert not machine.temp.exists() or list(machine.temp.iterdir()) == []


def damaged(archive):
    """The archive with one byte of its packed data changed."""
    data = bytearray(archive)
    data[len(data) // 2] ^= 0xFF
    return bytes(data)


# How a package can fail, what the fetch entries of the report then say, and
# what they record beside it.
FAILURES = {
    "corrupted-payload": ("Archive unpacking failed", "unpacking_failed", {}),
    "bad-checksum": ("Checksum incorrect for the downloaded package", "download_failed", {}),
    "wrong-signature": ("Signature incorrect for the downloaded package", "download_failed",
                        {"signature_check_error": str}),
    "older-version": ("Downloaded package failed version check", "download_failed",
                      {"internal_version": "2547.0"}),
    "other-stream": ("Downloaded package failed version check", "download_failed",
                     {"internal_version": "2548.0", "stream": "beta"}),
    "location-refused": ("Failed fetching the download URL\n", "download_failed", {}),
}


def failing_installer(case, build_dir, pki, packages, downloads, machine, server):
    if case == "corrupted-payload":
        return files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                    damaged(packages["current"][1]),
                                    autoupdate_url=server.autoupdate_url)
    if case == "bad-checksum":
        server.offer(downloads["current"], checksum=hashlib.sha256(b"other").hexdigest())
    elif case == "wrong-signature":
        server.offer(downloads["other_signer"])
    elif case == "older-version":
        server.offer(downloads["older"])
    elif case == "other-stream":
        server.offer(downloads["other_stream"])
    elif case == "location-refused":
        server.refuse_locations(404)
    return files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                  autoupdate_url=server.autoupdate_url)


@pytest.mark.parametrize("case", list(FAILURES))
def test_failed_package_leaves_nothing_installed(build_dir, pki, packages, downloads, machine,
                                                 server, case):
    installer = failing_installer(case, build_dir, pki, packages, downloads, machine, server)
    before = machine.registry()

    assert machine.run(installer) == 1

    assert not machine.folder.exists()
    assert machine.registry() == before
    assert not machine.download_folder.exists()
    (report,) = server.reports()
    assert report["installation_success"] == 0
    assert report["failure_reason"] == "Fetcher error"
    # Three attempts, each failed once and counted once.
    assert report["fetcher_restarts"] == 3
    reason, result, recorded = FAILURES[case]
    assert [f["try_number"] for f in report["fetches"]] == [0, 1, 2]
    for fetch in report["fetches"]:
        assert fetch["result"] == result
        assert fetch["failure_reason"].startswith(reason), fetch["failure_reason"]
        for key, value in recorded.items():
            assert isinstance(fetch[key], value) if isinstance(value, type) else \
                fetch[key] == value


def test_online_installer_resumes_a_dropped_download_and_installs_byte_exact(
        build_dir, pki, packages, downloads, machine, server):
    package = downloads["current"]
    half = len(package) // 2
    # The first answer breaks off halfway (the server closes the connection:
    # what it sent arrives); the resume brings the rest.
    server.offer(package, welcome_url=WELCOME_URL,
                 drop_at=lambda number, first: half if number == 0 else None, reset=False)
    installer = files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                       autoupdate_url=server.autoupdate_url)

    assert machine.run(installer) == 0

    assert installed_tree(machine.folder) == package_tree(packages["current"][0],
                                                          VERSIONS["current"], online=True)
    first, resumed = server.package_requests()
    assert first.outcome == "dropped" and first.sent == half
    assert resumed.headers.get("Range") == f"bytes={half}-" and resumed.status == 206
    prefs = json.loads(
        (machine.folder / "installer_prefs.json").read_text(encoding="utf-8"))
    assert prefs["welcome-url"] == WELCOME_URL
    (report,) = server.reports()
    assert report["installation_success"] == 1
    assert report["payload_type"] == "tracking_data"
    (fetch,) = report["fetches"]
    assert fetch["result"] == "package_ready"
    assert fetch["download_url"] == server.url("/packages/tarvo_installer.exe")
    assert len(fetch["download_chunks"]) >= 2
    assert fetch["internal_version"] == "2548.0" and fetch["stream"] == "developer"


PARTNER = b"partner content"
# Names a server might give that would leave the package folder, name a
# stream or a device (the ports' superscript digits too), or take a name the
# package itself uses, in any case (refused before any download), or
# replace a file or folder of the package (downloaded, never moved into
# place).
REFUSED_NAMES = ["..\\escaped.txt", "../escaped.txt", "C:\\absolute.txt",
                 "files_list:stream", "NUL", "resources\\a.pak", "COM\u00b9.txt",
                 "LPT\u00b2", "files_list", "FILES_LIST", "installer_prefs.json",
                 "Installer_Prefs.JSON", "installer.exe", "INSTALLER.EXE",
                 "tarvo_installer.dll", "root_files_list"]
TAKEN_NAMES = ["resources", "RESOURCES", "tarvo.exe"]
# Of those, the programs are refused before any move: they are not signed.
TAKEN_PROGRAMS = 1


def partner_item(server, path, name, data):
    return {"type": "partner_content", "archive": 0, "filename": name,
            "location": server.add_file(path, data),
            "checksum": hashlib.sha256(data).hexdigest()}


def test_additional_files_are_placed_only_under_plain_new_names(build_dir, pki, machine,
                                                               server, tmp_path, logs):
    # A package whose file list lacks its last line break.
    package = files.make_package(build_dir, tmp_path / "package", pki=pki)
    listed = (package / "files_list").read_bytes()
    (package / "files_list").write_bytes(listed.rstrip(b"\r\n"))
    archive = files.pack(package, tmp_path / "package.7z", level=1)
    download = files.full_installer(build_dir, tmp_path / "download", pki, archive).read_bytes()
    evil = b"replaced by the server"
    # The last item fails to be placed: its download must not stay behind.
    components = [partner_item(server, "/files/partner", "partner.txt", PARTNER)]
    components += [partner_item(server, f"/files/{i}", name, evil)
                   for i, name in enumerate(REFUSED_NAMES + TAKEN_NAMES)]
    server.offer(download, components=components)
    installer = files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                       autoupdate_url=server.autoupdate_url)
    marker = Logs.marker()

    assert machine.run(installer, marker) == 0

    assert installed_tree(machine.folder) == package_tree(
        package, VERSIONS["current"], extra={"partner.txt": PARTNER}, online=True)
    for root, _, names in os.walk(tmp_path):
        assert "escaped.txt" not in names and "absolute.txt" not in names, root
    assert not machine.download_folder.exists()
    (report,) = server.reports()
    succeeded = [item.get("download_succeeded")
                 for item in report["fetches"][0]["addtional_files"]]
    assert succeeded == [1] + [None] * len(REFUSED_NAMES) + [0] * len(TAKEN_NAMES)
    log = logs.one(marker)[1]
    assert log.count("Refusing additional file name") == len(REFUSED_NAMES)
    assert log.count("Failed moving additional file into place") == \
        len(TAKEN_NAMES) - TAKEN_PROGRAMS
    assert log.count("Refusing unsigned executable additional file") == TAKEN_PROGRAMS


def test_refused_report_still_ends_the_run(build_dir, pki, packages, machine, server):
    server.refuse_reports(403)
    package, archive = packages["current"]
    installer = files.full_installer(build_dir, machine.tmp_path / "full", pki, archive,
                                     autoupdate_url=server.autoupdate_url)

    assert machine.run(installer) == 0

    assert installed_tree(machine.folder) == package_tree(package, VERSIONS["current"])
    (refused,) = [r for r in server.requests_to("/v4/netinstaller/feedback")]
    assert refused.status == 403


def test_two_runs_on_one_download_folder_keep_their_packages(build_dir, pki, packages,
                                                             machine, server):
    package, archive = packages["current"]
    installer = files.full_installer(build_dir, machine.tmp_path / "full", pki, archive,
                                     autoupdate_url=server.autoupdate_url)
    command = machine.command(installer)
    # Started together, they likely stamp their packages in the same second.
    # One takes the folder's installer mutex; the other one gives up and
    # removes its package folder, which must not be the first one's.
    runs = [subprocess.Popen(command, stdout=subprocess.PIPE) for _ in range(2)]
    codes = [exit_code_of(run.communicate(timeout=HANG_GUARD)[0]) for run in runs]

    assert 0 in codes
    assert installed_tree(machine.folder) == package_tree(package, VERSIONS["current"])
    reports = server.reports()
    assert len(reports) == 2
    for report in reports:
        # Should the second one start only once the first one is done, it
        # installs over it.
        assert report["installation_success"] == 1 or \
            report["failure_reason"] == "Could not acquire installer mutex", report
        # No fetch found its package folder taken or emptied by the other.
        # One that gave up early may not have started its fetch yet.
        for fetch in report.get("fetches", []):
            assert fetch.get("result", "package_ready") == "package_ready", fetch
    assert not machine.download_folder.exists()


def shortcut_folders(build_dir):
    """The user's Desktop and Quick Launch folders, as Linux paths."""
    def folder(variable):
        return installation.linux_path(build_dir, installation.run(
            build_dir, "cmd", "/c", f"echo %{variable}%").stdout.decode().strip())
    return (folder("USERPROFILE") / "Desktop",
            folder("APPDATA") / "Microsoft/Internet Explorer/Quick Launch")


def installers_with_next_offered(build_dir, pki, packages, downloads, machine, server):
    """The full installer of the current version and the online installer,
    with the update server offering the next version."""
    full = files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                packages["current"][1], autoupdate_url=server.autoupdate_url)
    online = files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                    autoupdate_url=server.autoupdate_url)
    server.offer(downloads["next"])
    return full, online


def assert_updated_tree(folder, packages):
    """The online update to the next version is in `folder`; the previous
    version stays until the next update, with its install log."""
    kept = {path: digest for path, digest in package_tree(
        packages["current"][0], VERSIONS["current"]).items()
        if path.startswith(VERSIONS["current"] + "/")}
    tree = installed_tree(folder)
    old_logs = [path for path in tree if path.startswith("old_status/")]
    assert len(old_logs) == 2, old_logs
    assert {path: digest for path, digest in tree.items() if path not in old_logs} == {
        **package_tree(packages["next"][0], VERSIONS["next"], online=True), **kept}
    log = ElementTree.parse(folder / "installation_status.xml").getroot()
    assert log.get("version") == VERSIONS["next"]


def test_full_install_online_update_and_uninstall_leave_the_machine_as_it_was(
        build_dir, pki, packages, downloads, machine, server, private_folders):
    desktop, quick_launch = shortcut_folders(build_dir)
    full, online = installers_with_next_offered(build_dir, pki, packages, downloads,
                                                machine, server)
    before = update_uninstall.snapshot(build_dir, machine.tmp_path, desktop, quick_launch)

    assert machine.run(full) == 0
    assert installation.version_of(machine.folder) == VERSIONS["current"]

    assert machine.run(online) == 0
    assert_updated_tree(machine.folder, packages)

    uninstaller = machine.folder / VERSIONS["next"] / "installer.exe"
    # The installed installer reports to the release's update server, which
    # the tests do not run.
    listed = machine.private_folders(private_folders)
    copies = listed()
    assert machine.run(uninstaller, "--uninstall", "--enable-installer-stats=0") == 0
    update_uninstall.wait_for_cleanup(machine.folder, listed, copies)
    assert update_uninstall.snapshot(build_dir, machine.tmp_path, desktop,
                                     quick_launch) == before
    full_report, update_report = server.reports()
    assert [r["installation_success"] for r in server.reports()] == [1, 1]
    assert full_report["payload_type"] == "full_package"
    assert update_report["download_url"] == server.url("/packages/tarvo_installer.exe")
    assert update_report["fetches"][0]["internal_version"] == "2548.1"


def product_values(machine):
    """What the installation wrote of its folder into the registry."""
    values = machine.registry()
    uninstall = values[f"microsoft\\windows\\currentversion\\uninstall\\tarvo "
                       f"{VERSIONS['current']}"]
    return {"UninstallString": uninstall["UninstallString"][1],
            "DisplayIcon": uninstall["DisplayIcon"][1],
            "InstallLocation": uninstall["InstallLocation"][1],
            "Last Install Path": values["tarvo software"]["Last developer Install Path"][1]}


def product_keys(build_dir, tmp_path, root):
    """Every key below ROOT\\Software named after the product, with or
    without values (.reg parsing leaves out keys without values)."""
    exported = tmp_path / "software.reg"
    result = installation.run(build_dir, "reg", "export", f"{root}\\Software",
                              windows_path(exported), "/y")
    assert result.returncode == 0, result.stderr
    text = exported.read_bytes().decode("utf-16")
    exported.unlink()
    return {line for line in text.splitlines()
            if line.startswith("[") and "tarvo" in line.lower()}


def test_same_version_reinstalls_then_uninstall_leave_nothing(build_dir, pki, packages,
                                                               machine, server,
                                                               private_folders):
    desktop, quick_launch = shortcut_folders(build_dir)
    full = files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                packages["current"][1], autoupdate_url=server.autoupdate_url)
    before = update_uninstall.snapshot(build_dir, machine.tmp_path, desktop, quick_launch)
    keys_before = {root: product_keys(build_dir, machine.tmp_path, root)
                   for root in ("HKCU", "HKLM")}

    assert machine.run(full) == 0
    clean = product_values(machine)
    assert clean["UninstallString"] == f'"{windows_path(machine.folder)}\\Launcher.exe" /uninstall'
    # The reinstalls take the folder from the value the installation stored.
    for _ in range(2):
        assert machine.run(full, folder_switch=False) == 0
        assert product_values(machine) == clean
    # Each reinstall of the version takes a subfolder of its own; the
    # previous one stays until the next update, its log in old_status.
    log = ElementTree.parse(machine.folder / "installation_status.xml").getroot()
    assert log.find("path").get("subfolder") == VERSIONS["current"] + "_1"
    (kept,) = (machine.folder / "old_status").iterdir()
    assert ElementTree.parse(kept).getroot().find("path").get("subfolder") == \
        VERSIONS["current"] + "_0"

    # Its installer uninstalls as well as the current one.
    running = VERSIONS["current"] + "_0"
    uninstaller = machine.folder / running / "installer.exe"
    listed = machine.private_folders(private_folders)
    copies = listed()
    assert machine.run(uninstaller, "--uninstall", "--enable-installer-stats=0") == 0
    update_uninstall.wait_for_cleanup(machine.folder, listed, copies)
    assert update_uninstall.snapshot(build_dir, machine.tmp_path, desktop,
                                     quick_launch) == before
    # No empty vendor key either; Wine's own keys are not the product's.
    assert {root: product_keys(build_dir, machine.tmp_path, root)
            for root in ("HKCU", "HKLM")} == keys_before


@contextlib.contextmanager
def unwritable(folder):
    """The folder refuses every change, for root too (the tests may run as
    root, whom permission bits do not stop)."""
    if subprocess.run(["chattr", "+i", str(folder)], capture_output=True).returncode != 0:
        pytest.skip("the build folder's file system has no immutable folders")
    try:
        yield
    finally:
        subprocess.run(["chattr", "-i", str(folder)], check=True)


def fill(volume):
    """Takes every free byte of the volume, as a user's full disk has none;
    files and folders can still be made, empty."""
    with open(volume / "filler", "wb") as filler:
        try:
            while True:
                filler.write(b"\0" * 65536)
                filler.flush()
        except OSError:
            pass


def read_only(volume):
    """The volume, mounted from small_volume, refuses every change from now
    on, as a drive that turned read-only does."""
    subprocess.run(["mount", "-o", "remount,ro", str(volume)], check=True)


@pytest.fixture
def fallback_logs(build_dir):
    """The logs that go on in the user's local application data once the
    temporary folder's log cannot be written."""
    local = wine(build_dir, "cmd", "/c", "echo %LOCALAPPDATA%").stdout.decode().strip()
    unix = wine(build_dir, "winepath", "-u", local).stdout.decode().strip()
    logs = Logs(os.path.join(unix, "Tarvo Installer"))
    yield logs
    for path in logs.found:
        if os.path.exists(path):
            os.remove(path)


# The longest name a run writes below the folder itself, outside the
# package's version folders: a replaced version's kept log,
# "old_status\\installation_status.xml.<10 digits>_<2>".
LONGEST_OWN_NAME = 48
LONGEST_FOLDER = 259 - 1 - LONGEST_OWN_NAME
# A package's deepest file must fit too, set aside as
# "<name>.<10 digits>_<2 digits>.old": the shipped package's is
# "<version>\\installer_helper_64.exe", in the subfolder of the version's
# last reinstall, "<version>_99".
LONGEST_FOLDER_FOR_PACKAGE = 259 - 1 - len(VERSIONS["current"] + "_99\\installer_helper_64.exe") - 18


def assert_names_fit(names, machine):
    """Windows refuses a path of more than 259 characters to a program that
    declares no long paths, Wine does not: every name the runs gave the
    file functions below the folder and in the temporary folders fits. The
    run's own names below the folder fit LONGEST_OWN_NAME too: a package
    with a shorter version name is given the folder LONGEST_FOLDER, where
    they are the longest."""
    folder = windows_path(machine.folder).lower() + "\\"
    temporary = windows_path(machine.temp).lower() + "\\"
    watched = {(name, cut) for name, cut in names
               if name.lower().startswith((folder, temporary)) or "\\temp\\" in name.lower()}
    assert any(name.lower().startswith(folder) for name, _ in watched)
    assert {name for name, cut in watched if cut or len(name) > 259} == set()
    own = {name[len(folder):] for name, _ in watched if name.lower().startswith(folder)
           and not name[len(folder):].startswith(tuple(VERSIONS.values()))}
    longest = max(own, key=len)
    assert len(longest) <= LONGEST_OWN_NAME, longest


def long_path_text(limit):
    return f"The path of the installation folder is too long: it may have at most {limit} characters."


NOT_WRITABLE = "The installation folder cannot be written to."


def long_folder(machine, length):
    base = windows_path(machine.tmp_path)
    return machine.tmp_path / ("l" * (length - len(base) - 1))


# How a run fails, and the error its front end's log states as the window
# shows it: (code, text) from the folder the run was given and the download
# folder.
DISK_FULL = "There is not enough space on the disk."
CAUSES = {
    "path-too-long": lambda folder, download: (37072, long_path_text(LONGEST_FOLDER)),
    "folder-refused": lambda folder, download: (
        37059, f"The folder {windows_path(folder)} could not be created. {NOT_WRITABLE}"),
    # Named whole: the version alone names no place a user can find.
    "existing-folder-refused": lambda folder, download: (
        37059, f"The folder {windows_path(folder / VERSIONS['current'])} could not be "
               f"created. {NOT_WRITABLE}"),
    # A folder that cannot be written is never a running Tarvo.exe.
    "uninstall-from-unwritable": lambda folder, download: (
        37077, f"Tarvo could not be uninstalled from {windows_path(folder)}. {NOT_WRITABLE}"),
    "uninstall-from-read-only-volume": lambda folder, download: (
        37077, f"Tarvo could not be uninstalled from {windows_path(folder)}. {NOT_WRITABLE}"),
    "disk-full": lambda folder, download: (
        37062, f"Error when copying file to "
               f"{windows_path(folder / VERSIONS['current'] / 'tarvo_installer.dll')}. "
               f"{DISK_FULL}"),
    "temporary-disk-full-unpacking": lambda folder, download: (
        37075, f"The Tarvo package could not be unpacked in the temporary folder "
               f"{windows_path(download)}. {DISK_FULL}"),
    "temporary-disk-full-downloading": lambda folder, download: (
        37076, f"Tarvo could not be downloaded to the temporary folder "
               f"{windows_path(download)}. {DISK_FULL}"),
    # The temporary folder's volume holds the logs too: they go on elsewhere.
    "logs-unwritable": lambda folder, download: (
        37075, f"The Tarvo package could not be unpacked in the temporary folder "
               f"{windows_path(download)}. {DISK_FULL}"),
}


@pytest.mark.parametrize("case", list(CAUSES))
def test_front_end_log_states_why_the_run_failed(build_dir, pki, packages, downloads, machine,
                                                 server, logs, fallback_logs, log_folder,
                                                 case):
    full = files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                packages["current"][1], autoupdate_url=server.autoupdate_url)
    marker = Logs.marker()
    folder = machine.folder
    run_logs = logs
    with contextlib.ExitStack() as stack:
        if case == "path-too-long":
            folder = long_folder(machine, LONGEST_FOLDER + 1)
            assert machine.run(full, marker, folder=folder) == 1
        elif case in ("folder-refused", "existing-folder-refused"):
            locked = machine.tmp_path / "locked"
            locked.mkdir()
            folder = locked if case == "existing-folder-refused" else locked / "Tarvo"
            stack.enter_context(unwritable(locked))
            assert machine.run(full, marker, folder=folder) == 1
            assert list(locked.iterdir()) == []
        elif case == "disk-full":
            volume = machine.tmp_path / "small"
            folder = volume / "Tarvo"
            stack.enter_context(small_volume(volume))
            (volume / "kept.txt").write_bytes(b"not the installation's")
            before = installation.tree(volume)
            assert machine.run(full, marker, folder=folder) == 1
            # Rolled back: the copies, the folders made for them, the journal.
            assert installation.tree(volume) == before
        elif case.startswith("temporary-disk-full") or case == "logs-unwritable":
            if case == "logs-unwritable":
                volume = Path(log_folder)
                run_logs = fallback_logs
            else:
                volume = machine.tmp_path / "small"
            stack.enter_context(small_volume(volume, size="1m"))
            machine.temp = volume / "temp"
            machine.temp.mkdir()
            fill(volume)
            installer = full
            if case == "temporary-disk-full-downloading":
                server.offer(downloads["current"])
                installer = files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                                   autoupdate_url=server.autoupdate_url)
            assert machine.run(installer, marker) == 1
            assert not folder.exists()
        else:
            volume = machine.tmp_path / "small"
            if case == "uninstall-from-read-only-volume":
                stack.enter_context(small_volume(volume, size="64m"))
                folder = volume / "Tarvo"
            assert machine.run(full, folder=folder) == 0
            version = folder / VERSIONS["current"]
            if case == "uninstall-from-read-only-volume":
                read_only(volume)
            else:
                stack.enter_context(unwritable(version))
            assert machine.run(version / "installer.exe", marker, "--uninstall",
                               "--enable-installer-stats=0") == 1
            assert (version / "tarvo.exe").exists()

        code, text = CAUSES[case](folder, machine.download_folder)
        front_end, log = run_logs.one(marker)
        if case == "logs-unwritable":
            # The log begun in the temporary folder stays empty; the one of
            # the same name that goes on says so first.
            begun = Path(log_folder) / front_end
            assert begun.stat().st_size == 0
            first = log.split("\n", 1)[0]
            assert re.fullmatch(rf"The log file .*\\{re.escape(front_end)} cannot be written "
                                r"\(.+\): the log goes on here\.", first), first
    assert f'The run failed with error {code}: "{text}"' in log, log[-3000:]
    if case.startswith("temporary") or case == "logs-unwritable":
        return
    # The backend's log names the folder too.
    backend_logs = run_logs.of(windows_path(folder))
    assert front_end in backend_logs
    for name, other in backend_logs.items():
        assert "Success. (0x0)" not in other, name
    if case == "disk-full":
        # Wine's wording of the error the backend's copy names.
        assert any("File copy failed Disk full. (0x70)" in other
                   for other in backend_logs.values())


@pytest.mark.parametrize("scope", ["--allusers=0", "--allusers=1"])
@pytest.mark.parametrize("length", [LONGEST_FOLDER_FOR_PACKAGE, LONGEST_FOLDER_FOR_PACKAGE + 1])
def test_longest_folder_installs_updates_and_uninstalls_cleanly_and_a_longer_is_refused(
        build_dir, pki, packages, downloads, machine, server, logs, private_folders, length,
        scope):
    desktop, quick_launch = shortcut_folders(build_dir)
    machine.folder = long_folder(machine, length)
    machine.use_version(VERSIONS["current"])
    full, online = installers_with_next_offered(build_dir, pki, packages, downloads,
                                                machine, server)
    before = update_uninstall.snapshot(build_dir, machine.tmp_path, desktop, quick_launch)
    marker = Logs.marker()

    names = []
    code = machine.run(full, marker, scope, names=names)

    if length > LONGEST_FOLDER_FOR_PACKAGE:
        # Refused before the run wrote anything: no folder, no journal.
        assert code == 1
        text = long_path_text(LONGEST_FOLDER_FOR_PACKAGE)
        assert f'The run failed with error 37072: "{text}"' in logs.one(marker)[1]
        assert not machine.folder.exists()
        assert update_uninstall.snapshot(build_dir, machine.tmp_path, desktop,
                                         quick_launch) == before
        return
    assert code == 0
    assert installed_tree(machine.folder) == package_tree(packages["current"][0],
                                                          VERSIONS["current"])
    assert machine.run(online, scope, names=names) == 0
    # No journal, nothing staged or set aside.
    assert_updated_tree(machine.folder, packages)
    # The same installer again puts the version in "<version>_0".
    assert machine.run(online, scope, names=names) == 0
    assert (machine.folder / (VERSIONS["next"] + "_0") / "installer.exe").is_file()
    listed = machine.private_folders(private_folders)
    copies = listed()
    uninstaller = machine.folder / (VERSIONS["next"] + "_0") / "installer.exe"
    # An all-users installation is uninstalled by an administrator.
    assert machine.run(uninstaller, "--uninstall", "--enable-installer-stats=0",
                       *([scope] if scope == "--allusers=1" else []), names=names) == 0
    update_uninstall.wait_for_cleanup(machine.folder, listed, copies)
    assert_names_fit(names, machine)
    after = update_uninstall.snapshot(build_dir, machine.tmp_path, desktop, quick_launch)
    # An all-users uninstallation leaves the user's last chosen folder in
    # HKCU, which is not this test's subject: its files and shortcuts are.
    compared = slice(0 if scope == "--allusers=0" else 1, None)
    assert after[compared] == before[compared]
