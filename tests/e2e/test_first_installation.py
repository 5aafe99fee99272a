"""The first installation on a machine, killed: a prefix of its own that
lacks what such a run has to make first (HKCU\\Software\\Classes and
\\Clients, the Uninstall keys, the StartMenuInternet key of all users, the
Quick Launch folder and the Internet Explorer folder above it), made so
again before every round. Per user and for all users, with every shortcut
and the pin, the signed full installer is ended hard by the backend's test
fault (TARVO_TEST_FAULT, action=kill) at the end of every step, inside the
copy and registry steps, while one of its temporary files lies in the
installation folder, and while rolling back a failure. Every line of
the journal each killed run leaves must be one the recovery takes (read by
the build's journal_scope_tool with the recovery's own scope): the steps
and the recovery's scope cannot drift apart unnoticed. The next run must
leave what a clean first installation leaves, and its uninstallation what
a clean one leaves. An update that makes the Quick Launch folder again
(its user removed it) and the uninstallation after it, each killed at
their last step, are held to the same. (The protocol handler's operation
changes one value of an installation without a transaction: it keeps no
journal to check.)"""

import re
import shutil
from pathlib import Path

import pytest

import test_installation as installation
import test_recovery as recovery
import test_rollback as rollback
from test_rollback import installers  # noqa: F401
from conftest import run_tool, windows_path

SCOPE_TOOL = "desktop/windows/installer/journal_scope_tool.exe"
SCOPES = {"peruser": False, "allusers": True}
# Every shortcut there is, and the pin (which Wine makes nothing of).
SHORTCUTS = {**rollback.SHORTCUTS, "pintotaskbar": 1}
UPDATE_SHORTCUTS = {**rollback.UPDATE_SHORTCUTS, "pintotaskbar": 1}
# The registry step's first operations make the parents of the product's
# keys: killed there in both scopes. Of test_recovery's other kills inside
# the steps and while rolling back, each scope takes every other one, which
# keeps the group's time in bounds; every step's end is killed in both.
FIRST_ROWS = [f"step=set up the registry;operation={number};action=kill" for number in (1, 2)]

# What a fresh prefix lacks and a first run makes, in either scope: its
# set-up removes them before every round (the group's prefix outlives a run
# of the tests), and checks that they are gone.
PARENT_KEYS = [
    "HKEY_CURRENT_USER\\Software\\Classes",
    "HKEY_CURRENT_USER\\Software\\Clients",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags",
    "HKEY_CURRENT_USER\\Software\\RegisteredApplications",
    "HKEY_LOCAL_MACHINE\\Software\\Clients\\StartMenuInternet",
    "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags",
    "HKEY_LOCAL_MACHINE\\Software\\RegisteredApplications",
]
ROOTS = ("HKEY_CURRENT_USER\\Software", "HKEY_LOCAL_MACHINE\\Software")


def install_faults(build_dir, scope):
    steps = rollback.step_lists(build_dir)["install"]
    faults = recovery.faults("install", steps)
    inside = [fault for fault in faults[len(steps):] if fault not in FIRST_ROWS]
    return faults[:len(steps)] + FIRST_ROWS + inside[list(SCOPES).index(scope)::len(SCOPES)]


def pytest_generate_tests(metafunc):
    # The rounds follow the steps, known only once the build's tool has run.
    if "fault" not in metafunc.fixturenames:
        return
    build_dir = Path(metafunc.config.getoption("--build-dir")).resolve()
    cases = [(scope, fault) for scope in SCOPES for fault in install_faults(build_dir, scope)]
    metafunc.parametrize("scope,fault", cases,
                         ids=[f"{scope}-{re.sub(r'[^a-z0-9]+', '_', fault)}"
                              for scope, fault in cases])


