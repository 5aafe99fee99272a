"""An installation, its update to the next patch release and its
uninstallation, each run for real: the runner test tool is the front end,
the package's installer.exe the backend. The update carries the shortcuts
over as its switches ask, replaces the uninstall entry, keeps the previous
install log aside; the uninstallation, started from the installed copy of
the installer, leaves the files and the registry exactly as they were
before the installation (the installer's copy it starts removes the folder
once the backend has ended, then has its own folder removed)."""

import shutil
import time
import uuid
import xml.etree.ElementTree as ElementTree

import pytest

from conftest import INSTALLER, LIBRARY, wait_until, windows_path
import test_installation as installation
import test_registry_entries as entries
from test_installation import demo  # noqa: F401  (the fixture)

NEXT_LIBRARY = "desktop/windows/installer/next/tarvo_installer.dll"
UNINSTALL_KEY = "Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
# The installed copy of the installer is what uninstalls.
FILES = {**installation.FILES, "installer.exe": None, "tarvo_installer.dll": None}


def make_package(build_dir, package, library):
    files = {name: data for name, data in FILES.items() if data is not None}
    installation.make_package(build_dir, package, files)
    # Each build of the library comes with the one installer.exe that runs it.
    for name in ("tarvo_installer.dll", "installer.exe"):
        shutil.copy((build_dir / library).with_name(name), package / name)
    (package / "files_list").write_bytes("".join(f + "\r\n" for f in FILES).encode())
    for name in (INSTALLER, LIBRARY):
        assert (package / name.rsplit("/", 1)[1]).is_file()


# What Wine's own libraries write the first time a process of a fresh prefix
# uses them (the downloader's proxy setting, the trust provider's state):
# none of it is the installer's.
WINE_FIRST_USE_KEYS = {"microsoft\\windows\\currentversion\\wintrust\\trust providers\\"
                       "software publishing"}
WINE_FIRST_USE_VALUES = {("microsoft\\windows\\currentversion\\internet settings",
                          "ProxyEnable")}


def snapshot(build_dir, tmp_path, desktop, quick_launch):
    """Every key and value of HKCU\\Software but Wine's own, and the files of
    the test folder and of the shortcut folders."""
    exported = tmp_path / f"{uuid.uuid4().hex}.reg"
    result = installation.run(build_dir, "reg", "export", installation.SOFTWARE,
                              windows_path(exported), "/y")
    assert result.returncode == 0, result.stderr
    values = entries.parse_reg(exported.read_bytes().decode("utf-16"), installation.SOFTWARE)
    exported.unlink()
    keep = {key: {name: data for name, data in value.items()
                  if (key, name) not in WINE_FIRST_USE_VALUES}
            for key, value in values.items()
            if not key.startswith("wine") and key not in WINE_FIRST_USE_KEYS}
    skip = {"frontend.stderr", "v1/frontend.log", "v2/frontend.log", "uninstall/frontend.log", "uninstall/frontend.stderr"}
    files = installation.tree(tmp_path, skip=skip)
    # The master shortcuts stay in the packages, which the user deletes.
    files = {k: v for k, v in files.items() if not k.endswith(".lnk")}
    shortcuts = sorted(p.name for folder in (desktop, quick_launch) if folder.exists()
                       for p in folder.glob("Tarvo*.lnk"))
    return keep, files, shortcuts


def wait_for_cleanup(folder, private_folders, before):
    """The uninstallation's copy of the installer deletes what was in use
    once the backend has ended, then the record of it and the emptied
    folder; then its own folder in the temporary folder goes."""
    wait_until(lambda: not folder.exists(), f"{folder} stays")
    wait_until(lambda: private_folders() <= before, "the installer's copy stays")


def remove_uninstall_entries(build_dir):
    """Every uninstall entry of the product, whatever an earlier run left."""
    parent = f"HKCU\\Software\\{UNINSTALL_KEY.rstrip(chr(92))}"
    listed = installation.run(build_dir, "reg", "query", parent).stdout.decode(errors="replace")
    for line in listed.splitlines():
        if "\\uninstall\\tarvo " in line.lower():
            installation.run(build_dir, "reg", "delete", line.strip(), "/f")


@pytest.fixture
def uninstall_entries(build_dir):
    remove_uninstall_entries(build_dir)
    yield
    remove_uninstall_entries(build_dir)


def test_update_then_uninstall_leaves_the_machine_as_it_was(build_dir, tmp_path, demo,
                                                            uninstall_entries, private_folders):
    folder, quick_launch = demo["folder"], demo["quick_launch"]
    desktop = installation.linux_path(build_dir, installation.run(
        build_dir, "cmd", "/c", "echo %USERPROFILE%").stdout.decode().strip()) / "Desktop"
    (desktop / installation.SHORTCUT).unlink(missing_ok=True)
    shutil.rmtree(demo["package"])
    first, second = tmp_path / "v1", tmp_path / "v2"
    make_package(build_dir, first, LIBRARY)
    make_package(build_dir, second, NEXT_LIBRARY)
    logs = tmp_path / "uninstall"
    logs.mkdir()
    before = snapshot(build_dir, tmp_path, desktop, quick_launch)

    lines = installation.install(build_dir, first, folder)
    assert lines[-1] == "OnInstallerTerminated 1", lines
    old_version = installation.version_of(folder)
    assert (quick_launch / installation.SHORTCUT).is_file()

    # The update: a desktop shortcut now, no quick-launch one.
    lines = installation.install(build_dir, second, folder, desktopshortcut=1,
                                 quicklaunchshortcut=0)
    assert lines[-1] == "OnInstallerTerminated 1", lines
    versions = sorted(p.name for p in folder.iterdir() if p.is_dir() and p.name[0].isdigit())
    new_version = versions[-1]
    assert new_version.rsplit(".", 1)[0] == old_version.rsplit(".", 1)[0] != new_version
    for name in FILES:
        assert (folder / new_version / name.replace("\\", "/")).is_file()
    assert (desktop / installation.SHORTCUT).is_file()
    assert not (quick_launch / installation.SHORTCUT).exists()
    kept = list((folder / "old_status").glob("installation_status.xml.*"))
    assert len(kept) == 1
    assert ElementTree.parse(kept[0]).getroot().get("version") == old_version
    log = ElementTree.parse(folder / "installation_status.xml").getroot()
    assert log.get("version") == new_version
    assert [s.get("type") for s in log.iter("shortcut")] == ["SC_DEST_DESKTOP"]
    uninstall_keys = [key for key in snapshot(build_dir, tmp_path, desktop, quick_launch)[0]
                      if key.startswith(UNINSTALL_KEY.lower() + "tarvo")]
    assert uninstall_keys == [(UNINSTALL_KEY + "Tarvo " + new_version).lower()]

    # What the demo browser wrote is not the installer's to remove.
    (folder / "launcher_started.txt").unlink()
    copies = private_folders()
    lines = installation.install(build_dir, folder / new_version, folder, "--uninstall",
                                 logs=logs)
    assert lines[-1] == "OnInstallerTerminated 1", lines
    wait_for_cleanup(folder, private_folders, copies)
    assert snapshot(build_dir, tmp_path, desktop, quick_launch) == before
