"""A real installation of a small demo package: the runner test tool is the
front end, and the package's own installer.exe (with the library) is the
backend that installs. The installed tree, the registry rows (computed here
from the installation table, as test_registry_entries does), the quick-launch
shortcut and the install log (read with xml.etree) are checked; a failure
made real at each step that can fail leaves the files and the registry as
they were (a failing install log cannot be made under Wine, which moves
even a folder aside to replace it: the unit tests inject that one). The
installation is for the current user, so every row lands
under HKEY_CURRENT_USER\\Software, which the test exports and cleans."""

import contextlib
import hashlib
import json
import os
import re
import shutil
import subprocess
import uuid
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pytest

import test_registry_entries as entries
from conftest import (INSTALLER, LIBRARY, is_standard_users_run, run_tool, small_volume,
                      windows_path)
from test_installer_runner import Process

RUNNER = "desktop/windows/installer/installer_runner_tool.exe"
LAUNCHER = "desktop/windows/installer/launcher_recorder.exe"
VERSION_FILE = Path(__file__).resolve().parents[2] / "VERSION"
HANG_GUARD = 300
SOFTWARE = "HKEY_CURRENT_USER\\Software"
SHORTCUT = "Tarvo developer.lnk"
FILES = {"tarvo.exe": b"browser", "resources\\a.pak": b"pak a", "resources\\b.pak": b"pak b"}
ROOT_FILES = {"root.dat": b"root"}


def run(build_dir, *args, **kwargs):
    command = [str(build_dir / "wine-run"), *map(str, args)]
    if any("installer.exe" in str(arg) for arg in args):
        return subprocess.run(command, capture_output=True, timeout=HANG_GUARD,
                              env=entries.UTF8_ENV, **kwargs)
    return run_tool(command, capture_output=True, timeout=HANG_GUARD, env=entries.UTF8_ENV,
                    **kwargs)


def linux_path(build_dir, path):
    return Path(run(build_dir, "winepath", "-u", path).stdout.decode().strip())


def make_package(build_dir, package, files=FILES, launcher=True):
    package.mkdir()
    for name in (INSTALLER, LIBRARY):
        shutil.copy(build_dir / name, package)
    if launcher:
        shutil.copy(build_dir / LAUNCHER, package / "launcher.exe")
    for name, data in {**files, **ROOT_FILES}.items():
        path = package / name.replace("\\", "/")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    (package / "files_list").write_bytes("".join(f + "\r\n" for f in files).encode())
    (package / "root_files_list").write_bytes(b"root.dat\r\n")
    (package / "installer_prefs_include.json").write_text('{"welcome-url": "https://w.example/"}')
    (package / "pref_default_overrides").write_text('{"homepage": "https://h.example/"}')
    (package / "installer_helper_64.exe").write_bytes(b"helper 64")
    (package / "installer_helper.exe").write_bytes(b"helper 32")


FRONT_END_LINE = re.compile(r"started [01]|On\w+( .*)?")
SWITCHES = {"allusers": 0, "desktopshortcut": 0, "startmenushortcut": 0,
            "quicklaunchshortcut": 1, "pintotaskbar": 0, "launchtarvo": 1}


def install(build_dir, package, folder, *flags, logs=None, standard_user=None, **switches):
    """Runs the front end until the backend's run ends; its observer lines.
    `switches` replace the settings' defaults above; `flags` are added. The
    front end's log and output go to `logs`, or else beside the package.
    `folder` is a Linux path, or a Windows one as a string; `standard_user`
    overrides whose token starts the run."""
    switches = {**SWITCHES, **switches}
    if logs is not None:
        flags += (f"--log={windows_path(logs / 'frontend.log')}",)
    name = windows_path(folder) if isinstance(folder, Path) else folder
    arguments = ["--frontend", f"--installfolder={name}",
                 f"--package-folder={windows_path(package)}", "--have-package",
                 *(f"--{name}={value}" for name, value in switches.items()), *flags]
    front = Process(build_dir, (logs or package.parent) / "frontend.stderr", *arguments,
                    standard_user=is_standard_users_run(arguments)
                    if standard_user is None else standard_user)
    try:
        lines = front.read_until("OnInstallerTerminated")
        front.say("exit")
        assert front.wait() == 0
        # Nothing the run started (the uninstallation's clean-up batch, the
        # launched browser) writes into the front end's output or keeps it open.
        rest = front.read_rest()
    finally:
        front.stop()
    assert [line for line in lines + rest if not FRONT_END_LINE.fullmatch(line)] == []
    return lines