class FreshMachine:
    """A rollback.Machine of one scope, put back before each round to the
    state of a machine no installation ever ran on."""

    def __init__(self, build_dir, installers, tmp_path, all_users):
        self.installers = installers
        self.machine = rollback.Machine(build_dir, tmp_path, all_users=all_users)
        quick_launch = self.machine.shortcut_folders[2]
        self.explorer_folder = quick_launch.parent
        self.removals = tmp_path / "removals.reg"
        self.last_state = None
        self.remove_keys(PARENT_KEYS)
        self.fresh = self.state()
        for key in PARENT_KEYS:
            root, _, below = key.partition("\\Software\\")
            assert below.lower() not in self.fresh[f"{root}\\Software"], key
        self.clean = {}
        assert self.run("install") == 0
        self.clean["install"] = self.state()
        assert self.run("uninstall") == 0
        self.clean["uninstall"] = self.state()

    def state(self):
        found = recovery.comparable_state(self.machine)
        # The shell folders a first run makes, with all they hold.
        found["explorer"] = {path: None for path in installation.tree(self.explorer_folder)}
        found["explorer"]["(exists)"] = self.explorer_folder.exists()
        self.last_state = found
        return found

    def remove_keys(self, keys):
        """Deletes the keys (with all below them) in one run of reg."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        lines += [f"[-{key}]\r\n" for key in keys]
        self.removals.write_bytes("\r\n".join(lines).encode("utf-16"))
        result = rollback.run(self.machine.build_dir, "reg", "import",
                              windows_path(self.removals))
        assert result.returncode == 0, result

    def reset(self):
        """Back to the fresh machine: the keys the fresh one lacks go, read
        from the state the last round ended with (a snapshot of all of
        HKLM\\Software takes seconds), and the round's files."""
        now = self.last_state or self.state()
        self.machine.clear()
        shutil.rmtree(self.explorer_folder, ignore_errors=True)
        shutil.rmtree(self.machine.temp)
        self.machine.temp.mkdir()
        added = []
        for root in ROOTS:
            tops = []
            for key in sorted(set(now[root]) - set(self.fresh[root]), key=len):
                if not any(key.startswith(top + "\\") for top in tops):
                    tops.append(key)
            added += [f"{root}\\{key}" for key in tops]
        if added:
            self.remove_keys(added)
        self.last_state = None
        # The premise of every round: what the first run must make is not
        # there, and nothing of an earlier round is.
        build_dir = self.machine.build_dir
        user = rollback.exported(build_dir, self.machine.tmp_path, ROOTS[0])
        assert rollback.differences({"user": self.fresh[ROOTS[0]]}, {"user": user}) == {}
        for key in PARENT_KEYS:
            if key.startswith(ROOTS[1]):
                assert rollback.run(build_dir, "reg", "query", key).returncode != 0, key
        assert not self.machine.folder.exists()

    def run(self, operation, fault=None, switches=None):
        self.last_state = None
        if operation == "install":
            return self.machine.run(self.installers["current"], switches or SHORTCUTS,
                                    fault=fault)
        if operation == "update":
            return self.machine.run(self.installers["next"], switches or UPDATE_SHORTCUTS,
                                    fault=fault)
        versions = [path for path in self.machine.folder.iterdir()
                    if re.fullmatch(r"[0-9]+(\.[0-9]+){3}(_[0-9]+)?", path.name)]
        newest = max(versions, key=lambda path: [int(part) for part in
                                                 re.split(r"[._]", path.name)])
        return self.machine.run(newest / "installer.exe", switches or SHORTCUTS,
                                "--uninstall", fault=fault)

    def refused_lines(self):
        """Each line of the journals the killed run left that the
        recovery's scope refuses, as text; and how many journals there were."""
        refused = []
        journals = sorted(self.machine.folder.glob("installer_run_*.journal"))
        for journal in journals:
            result = run_tool([str(self.machine.build_dir / "wine-run"),
                               str(self.machine.build_dir / SCOPE_TOOL),
                               windows_path(self.machine.folder), windows_path(journal)],
                              capture_output=True, timeout=rollback.HANG_GUARD)
            lines = journal.read_bytes().decode(errors="replace").split("\n")
            for word in result.stdout.decode().split():
                if word.isdigit():
                    refused.append(readable(lines[int(word) - 1]))
            if result.returncode not in (0, 1):
                refused.append(f"{journal.name}: {result}")
        return refused, len(journals)

    def remove_quick_launch(self):
        """What a user does who removes the Quick Launch shortcut and the
        folders Windows keeps it in."""
        shutil.rmtree(self.explorer_folder)


def readable(line):
    """A journal line with its hex-encoded key and value names decoded."""
    fields = line.split("\t")
    if fields[0] in ("key", "deletedkey", "value") and len(fields) > 3:
        try:
            fields[3] = bytes.fromhex(fields[3]).decode()
        except ValueError:
            pass
    return "\t".join(fields)


class FreshMachines:
    """One FreshMachine per scope, made when a test first needs it."""

    def __init__(self, build_dir, installers, tmp_path_factory):
        self.build_dir = build_dir
        self.installers = installers
        self.tmp_path_factory = tmp_path_factory
        self.made = {}

    def get(self, scope):
        if scope not in self.made:
            self.made[scope] = FreshMachine(self.build_dir, self.installers,
                                            self.tmp_path_factory.mktemp(f"first_{scope}"),
                                            SCOPES[scope])
        return self.made[scope]


@pytest.fixture(scope="module")
def fresh_machines(build_dir, installers, tmp_path_factory):
    made = FreshMachines(build_dir, installers, tmp_path_factory)
    yield made
    for machine in made.made.values():
        machine.machine.clear()


def test_a_killed_first_installation_is_recovered_by_the_next_run(fresh_machines, scope, fault):
    made = fresh_machines.get(scope)
    made.reset()

    assert made.run("install", fault) != 0
    refused, journals = made.refused_lines()
    assert refused == [], "\n".join(refused)
    assert journals == 1
    assert made.run("install") == 0
    found = rollback.differences(made.clean["install"], made.state())
    assert found == {}, found
    assert made.run("uninstall") == 0
    found = rollback.differences(made.clean["uninstall"], made.state())
    assert found == {}, found


@pytest.mark.parametrize("scope", list(SCOPES))
def test_killed_update_and_uninstallation_journal_only_what_their_recovery_takes(
        fresh_machines, build_dir, scope):
    made = fresh_machines.get(scope)
    steps = rollback.step_lists(build_dir)
    clean = {}
    for fault in (False, True):
        made.reset()
        assert made.run("install") == 0
        made.remove_quick_launch()
        for operation in ("update", "uninstall"):
            if fault:
                last = len(steps[operation]) - 1
                assert made.run(operation, f"step={last};action=kill") != 0, operation
                refused, journals = made.refused_lines()
                assert (refused, journals) == ([], 1), operation
            assert made.run(operation) == 0, (operation, fault)
            if not fault:
                clean[operation] = made.state()
                continue
            found = rollback.differences(clean[operation], made.state())
            assert found == {}, (operation, found)
