"""Recovery from runs that died: the signed full installer installs, updates
to the next patch release and uninstalls silently, each run first ended
hard by the backend's test fault (TARVO_TEST_FAULT, action=kill) at the end
of a step or after one of its operations, while one of its temporary files
lies in the installation folder, or while it rolls back a failure (for all
users too, killed also once a package file is moved into the folder before
it takes the folder's access list), then run
again without it. The
run again must succeed and leave every file of the folders the product
touches (installation, temporary folder, shortcut folders) and every key
and value of HKCU\\Software and HKLM\\Software exactly as a clean run of
the same operation leaves them; after the uninstallation, as they were
before the installation. One machine goes round install, update and
uninstall, so that each round starts where the last one ended. The last
tests end the whole process tree from outside instead (front end, backend
and all they started), once per operation, while the backend is held at a
step (action=hang); and a package left in the temporary folder by a run
that died goes with the next run of any operation, a live run's stays. An
update killed once it replaced the launcher, whose new launcher another
program then holds, is undone only once the file is free: until then each
run fails naming the file, and the original stays set aside; a recovery
of it that is itself ended hard (TARVO_TEST_FAULT, at=recovery-line) after
some of the journal's lines is finished by the next run. An update ended
while the store's write of the preferences had its temporary file beside
their staged copy leaves nothing once the next run is done; what runs of
earlier builds left with no journal to name it goes with the
uninstallation. For every user, each operation's process tree ended from
outside leaves its private folders below the system's temporary folder,
which the next run removes, while folders a user planted there under such
names are left whole, with what a link in one leads to. The installer's
copy that an uninstallation leaves to remove what was in use, ended hard
at its start or once it has deleted something (per user and for all
users), leaves its record and its folder, which the next run takes: the
uninstaller left in the folder run again, or an installation. The copy's
folder goes whatever characters the temporary folder's path holds."""

import contextlib
import hashlib
import itertools
import json
import os
import re
import shutil
import subprocess
import time
import uuid
from pathlib import Path

import pytest

import test_rollback as rollback
import test_installation as installation
from test_rollback import installers  # noqa: F401
from conftest import Logs, run_tool, windows_path
from test_user_starts import SYSTEM_TEMP, linux_path

SETTINGS_PROBE = "desktop/windows/installer/settings_probe.exe"

# A few operations inside the steps that do the most at once: the copy of
# the version folder and the registry.
OPERATIONS = {
    "install": [("copy the package files", 3), ("set up the registry", 2)],
    "update": [("set up the registry", 3)],
    "uninstall": [("clean up after the uninstallation", 2)],
}

# The temporary files the backend makes in the installation folder, counted
# from 1: the preferences' staged copy, the temporary file of the store's
# write of it (only where the preferences change: an update with the
# installation's own settings writes none) and the install log's staged
# copy, written straight. Killed while a write's temporary file is there,
# and while a staged copy is.
TEMPORARY_FILES = {"install": [2, 3], "update": [1, 2], "uninstall": []}


# A failed run whose rollback is cut short: its last step fails and the
# backend ends once this many operations are undone.
ROLLBACK_KILLS = {"install": 40, "update": 40, "uninstall": 5}


def faults(operation, steps):
    plans = [f"step={index};action=kill" for index in range(len(steps))]
    plans += [f"step={step};operation={number};action=kill"
              for step, number in OPERATIONS[operation]]
    plans += [f"at=temporary-file;operation={number};action=kill"
              for number in TEMPORARY_FILES[operation]]
    plans.append(f"step={len(steps) - 1};action=fail;rollback={ROLLBACK_KILLS[operation]}")
    return plans


ORDER = ("install", "update", "uninstall")
STATUS_FILE = r"(old_status/)?installation_status\.xml(\.[0-9]+)?"