def tree(root, skip=()):
    """{relative path: sha256} of every file below `root`."""
    found = {}
    if root.exists():
        for path in sorted(root.rglob("*")):
            relative = path.relative_to(root).as_posix()
            if path.is_file() and relative not in skip:
                found[relative] = hashlib.sha256(path.read_bytes()).hexdigest()
            elif path.is_dir():
                found[relative + "/"] = None
    return found


def registry(build_dir, tmp_path, keys):
    """The values of the rows' keys as HKCU\\Software holds them now."""
    exported = tmp_path / f"{uuid.uuid4().hex}.reg"
    result = run(build_dir, "reg", "export", SOFTWARE, windows_path(exported), "/y")
    assert result.returncode == 0, result.stderr
    values = entries.parse_reg(exported.read_bytes().decode("utf-16"), SOFTWARE)
    exported.unlink()
    return {key: value for key, value in values.items() if key in keys}


def user_key(row):
    # HKEY_CURRENT_USER\Software is shared by both views: no Wow6432Node.
    return entries.expand(row["key"])


def row_keys(rows):
    # Every row's key, relative to "Software", and the installer's own key.
    keys = {user_key(row).lower()[len("software\\"):] for row in rows}
    return keys | {"tarvo software"}


def remove_rows(build_dir, tmp_path, rows):
    """Takes what an installation writes off the registry again, in one
    import: keys of its own go whole, shared keys lose only its values."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    # The extension the product brings is its own, as is every key named
    # after the product.
    own_extensions = {user_key(row) for row in rows
                      if isinstance(row["data"], str) and row["data"].endswith(".Extension")}
    for row in rows:
        key = user_key(row)
        parts = key.split("\\")
        named = next((i for i, part in enumerate(parts) if "tarvo" in part.lower()), None)
        extension = next((e for e in own_extensions if key.startswith(e)), None)
        if extension:
            lines += [f"[-HKEY_CURRENT_USER\\{extension}]", ""]
        elif named is not None:
            own = "\\".join(parts[:named + 1])
            lines += [f"[-HKEY_CURRENT_USER\\{own}]", ""]
        elif row["kind"] >= 0:
            name = entries.expand(row["name"])
            value = "@" if not name else '"' + name.replace("\\", "\\\\") + '"'
            lines += [f"[HKEY_CURRENT_USER\\{key}]", f"{value}=-", ""]
    lines += ["[-HKEY_CURRENT_USER\\Software\\Tarvo Software]", ""]
    cleanup = tmp_path / f"{uuid.uuid4().hex}.reg"
    cleanup.write_bytes("\r\n".join(lines).encode("utf-16"))
    run(build_dir, "reg", "import", windows_path(cleanup))
    cleanup.unlink()


@pytest.fixture(scope="module")
def channel(build_dir, tmp_path_factory):
    """This build's release channel, as the registry table tool reports it."""
    placeholders = tmp_path_factory.mktemp("channel") / "placeholders.json"
    placeholders.write_text(json.dumps(entries.PLACEHOLDERS), encoding="utf-8")
    test_key = f"Software\\TarvoTest\\{uuid.uuid4()}"
    result = run(build_dir, build_dir / entries.TOOL, "--root=user", f"--redirect={test_key}",
                 f"--placeholders={windows_path(placeholders)}")
    run(build_dir, "reg", "delete", f"HKCU\\{test_key}", "/f")
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout.decode("utf-8"))["channel"]


@pytest.fixture
def demo(build_dir, tmp_path, monkeypatch):
    rows = entries.table_rows("installation")
    # The hiding row is off in this build's features.
    assert rows[-1]["name"] == "SystemComponent"
    rows = rows[:-1]
    quick_launch = linux_path(build_dir, run(
        build_dir, "cmd", "/c", "echo %APPDATA%").stdout.decode().strip()) / \
        "Microsoft/Internet Explorer/Quick Launch"
    # Each run of the module sees a clean start, whatever an earlier one left.
    (quick_launch / SHORTCUT).unlink(missing_ok=True)
    package, folder = tmp_path / "package", tmp_path / "Tarvo Demo"
    make_package(build_dir, package)
    version = run(build_dir, package / "installer.exe", "--version", input=b"").stdout.decode()
    uninstall = f"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo {version}"
    for name, value in {"InstallFolder": windows_path(folder), "Version": version,
                        "Uninstall": uninstall, "HelpURL": "", "CompanyURL": "",
                        "DownloadsURL": ""}.items():
        monkeypatch.setitem(entries.PLACEHOLDERS, name, value)
    remove_rows(build_dir, tmp_path, rows)
    yield {"rows": rows, "package": package, "folder": folder, "name": windows_path(folder),
           "quick_launch": quick_launch}
    (quick_launch / SHORTCUT).unlink(missing_ok=True)
    remove_rows(build_dir, tmp_path, rows)


