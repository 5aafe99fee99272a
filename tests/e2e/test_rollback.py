"""Rollback of real installations, at every step: the signed full installer
installs, updates to the next patch release and uninstalls silently, each
run once per step of its operation with a failure injected at the end of
that step (TARVO_TEST_FAULT, read by the test hooks of the library built
for tests: the build's installer files with them in). The real
step bodies run up to that point; the failed run must exit with the failure
code and leave every file of the folders it touches, and every key and
value of HKCU\\Software and HKLM\\Software, exactly as they were before it.
The steps come from the step machine's own table, printed by a tool of the
build, so a new step is covered without editing this file."""

import json
import os
import re
import shutil
import subprocess
import time
import uuid
from pathlib import Path

import pytest

import installer_files as files
import test_installation as installation
from conftest import run_tool, tree_runner_as, windows_path

STEP_LIST_TOOL = "desktop/windows/installer/step_list_tool.exe"
TREE_RUNNER = "desktop/windows/installer/process_tree_runner.exe"
HANG_GUARD = 600
FAILED = 1
KILL_CODE = 0x5EED
SHORTCUTS = {"desktopshortcut": 1, "startmenushortcut": 1, "quicklaunchshortcut": 1}
# The update drops the desktop shortcut, so that its step removes one.
UPDATE_SHORTCUTS = {**SHORTCUTS, "desktopshortcut": 0}
UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
# Written in the 32-bit view, which HKLM keeps apart.
ALL_USERS_UNINSTALL_KEY = "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
# Keys whose values Wine itself writes as programs start, whatever the
# installer does: its own settings, the shell's per-session bookkeeping,
# the user agent and cache settings that its WinINet stores when first
# loaded (the full installer loads it for its update check), and the
# certificate stores and trust provider settings its crypt32 and wintrust
# make when a prefix first checks a signature (the signed installer checks
# its library's), which Windows has from the start.
WINE_VOLATILE = re.compile(r"^(wine(\\|$)|(wow6432node\\)?microsoft\\systemcertificates(\\|$)|"
                           r"microsoft\\windows\\currentversion\\wintrust(\\|$)|"
                           r"microsoft\\windows\\currentversion\\(explorer\\"
                           r"(sessioninfo|streammru|streams)|internet settings)(\\|$))",
                           re.IGNORECASE)


def step_lists(build_dir):
    """{operation: [step name, ...]} as the step machine runs them, printed
    by the tool from the machine's own table."""
    result = run_tool([str(build_dir / "wine-run"), str(build_dir / STEP_LIST_TOOL)],
                      capture_output=True, timeout=HANG_GUARD, check=True)
    return json.loads(result.stdout)


def pytest_generate_tests(metafunc):
    # The cases are the steps, known only once the build's tool has run.
    if "name" not in metafunc.fixturenames:
        return
    build_dir = Path(metafunc.config.getoption("--build-dir")).resolve()
    lists = step_lists(build_dir)
    cases = [(operation, index, name) for operation in ("install", "update", "uninstall")
             for index, name in enumerate(lists[operation])]
    metafunc.parametrize("operation,index,name", cases,
                         ids=[f"{o}-{i}-{n.replace(' ', '_')}" for o, i, n in cases])


def run(build_dir, *args):
    return subprocess.run([str(build_dir / "wine-run"), *map(str, args)], capture_output=True,
                          timeout=HANG_GUARD)


def folder_of(build_dir, variable):
    text = run(build_dir, "cmd", "/c", f"echo %{variable}%").stdout.decode().strip()
    return installation.linux_path(build_dir, text)