def comparable_state(machine):
    """The machine's state less what differs between two clean runs: a
    shortcut holds its target's times, an install log its random id."""
    found = machine.state()
    for part, files in found.items():
        for path in files:
            if path.lower().endswith(".lnk"):
                files[path] = "shortcut"
    folder = found["folder"]
    # Kept install logs are named by the time they were set aside.
    for path in [path for path in folder if re.fullmatch(STATUS_FILE, path)]:
        text = re.sub(rb' app_id="[0-9]+"', b"", (machine.folder / path).read_bytes())
        del folder[path]
        folder[re.sub(r"\.[0-9]+$", ".N", path)] = hashlib.sha256(text).hexdigest()
    return found


def rounds(step_lists):
    return list(itertools.zip_longest(*(faults(operation, step_lists[operation])
                                        for operation in ORDER)))


def pytest_generate_tests(metafunc):
    # The rounds follow the steps, known only once the build's tool has run.
    if "plans" not in metafunc.fixturenames:
        return
    build_dir = Path(metafunc.config.getoption("--build-dir")).resolve()
    found = rounds(rollback.step_lists(build_dir))
    metafunc.parametrize("plans", found, ids=[f"round{number}" for number in range(len(found))])


class Round:
    """The machine going round, and what clean runs leave at each stop."""

    def __init__(self, build_dir, installers, tmp_path_factory):
        self.installers = installers
        self.machine = rollback.Machine(build_dir, tmp_path_factory.mktemp("recovery"))
        self.machine.clear()
        self.clean = {"uninstall": self.state()}
        for operation in ORDER:
            assert self.start(operation) == 0
            self.clean[operation] = self.state()

    def state(self):
        return comparable_state(self.machine)

    def arguments(self, operation):
        """The installer, switches and extra arguments of `operation`."""
        if operation == "install":
            return self.installers["current"], rollback.SHORTCUTS, ()
        if operation == "update":
            return self.installers["next"], rollback.UPDATE_SHORTCUTS, ()
        # A clean update keeps the previous version's folder until the next
        # update or the uninstallation: the newest one uninstalls.
        versions = [path for path in self.machine.folder.iterdir()
                    if re.fullmatch(r"[0-9]+(\.[0-9]+){3}(_[0-9]+)?", path.name)]
        newest = max(versions, key=lambda path: [int(part) for part in
                                                 re.split(r"[._]", path.name)])
        return newest / "installer.exe", rollback.SHORTCUTS, ("--uninstall",)

    def start(self, operation, fault=None):
        installer, switches, extra = self.arguments(operation)
        return self.machine.run(installer, switches, *extra, fault=fault)

    def start_and_end_tree(self, operation, step):
        """Runs `operation` until the backend reaches the end of `step`,
        where the test fault holds it, then ends the whole process tree from
        outside: ending the runner ends its job, and every process in it."""
        marker = self.machine.tmp_path / f"hung-{operation}"
        installer, switches, extra = self.arguments(operation)
        command, env = self.machine.command(
            installer, switches, *extra,
            fault=f"step={step};action=hang;marker={windows_path(marker)}")
        runner = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + rollback.HANG_GUARD
            while not marker.exists():
                assert runner.poll() is None, "the run ended before the step"
                assert time.monotonic() < deadline, "the backend never reached the step"
                time.sleep(0.1)
        finally:
            runner.kill()
            runner.wait(timeout=rollback.HANG_GUARD)
        marker.unlink()

    def reset(self):
        """Back to the state a round starts from, after a failed one."""
        if rollback.differences(self.clean["uninstall"], self.state()):
            self.machine.clear()


@pytest.fixture(scope="module")
def machine_round(build_dir, installers, tmp_path_factory):
    made = Round(build_dir, installers, tmp_path_factory)
    yield made
    made.machine.clear()


def test_the_run_after_a_killed_one_leaves_what_a_clean_run_leaves(machine_round, plans):
    machine_round.reset()
    for operation, fault in zip(ORDER, plans):
        if fault:
            assert machine_round.start(operation, fault) != 0, (operation, fault)
        assert machine_round.start(operation) == 0, (operation, fault)
        if not fault:
            continue
        found = rollback.differences(machine_round.clean[operation], machine_round.state())
        assert found == {}, (operation, fault, found)