def version_of(folder):
    subfolders = [p.name for p in folder.iterdir() if p.is_dir()]
    assert len(subfolders) == 1, subfolders
    return subfolders[0]


# A temporary package (the front end deletes it after the run) gives its
# files up to the installation; one the installer runs from stays whole.
# Started with an administrator's token, the run may be elevated: each file
# it moves takes the list of its new folder, as a copy would (what that list
# grants a standard user is shown by the move's own unit table: Wine reads
# a folder's list back as its Unix mode).
# With the package on another volume (a tmpfs) the files are copied, and
# the package stays whole.
@pytest.mark.parametrize("temporary, standard_user, other_volume", [
    (False, True, False), (True, True, False), (True, False, False), (True, False, True)],
    ids=["kept", "temporary", "temporary-administrator", "temporary-administrator-other-volume"])
def test_installation_puts_tree_registry_shortcut_and_log_in_place(build_dir, tmp_path, demo,
                                                                     channel, monkeypatch,
                                                                     temporary, standard_user,
                                                                     other_volume):
    if not standard_user:
        # An elevated run for one user takes a local folder only, and
        # starts no browser.
        local = run(build_dir, "cmd", "/c", "echo %LOCALAPPDATA%").stdout.decode().strip()
        name = f"{local}\\Tarvo Demo {uuid.uuid4().hex[:8]}"
        demo = {**demo, "name": name, "folder": linux_path(build_dir, name)}
        monkeypatch.setitem(entries.PLACEHOLDERS, "InstallFolder", name)
    try:
        with small_volume(tmp_path / "volume", "64m") if other_volume else contextlib.nullcontext():
            package = demo["package"]
            if other_volume:
                package = Path(shutil.copytree(package, tmp_path / "volume" / "package"))
            package_before = tree(package)
            lines = install(build_dir, package, demo["name"],
                            *(["--temporary-package"] if temporary else []),
                            standard_user=standard_user, launchtarvo=int(standard_user))
            check_installation(build_dir, tmp_path, demo, channel, package, package_before,
                               lines, temporary and not other_volume, launched=standard_user)
    finally:
        if not standard_user:
            shutil.rmtree(demo["folder"], ignore_errors=True)