def exported(build_dir, tmp_path, root):
    """{key: {value line, ...}} of `root` as `reg export` writes it, keys
    lower-cased, empty keys kept (a key left behind is a difference)."""
    target = tmp_path / f"{uuid.uuid4().hex}.reg"
    # Under load Wine now and then fails to start reg.exe ("ShellExecuteEx
    # failed"), or reg gives up on a key that one of Wine's own services
    # changes while it enumerates: exit code 1 without a word. Neither says
    # anything about the installation, so the snapshot is taken again.
    for _ in range(3):
        result = run(build_dir, "reg", "export", root, windows_path(target), "/y")
        if result.returncode == 0:
            break
        time.sleep(1)
    assert result.returncode == 0, (result.stdout, result.stderr)
    text = re.sub(r"\\\r?\n\s*", "", target.read_bytes().decode("utf-16"))
    target.unlink()
    keys, values = {}, None
    for line in text.splitlines():
        header = re.fullmatch(r"\[(.*)\]", line)
        if header:
            key = header[1][len(root) + 1:].lower()
            values = None if WINE_VOLATILE.match(key) else keys.setdefault(key, set())
        elif values is not None and line:
            values.add(line)
    return keys


def remove_uninstall_entries(build_dir, key=UNINSTALL_KEY):
    listed = run(build_dir, "reg", "query", key).stdout.decode(errors="replace")
    for line in listed.splitlines():
        if "\\uninstall\\tarvo " in line.lower():
            run(build_dir, "reg", "delete", line.strip(), "/f")


class Machine:
    """The folders an installation of a test touches, and the registry."""

    def __init__(self, build_dir, tmp_path, all_users=False):
        self.build_dir = build_dir
        self.tmp_path = tmp_path
        self.all_users = all_users
        self.folder = tmp_path / "Tarvo Rollback"
        self.temp = tmp_path / "temp"
        self.temp.mkdir()
        appdata = folder_of(build_dir, "APPDATA")
        self.shortcut_folders = [
            folder_of(build_dir, "USERPROFILE") / "Desktop",
            appdata / "Microsoft/Windows/Start Menu/Programs",
            appdata / "Microsoft/Internet Explorer/Quick Launch"]
        if all_users:
            self.shortcut_folders += [
                folder_of(build_dir, "PUBLIC") / "Desktop",
                folder_of(build_dir, "ProgramData") / "Microsoft/Windows/Start Menu/Programs"]

    def command(self, installer, switches, *extra, fault=None, administrator=False):
        """The silent run under the process tree runner, and its environment:
        for one user as a standard user starts it, unless `administrator`
        (as "Run as administrator" starts it)."""
        env = {name: value for name, value in os.environ.items() if name != "TARVO_TEST_FAULT"}
        if fault:
            env["TARVO_TEST_FAULT"] = fault
        options = {"allusers": int(self.all_users), "pintotaskbar": 0, "launchtarvo": 0,
                   "enable-installer-stats": 0, **switches}
        arguments = ["--silent", *(f"--{name}={value}" for name, value in options.items()),
                     f"--installfolder={windows_path(self.folder)}",
                     f"--temp-folder={windows_path(self.temp)}", *extra]
        runner_switches = [] if administrator else tree_runner_as(arguments)
        command = [str(self.build_dir / "wine-run"), str(self.build_dir / TREE_RUNNER),
                   *runner_switches, windows_path(installer), *arguments]
        return command, env

    def run(self, installer, switches, *extra, fault=None, administrator=False):
        """The silent run's exit code once every process it started ended."""
        command, env = self.command(installer, switches, *extra, fault=fault,
                                    administrator=administrator)
        # The runner always ends with its "exit" line: without a word, Wine
        # failed to start it, and it is started again.
        result = run_tool(command, capture_output=True, timeout=HANG_GUARD, env=env)
        words = result.stdout.decode(errors="replace").split()
        assert len(words) >= 2 and words[-2] == "exit", \
            (result.returncode, result.stdout[-500:], result.stderr[-1500:])
        return int(words[-1])

    def state(self):
        """Every file (with its hash) and folder of the installation and
        temporary folders; the product's entries of the shortcut folders,
        which the prefix's other users share; both Software hives."""
        trees = {"folder": installation.tree(self.folder),
                 "temp": installation.tree(self.temp)}
        for folder in self.shortcut_folders:
            trees[folder.name] = {path: digest for path, digest in
                                  installation.tree(folder).items()
                                  if path.lower().startswith("tarvo")}
        for root in ("HKEY_CURRENT_USER\\Software", "HKEY_LOCAL_MACHINE\\Software"):
            trees[root] = exported(self.build_dir, self.tmp_path, root)
        return trees

    def clear(self):
        for folder in self.shortcut_folders:
            for path in folder.glob("Tarvo*.lnk"):
                path.unlink()
        shutil.rmtree(self.folder, ignore_errors=True)
        remove_uninstall_entries(self.build_dir)
        if self.all_users:
            remove_uninstall_entries(self.build_dir, ALL_USERS_UNINSTALL_KEY)