# One step of each operation, in the middle of its work.
TREE_STEPS = {"install": "set up the registry", "update": "copy the root files",
              "uninstall": "remove the installed files"}


def test_the_run_after_an_ended_process_tree_leaves_what_a_clean_run_leaves(machine_round):
    machine_round.reset()
    for operation in ORDER:
        machine_round.start_and_end_tree(operation, TREE_STEPS[operation])
        assert machine_round.start(operation) == 0, operation
        found = rollback.differences(machine_round.clean[operation], machine_round.state())
        assert found == {}, (operation, found)


def test_an_update_ended_before_its_backend_took_the_package_leaves_no_package(machine_round):
    """The package is unpacked in the temporary folder and the backend has
    not moved it into the installation yet: the rerun removes it."""
    machine_round.reset()
    assert machine_round.start("install") == 0
    first_step = rollback.step_lists(machine_round.machine.build_dir)["update"][0]
    machine_round.start_and_end_tree("update", first_step)
    packages = machine_round.machine.temp / "Tarvo Installer"
    assert [path.name for path in packages.iterdir() if path.is_dir()], "no package to remove"
    assert machine_round.start("update") == 0
    found = rollback.differences(machine_round.clean["update"], machine_round.state())
    assert found == {}, found
    assert machine_round.start("uninstall") == 0


WRITES_TEMPORARY = r"installer_prefs\.json\.[0-9a-f]{8}\.tmp(\.[0-9a-f]{8}\.tmp)?"


def test_an_update_ended_while_writing_the_preferences_leaves_nothing(machine_round):
    """As an update ended at a random moment once did: the store's write of
    the preferences' staged copy has made its temporary file. Both files,
    each named in the journal before it was made, go with the next run."""
    machine_round.reset()
    assert machine_round.start("install") == 0
    folder = machine_round.machine.folder
    # Preferences the update changes, so that the store writes them.
    prefs = folder / "installer_prefs.json"
    prefs.write_text(json.dumps({**json.loads(prefs.read_text()), "autoupdate": True}))
    assert machine_round.start("update", "at=temporary-file;operation=2;action=kill") != 0
    left = sorted(path.name for path in folder.iterdir()
                  if re.fullmatch(WRITES_TEMPORARY, path.name))
    assert len(left) == 2, left
    journals = list(folder.glob("installer_run_*.journal"))
    assert len(journals) == 1, journals
    lines = journals[0].read_text(encoding="utf-8").splitlines()
    for name in left:
        assert any(line.startswith("temporary\t") and line.endswith("\\" + name)
                   for line in lines), (name, lines)
    update_and_uninstall_end_as_clean_runs(machine_round)


# What runs of earlier builds, ended while writing, left in the
# installation folder with no journal naming it: preferences staged under
# the system's temporary names, the temporary files of their writes, Wine's
# scratch of a replaced file, and the preferences set aside as unparsable.
EARLIER_LEFTOVERS = ("648e.tmp", "648e.tmp.89f5fbf9.tmp", "a1.tmp.0badf00d.tmp",
                     "rf3c1.tmp", "installer_prefs.bad")


def test_an_uninstallation_takes_what_ended_runs_of_earlier_builds_left(machine_round):
    machine_round.reset()
    assert machine_round.start("install") == 0
    for name in EARLIER_LEFTOVERS:
        (machine_round.machine.folder / name).write_bytes(b"left")
    assert machine_round.start("uninstall") == 0
    found = rollback.differences(machine_round.clean["uninstall"], machine_round.state())
    assert found == {}, found


def windows_process_id(runner):
    """The id of the program the process tree runner started."""
    words = runner.stdout.readline().decode().split()
    assert len(words) == 2 and words[0] == "pid", words
    return int(words[1])