def check_installation(build_dir, tmp_path, demo, channel, package, package_before, lines, moved,
                       launched):
    folder = demo["folder"]
    assert lines[-2:] == ["OnSuccess", "OnInstallerTerminated 1"], lines
    package_after = tree(package)
    given_up = {name.replace("\\", "/") for name in FILES} if moved else set()
    # A folder of given-up files alone goes whole, or stays empty.
    given_up |= {k for k in package_before if k.endswith("/") and given_up and all(
        f in given_up for f in package_before if f.startswith(k) and not f.endswith("/"))}
    assert {k: v for k, v in package_before.items() if k not in given_up} == {
        k: v for k, v in package_after.items() if k in package_before and k not in given_up}
    assert not {k for k in given_up if not k.endswith("/")} & set(package_after)

    version = version_of(folder)
    expected_tree = {
        "launcher.exe": hashlib.sha256((package / "launcher.exe").read_bytes()).hexdigest(),
        "root.dat": hashlib.sha256(b"root").hexdigest(),
        "pref_default_overrides": hashlib.sha256(
            (package / "pref_default_overrides").read_bytes()).hexdigest(),
        f"{version}/": None,
        f"{version}/resources/": None,
        f"{version}/installer_helper_64.exe": hashlib.sha256(b"helper 64").hexdigest(),
        **{f"{version}/{name.replace(chr(92), '/')}": hashlib.sha256(data).hexdigest()
           for name, data in FILES.items()},
    }
    installed = tree(folder)
    # Written by the run rather than copied: checked by content below.
    written = {"installer_prefs.json", "installation_status.xml",
               *(["launcher_started.txt"] if launched else [])}
    assert {k: v for k, v in installed.items() if k not in written} == expected_tree
    assert written <= set(installed)

    # The launcher ran once, maximised, from the installation.
    if launched:
        started = (folder / "launcher_started.txt").read_text(encoding="utf-8").splitlines()
        assert started == [f'"{demo["name"]}\\launcher.exe" --start-maximized']

    prefs = json.loads((folder / "installer_prefs.json").read_text(encoding="utf-8"))
    assert prefs["welcome-url"] == "https://w.example/"
    assert prefs["single_profile"] is False and prefs["autoupdate"] is False
    assert prefs["import_browser_data"] is True and prefs["enable_stats"] is True
    assert all(re.fullmatch(r"[\w-]+@[12]", e) for e in prefs["all-installer-experiments"])
    assert set(prefs["installer-experiments"]) <= set(prefs["all-installer-experiments"])

    # The registry rows, as Python expands the table for this installation.
    expected = {}
    record = entries.expected_effects(demo["rows"], "user", 7, channel, expected)
    expected = {key[len("software\\"):].replace("wow6432node\\", "", 1): values
                for key, values in expected.items()}
    keys = row_keys(demo["rows"])
    written_rows = registry(build_dir, tmp_path, keys)
    # Keys others write to as well: only the installation's values count.
    for key in set(written_rows) & set(expected):
        written_rows[key] = {n: v for n, v in written_rows[key].items() if n in expected[key]}
    assert written_rows == expected

    # The install log: what a later run reads back.
    log = ElementTree.parse(folder / "installation_status.xml").getroot()
    assert log.get("version") == version and log.get("all_users") == "False"
    path = log.find("path")
    assert (path.text, path.get("subfolder")) == (demo["name"], version)
    # The installed helper is logged with the files, so that it goes with them.
    assert [f.text for f in log.find("files")] == [*FILES, "installer_helper_64.exe"]
    shortcuts = {s.get("type"): s.text for s in log.iter("shortcut")}
    assert list(shortcuts) == ["SC_DEST_QUICK_LAUNCH"]
    assert shortcuts["SC_DEST_QUICK_LAUNCH"].endswith("\\Quick Launch\\" + SHORTCUT)
    assert (demo["quick_launch"] / SHORTCUT).is_file()
    hive = next(h for h in log.iter("registry") if h.get("hive") == "HKCU")
    logged = [{"path": k.get("path"), "clean": int(k.get("clean")),
               "values": [[v.get("type"), v.get("name"), v.text or ""] for v in k]}
              for k in hive]
    assert logged == [{"path": e["path"], "clean": e["clean"], "values": e["values"]}
                      for e in record]


def break_copy_files(package, folder):
    (package / "resources/b.pak").unlink()


def break_copy_root_files(package, folder):
    (package / "root.dat").unlink()


def break_launcher(package, folder):
    (package / "launcher.exe").unlink()


# From a temporary package the files moved before the failure go back.
@pytest.mark.parametrize("temporary", [False, True], ids=["kept", "temporary"])
@pytest.mark.parametrize("breaker, error", [
    (break_copy_files, "OnError 37062"),
    (break_copy_root_files, "OnError 37062"),
    (break_launcher, "OnError 37062"),
], ids=["files", "root-files", "launcher"])
def test_failure_at_a_step_leaves_files_and_registry_as_they_were(build_dir, tmp_path, demo,
                                                                  breaker, error, temporary):
    package, folder = demo["package"], demo["folder"]
    breaker(package, folder)
    keys = row_keys(demo["rows"])
    # The package keeps the master shortcut and the front end's log; the
    # quick-launch folder is the user's, other programs may use it.
    skip = {SHORTCUT, "frontend.log", "frontend.stderr"}
    skip = {"package/" + s for s in skip} | {"frontend.stderr"}
    before = (tree(tmp_path, skip=skip),
              registry(build_dir, tmp_path, keys), (demo["quick_launch"] / SHORTCUT).exists())
    lines = install(build_dir, package, folder,
                    *(["--temporary-package"] if temporary else []))
    assert any(line.startswith(error) for line in lines), lines
    assert lines[-1] == "OnInstallerTerminated 0"
    after = (tree(tmp_path, skip=skip),
             registry(build_dir, tmp_path, keys), (demo["quick_launch"] / SHORTCUT).exists())
    assert after == before