def differences(before, after):
    """What changed, readable in a failed assertion."""
    found = {}
    for part in before:
        old, new = before[part], after[part]
        changed = {key: (old.get(key), new.get(key)) for key in old.keys() | new.keys()
                   if old.get(key) != new.get(key)}
        if changed:
            found[part] = changed
    return found


@pytest.fixture(scope="module")
def installers(build_dir, tmp_path_factory):
    """The build's signed full installer and one of the next patch release,
    both with the test hooks in."""
    folder = tmp_path_factory.mktemp("rollback_next")
    keys = files.BuildKeys(build_dir)
    package = files.make_package(build_dir, folder / "package", "next", hooks=True, pki=keys)
    archive = files.pack(package, folder / "package.7z", level=1)
    return {"current": build_dir / "installer_files_testing/full/installer.exe",
            "next": files.full_installer(build_dir, folder / "full", keys, archive,
                                         library="next", hooks=True)}


class Operations:
    """One machine per operation, in the state the operation starts from:
    made once, as every failed run must leave it so."""

    def __init__(self, build_dir, installers, tmp_path_factory):
        self.build_dir = build_dir
        self.installers = installers
        self.tmp_path_factory = tmp_path_factory
        self.machines = {}

    def machine(self, operation):
        if operation not in self.machines:
            made = Machine(self.build_dir, self.tmp_path_factory.mktemp(f"rollback_{operation}"))
            made.clear()
            if operation != "install":
                assert made.run(self.installers["current"], SHORTCUTS) == 0
            self.machines[operation] = made
        return self.machines[operation]

    def start(self, operation, fault):
        made = self.machine(operation)
        if operation == "install":
            return made.run(self.installers["current"], SHORTCUTS, fault=fault)
        if operation == "update":
            return made.run(self.installers["next"], UPDATE_SHORTCUTS, fault=fault)
        version = installation.version_of(made.folder)
        return made.run(made.folder / version / "installer.exe", SHORTCUTS, "--uninstall",
                        fault=fault)


@pytest.fixture(scope="module")
def operations(build_dir, installers, tmp_path_factory):
    made = Operations(build_dir, installers, tmp_path_factory)
    yield made
    for machine in made.machines.values():
        machine.clear()


def test_the_table_covers_every_step(build_dir):
    # The proof below is only as good as its table.
    assert {operation: len(names) for operation, names in step_lists(build_dir).items()} == {
        "install": 8, "update": 12, "uninstall": 6}


def test_failure_at_the_end_of_a_step_rolls_back_everything(operations, operation, index,
                                                           name):
    machine = operations.machine(operation)
    before = machine.state()

    assert operations.start(operation, f"step={index};action=fail") == FAILED

    assert differences(before, machine.state()) == {}


def test_kill_ends_the_backend_at_the_chosen_operation(operations):
    # Ended hard in the registry step, right after its first operation:
    # nothing is rolled back, so what was done before stays, and nothing
    # after it was done. Recovering from it is not this test's: the module
    # clears the machines at its end.
    machine = operations.machine("install")
    before = machine.state()

    code = operations.start("install", "step=set up the registry;operation=1;action=kill;"
                                       f"code={KILL_CODE}")

    assert code != 0
    after = machine.state()
    assert any(path.endswith("/tarvo.exe") for path in after["folder"]), after["folder"]
    assert not (machine.folder / "installation_status.xml").exists()
    assert "installer_prefs.json" not in after["folder"]