def ended_process_id(build_dir):
    runner = subprocess.Popen([str(build_dir / "wine-run"), str(build_dir / rollback.TREE_RUNNER),
                               "cmd", "/c", "exit", "0"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    pid = windows_process_id(runner)
    runner.communicate(timeout=rollback.HANG_GUARD)
    return pid


class LiveProcess:
    """A Windows program that runs until its input ends."""

    def __init__(self, build_dir):
        self.runner = subprocess.Popen(
            [str(build_dir / "wine-run"), str(build_dir / rollback.TREE_RUNNER),
             "cmd", "/c", "set", "/p", "line="],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.pid = windows_process_id(self.runner)

    def __enter__(self):
        return self

    def __exit__(self, *unused):
        # Ends its input, and so the program.
        self.runner.communicate(timeout=rollback.HANG_GUARD)


def plant_package(folder, name):
    package = folder / name
    (package / "resources").mkdir(parents=True)
    (package / "installer.exe").write_bytes(b"MZ")
    (package / "resources" / "big.pak").write_bytes(b"pak")
    return package


def plant_file(folder, name):
    path = folder / name
    path.write_bytes(b"MZ")
    return path


def test_each_run_removes_a_dead_runs_package_and_keeps_a_live_runs(machine_round, build_dir):
    machine_round.reset()
    machine = machine_round.machine
    folder = machine.temp / "Tarvo Installer"
    outside = machine.tmp_path / "outside"
    plant_package(machine.tmp_path, "outside")
    stamp = "20261207204000"
    for operation in ORDER:
        dead_pid = ended_process_id(build_dir)
        with LiveProcess(build_dir) as live:
            folder.mkdir(exist_ok=True)
            dead = [plant_package(folder, f"tarvo_installer_{stamp}_{dead_pid}"),
                    plant_package(folder, f"suite_{stamp}_{dead_pid}")]
            # Every try's download and archive, and the additional file on
            # its way, as the package fetcher names them.
            dead += [plant_file(folder, f"tarvo_installer_{stamp}_{dead_pid}{suffix}")
                     for suffix in (".exe", "_0.exe", "_1.exe", "_2.7z", "_10.EXE",
                                    ".additional_file.tmp")]
            dead.append(plant_file(folder, f"suite_{stamp}_{dead_pid}_1.exe"))
            live_run = f"tarvo_installer_{stamp}_{live.pid}"
            kept = [plant_package(folder, live_run),
                    plant_file(folder, f"{live_run}_1.exe"),
                    plant_file(folder, f"{live_run}_1.7z"),
                    plant_file(folder, f"{live_run}.additional_file.tmp"),
                    plant_file(folder, f"tarvo_installer_{stamp}_{dead_pid}.log"),
                    plant_package(folder, f"other_{stamp}_{dead_pid}")]
            # Names the fetcher never makes, and a folder where it makes a
            # file, stay; so does a dead run's download below the folder.
            kept += [plant_file(folder, f"tarvo_installer_{stamp}_{dead_pid}{suffix}")
                     for suffix in ("_01.exe", "_1.exe.bak", "_1", ".7z", "_1.tmp",
                                    "_1.additional_file.tmp", "_+1.exe")]
            kept.append(plant_package(folder, f"tarvo_installer_{stamp}_{dead_pid}_3.exe"))
            nested = plant_file(kept[-1], f"tarvo_installer_{stamp}_{dead_pid}_1.exe")
            # A link named as a dead run's package goes, if at all, alone.
            link = folder / f"tarvo_installer_{stamp}1_{dead_pid}"
            link.symlink_to(outside, target_is_directory=True)

            assert machine_round.start(operation) == 0, operation

            assert [path.name for path in dead if path.exists()] == [], operation
            assert [path.name for path in kept if not path.exists()] == [], operation
            assert nested.exists(), operation
            assert (outside / "resources" / "big.pak").read_bytes() == b"pak"
        for path in kept:
            shutil.rmtree(path) if path.is_dir() else path.unlink()
        if link.is_symlink():
            link.unlink()
        folder.rmdir()
        found = rollback.differences(machine_round.clean[operation], machine_round.state())
        assert found == {}, (operation, found)


FILE_OPS_TOOL = "desktop/windows/installer/file_ops_tool.exe"


@contextlib.contextmanager
def held_open(build_dir, path):
    """`path` open in another program that lets no one delete, rename or
    replace it, until the block ends."""
    holder = subprocess.Popen([str(build_dir / "wine-run"), str(build_dir / FILE_OPS_TOOL),
                               "hold", windows_path(path)],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert holder.stdout.readline().strip() == b"held"
        yield
    finally:
        holder.stdin.close()
        holder.wait(timeout=rollback.HANG_GUARD)


HELD_TEXT = ("Another program holds {}, so the work of an installation that ended early "
             "cannot be undone. Please close that program, and try again.")


def test_a_held_file_keeps_a_dead_updates_original_until_it_is_free(machine_round, build_dir,
                                                                  logs):
    machine_round.reset()
    machine = machine_round.machine
    journal = killed_update_journal(machine_round)
    launcher = machine.folder / "launcher.exe"
    journals = {journal: journal.read_bytes()}
    original = machine_round.clean["install"]["folder"]["launcher.exe"]

    with held_open(build_dir, launcher):
        for attempt in range(2):
            marker = Logs.marker()
            installer, switches, extra = machine_round.arguments("update")
            assert machine.run(installer, switches, *extra, marker) != 0, attempt
            _, log = logs.one(marker)
            assert f'The run failed with error 37073: "{HELD_TEXT.format(windows_path(launcher))}"' \
                in log, log[-3000:]
            # The journal stays whole, and the original aside.
            assert {path: path.read_bytes() for path in journals} == journals
            aside = [path for path in machine.folder.glob("launcher.exe.*.old")]
            assert [hashlib.sha256(path.read_bytes()).hexdigest() for path in aside] \
                == [original], aside

    update_and_uninstall_end_as_clean_runs(machine_round)


def update_and_uninstall_end_as_clean_runs(machine_round):
    for operation in ("update", "uninstall"):
        assert machine_round.start(operation) == 0
        found = rollback.differences(machine_round.clean[operation], machine_round.state())
        assert found == {}, found


def killed_update_journal(machine_round):
    """Installs, then updates until the update's backend ends hard once it
    has replaced the launcher; the journal that run leaves."""
    assert machine_round.start("install") == 0
    assert machine_round.start("update", "step=install the launcher;action=kill") != 0
    journals = list(machine_round.machine.folder.glob("installer_run_*.journal"))
    assert len(journals) == 1, journals
    return journals[0]


@pytest.mark.parametrize("share", [0.0, 0.5, 1.0], ids=["first-line", "half", "every-line"])
def test_a_recovery_killed_half_way_is_finished_by_the_next_run(machine_round, share):
    machine_round.reset()
    journal = killed_update_journal(machine_round)
    text = journal.read_bytes()
    lines = max(1, round(text.count(b"\n") * share))

    assert machine_round.start("update", f"at=recovery-line;operation={lines};action=kill") != 0

    # Killed before the recovery could end: its journal is left whole.
    assert journal.read_bytes() == text
    update_and_uninstall_end_as_clean_runs(machine_round)


# Made inside every private folder when it is made.
PRIVATE_FOLDER_MARK = "tarvo_private_folder.mark"


class FreshRound(Round):
    """The runs of Round on a machine of the test's own, without the clean
    runs' states."""

    def __init__(self, build_dir, installers, tmp_path, all_users=True):
        self.installers = installers
        self.machine = rollback.Machine(build_dir, tmp_path, all_users=all_users)
        self.machine.clear()


def folders_with_bytes(folder):
    return {path: sum(os.path.getsize(os.path.join(top, name))
                      for top, _, names in os.walk(path) for name in names)
            for path in folder.iterdir() if path.is_dir() and not path.is_symlink()}


def plant_private_folder(system_temp, files):
    folder = system_temp / str(uuid.uuid4())
    folder.mkdir()
    for name, make in files.items():
        make(folder / name)
    return folder


def test_an_all_users_run_ended_with_its_tree_leaves_no_private_folder(
        build_dir, installers, tmp_path):
    made = FreshRound(build_dir, installers, tmp_path)
    system_temp = linux_path(build_dir, SYSTEM_TEMP)
    victim = tmp_path / "victim.txt"
    victim.write_bytes(b"another program's")
    planted = [
        # Named as the installer names them, without the mark.
        plant_private_folder(system_temp, {"installer.exe": lambda p: p.write_bytes(b"MZ")}),
        # With the mark, and a link to another program's file.
        plant_private_folder(system_temp, {
            PRIVATE_FOLDER_MARK: lambda p: p.write_bytes(b""),
            "installer.exe": lambda p: p.symlink_to(victim)}),
    ]
    planted_trees = {folder: installation.tree(folder) for folder in planted}
    figures = {}
    try:
        for operation in ORDER:
            before = folders_with_bytes(system_temp)
            made.start_and_end_tree(operation, TREE_STEPS[operation])
            left = {path: size for path, size in folders_with_bytes(system_temp).items()
                    if path not in before}
            assert left, operation
            assert made.start(operation) == 0, operation
            assert [path for path in left if path.exists()] == [], operation
            figures[operation] = (len(left), sum(left.values()))
            assert {folder: installation.tree(folder) for folder in planted} == planted_trees
            assert victim.read_bytes() == b"another program's"
        # What each killed run left, which stayed for good before the runs
        # after them removed it.
        print("left by the killed runs (folders, bytes):", figures)
    finally:
        for folder in planted:
            shutil.rmtree(folder, ignore_errors=True)
        made.machine.clear()


# A first installation whose process tree is ended half-way: the recovery
# the next look at the folder makes (a run's settings; here the settings
# probe's) takes the folder away with the rest of the dead run's work when
# that run made it, and leaves one that was there before, emptied.
@pytest.mark.parametrize("there_before", [False, True], ids=["made", "there_before"])
def test_a_first_installation_ended_with_its_tree_takes_away_only_a_folder_it_made(
        build_dir, installers, tmp_path, there_before):
    made = FreshRound(build_dir, installers, tmp_path, all_users=False)
    folder = made.machine.folder
    try:
        if there_before:
            folder.mkdir()
        made.start_and_end_tree("install", TREE_STEPS["install"])
        assert list(folder.glob("installer_run_*.journal")), installation.tree(folder)
        result = run_tool([str(build_dir / "wine-run"), str(build_dir / SETTINGS_PROBE),
                           f"--installfolder={windows_path(folder)}", "--allusers=0"],
                          capture_output=True, timeout=rollback.HANG_GUARD)
        assert result.returncode == 0, result.stderr[-1500:]

        assert folder.exists() == there_before
        if there_before:
            assert list(folder.iterdir()) == []
    finally:
        made.machine.clear()


def version_folders(folder):
    return sorted(path.name for path in folder.iterdir() if path.is_dir())


def private_folders(folder):
    """The folders named as the installer names its private folders."""
    return {path for path in folder.iterdir()
            if path.is_dir() and re.fullmatch(r"[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}", path.name)}


# The installer's copy that an uninstallation leaves to remove what was in
# use, ended hard at its start (before it waits for the uninstallation) and
# once it has deleted one entry of the record. The uninstallation itself
# succeeds; what it leaves goes with the next run: the uninstaller left in
# the folder run again, or an installation into the folder.
COPY_KILLS = {"at-start": (1, "uninstall"), "deleting": (2, "install")}


@pytest.mark.parametrize("kill", COPY_KILLS)
@pytest.mark.parametrize("all_users", [False, True], ids=["peruser", "allusers"])
def test_an_uninstallation_whose_copy_was_killed_is_finished_by_the_next_run(
        build_dir, installers, tmp_path, all_users, kill):
    made = FreshRound(build_dir, installers, tmp_path, all_users=all_users)
    machine = made.machine
    temp = linux_path(build_dir, SYSTEM_TEMP) if all_users else rollback.folder_of(build_dir, "TEMP")
    operation, next_run = COPY_KILLS[kill]
    try:
        assert made.start("install") == 0
        installed = version_folders(machine.folder)
        before = private_folders(temp)
        assert made.start("uninstall", f"at=leftover-removal;operation={operation};action=kill") == 0
        stale = private_folders(temp) - before
        assert len(stale) == 1 and (machine.folder / "k.bat").exists(), stale

        assert made.start(next_run) == 0
        assert [path for path in stale if path.exists()] == []
        if next_run == "install":
            # The installation's version folder took the name the left one had.
            assert version_folders(machine.folder) == installed
            assert not (machine.folder / "k.bat").exists()
            assert made.start("uninstall") == 0
        assert not machine.folder.exists(), installation.tree(machine.folder)
        assert private_folders(temp) == before
    finally:
        machine.clear()


# An administrator's installation (for all users, or for one user started
# with "Run as administrator") moves the package files, each given the
# access list of its new folder before it lands there: killed once the first
# or third has that list, before it is moved, after the third operation of
# the moves, or while it rolls back its last step's failure. The next run
# (for one user a standard user's, who must be able to take away what the
# killed run left) leaves what a clean run leaves.
MOVE_KILLS = ["at=moved-file;operation=1;action=kill", "at=moved-file;operation=3;action=kill",
              "step=copy the package files;operation=3;action=kill",
              "step=-1;action=fail;rollback=20"]


@pytest.mark.parametrize("all_users", [True, False], ids=["allusers", "peruser"])
def test_an_administrators_installation_killed_while_it_moves_leaves_what_a_clean_one_leaves(
        build_dir, installers, tmp_path, all_users):
    made = FreshRound(build_dir, installers, tmp_path, all_users=all_users)
    last = len(rollback.step_lists(build_dir)["install"]) - 1
    installer, switches, _ = made.arguments("install")
    try:
        assert made.start("install") == 0
        clean = made.state()
        for fault in MOVE_KILLS:
            made.machine.clear()
            assert made.machine.run(installer, switches,
                                    fault=fault.replace("step=-1", f"step={last}"),
                                    administrator=True) != 0, fault
            assert made.start("install") == 0, fault
            assert rollback.differences(clean, made.state()) == {}, fault
    finally:
        made.machine.clear()


# Each of cmd's special characters, and a variable cmd would expand.
SPECIAL_TEMP = "R&D %TEMP% !x^ (y)=;,"


def test_the_copys_folder_goes_whatever_the_temporary_folders_path_holds(
        build_dir, installers, tmp_path):
    made = FreshRound(build_dir, installers, tmp_path, all_users=False)
    temp = tmp_path / SPECIAL_TEMP
    temp.mkdir()
    assert made.start("install") == 0
    installer, switches, extra = made.arguments("uninstall")
    command, env = made.machine.command(installer, switches, *extra)
    # The user's environment as a process the shell starts gets it.
    # The tree runner's own switches stay its own.
    runner = command[:2] + [word for word in command[2:3] if word.startswith("--")]
    quoted = " ".join(f'"{word}"' for word in command[len(runner):])
    batch = tmp_path / "uninstall.bat"
    doubled = windows_path(temp).replace("%", "%%")
    batch.write_bytes(f'@set "TMP={doubled}"\r\n@set "TEMP={doubled}"\r\n'
                      f'@start "" /wait {quoted}\r\n@exit /b %ERRORLEVEL%\r\n'.encode())
    result = run_tool([*runner, windows_path(batch)], capture_output=True,
                      timeout=rollback.HANG_GUARD, env=env)
    assert result.stdout.decode().split()[-2:] == ["exit", "0"], result

    assert not made.machine.folder.exists()
    logs = "".join(path.read_text(errors="replace")
                   for path in (temp / "Tarvo Installer").glob("*.log"))
    assert f"Started the installer's copy in {windows_path(temp)}\\" in logs, logs[-3000:]
    assert private_folders(temp) == set(), list(temp.iterdir())
