"""Links a standard user can plant where an installer deletes: a folder and a
file inside a per-user installation replaced by Unix symbolic links (which
Wine shows as a reparse-point folder and as a plain file) to a folder and a
file outside holding canaries, then the uninstallation, an update that
removes the previous version's files, the recovery of an update killed
once it set the launcher aside, and a dead run's download in the temporary
folder; and a per-user installation folder that is itself a link, or lies
below one. The shipped installer files run as users start them (the killed
update alone from the build's files with the test hooks in, which end it).
Nothing outside may change: every canary keeps its bytes. Under Wine every
open follows a link, so a link cannot be removed without reaching its
target: it stays, and the installation goes on around it."""

import os
import re
import shutil
import subprocess
import time

import pytest

import installer_files as files
import test_installation as installation
import test_recovery as recovery
import test_rollback as rollback
from conftest import windows_path, wait_until
from test_rollback import installers  # noqa: F401  (the fixture)

SHIPPED = "installer_files/full/installer.exe"
CANARY = b"outside canary "
PROBE = "tests/tools/platform_probe.exe"
SHARING_VIOLATION = 32


@pytest.fixture(scope="module")
def next_installer(build_dir, tmp_path_factory):
    """A full installer of the next patch release, built as releases are."""
    folder = tmp_path_factory.mktemp("links_next")
    keys = files.BuildKeys(build_dir)
    package = files.make_package(build_dir, folder / "package", "next", pki=keys)
    archive = files.pack(package, folder / "package.7z", level=1)
    return files.full_installer(build_dir, folder / "full", keys, archive, library="next")


def cleared(made):
    made.clear()
    yield made
    for root in (made.folder, made.temp):
        for folder, dirs, names in os.walk(root):
            for name in dirs + names:
                if os.path.islink(os.path.join(folder, name)):
                    os.unlink(os.path.join(folder, name))
    made.clear()


@pytest.fixture
def machine(build_dir, tmp_path):
    yield from cleared(rollback.Machine(build_dir, tmp_path))


@pytest.fixture(params=[False, True], ids=["per_user", "all_users"])
def either_machine(build_dir, tmp_path, request):
    yield from cleared(rollback.Machine(build_dir, tmp_path, all_users=request.param))


class Outside:
    """A folder outside the installation holding canaries, and the links
    planted to it."""

    def __init__(self, root):
        self.root = root
        self.root.mkdir()
        self.expected = {}

    def canary(self, relative):
        path = self.root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(CANARY + relative.encode())
        self.expected[relative] = path.read_bytes()
        return path

    def link_folder(self, folder):
        """`folder` moved outside (its files becoming canaries under the
        same names), a link to it in its place."""
        target = self.root / folder.name
        shutil.move(folder, target)
        for path in target.rglob("*"):
            if path.is_file():
                self.canary(path.relative_to(self.root).as_posix())
        folder.symlink_to(target, target_is_directory=True)

    def swap_folder(self, folder, aside):
        """`folder` moved to `aside`, and a link in its place to a folder
        outside holding a canary under each of its files' names."""
        shutil.move(folder, aside)
        for path in aside.rglob("*"):
            if path.is_file():
                self.canary(f"{folder.name}/{path.relative_to(aside).as_posix()}")
        folder.symlink_to(self.root / folder.name, target_is_directory=True)

    def link_file(self, path):
        """`path` replaced by a link to a canary of the same name."""
        target = self.canary(f"file_{path.name}")
        path.unlink()
        path.symlink_to(target)

    def found(self):
        return {path.relative_to(self.root).as_posix(): path.read_bytes()
                for path in self.root.rglob("*") if path.is_file()}


def plant_in_version_folder(version, outside):
    """The version folder's resources folder and its main program, each
    replaced by a link to the outside."""
    outside.link_folder(version / "resources")
    outside.link_file(version / "tarvo.exe")


@pytest.mark.parametrize("planted", ["folder", "folder_above"])
def test_elevated_installation_for_one_user_never_goes_through_a_link(machine, build_dir,
                                                                      tmp_path, planted):
    """Under Wine every run is an elevated administrator's: a per-user
    installation folder that is a link, or lies below one, to another
    product's folder is refused before anything is written or granted
    there."""
    outside = Outside(tmp_path / "outside")
    outside.canary("other product/other.exe")
    target = outside.root / "other product"
    if planted == "folder":
        machine.folder.symlink_to(target, target_is_directory=True)
        folder = machine.folder
    else:
        (tmp_path / "above").symlink_to(target, target_is_directory=True)
        folder = tmp_path / "above" / machine.folder.name
    command, env = machine.command(build_dir / SHIPPED, rollback.SHORTCUTS)
    # Named through the link, as the user would: windows_path resolves it.
    unresolved = "Z:" + str(tmp_path.resolve() / folder.relative_to(tmp_path)).replace("/", "\\")
    command = [f"--installfolder={unresolved}" if part.startswith("--installfolder=") else part
               for part in command]

    result = subprocess.run(command, env=env, capture_output=True, timeout=rollback.HANG_GUARD)

    assert result.stdout.decode(errors="replace").split()[-2:] == ["exit", "1"], result
    assert outside.found() == outside.expected
    assert not (target / folder.name).exists()


def test_uninstallation_keeps_what_planted_links_lead_to(machine, build_dir, tmp_path):
    assert machine.run(build_dir / SHIPPED, rollback.SHORTCUTS) == 0
    outside = Outside(tmp_path / "outside")
    version = machine.folder / installation.version_of(machine.folder)
    plant_in_version_folder(version, outside)

    assert machine.run(version / "installer.exe", rollback.SHORTCUTS, "--uninstall") == 0

    assert outside.found() == outside.expected
    # The links themselves stay: Wine cannot remove one by itself.
    assert (version / "resources").is_symlink() and (version / "tarvo.exe").is_symlink()


def test_update_keeps_what_links_in_the_previous_version_lead_to(machine, build_dir, tmp_path,
                                                                  next_installer):
    assert machine.run(build_dir / SHIPPED, rollback.SHORTCUTS) == 0
    assert machine.run(next_installer, rollback.SHORTCUTS) == 0
    versions = [path for path in machine.folder.iterdir()
                if re.fullmatch(r"[0-9]+(\.[0-9]+){3}(_[0-9]+)?", path.name)]
    assert len(versions) == 2, versions
    # The first version's files go with the next update, which reads their
    # names back from the install log kept aside.
    previous = min(versions, key=lambda path: [int(part) for part in
                                               re.split(r"[._]", path.name)])
    outside = Outside(tmp_path / "outside")
    plant_in_version_folder(previous, outside)

    assert machine.run(next_installer, rollback.SHORTCUTS) == 0

    assert outside.found() == outside.expected
    assert not (previous / "installer.exe").exists(), "the previous version stayed"


# An update keeps the previous install log in old_status and, over an
# installation of the former kind (its log under the former name), sets
# tarvo.exe aside for the launcher: started as an administrator, it
# refuses an old_status the user swapped for a link to a folder outside,
# or a link at tarvo.exe, and goes on without them.
@pytest.mark.parametrize("planted", ["old_status", "tarvo.exe"])
def test_update_keeps_and_sets_aside_nothing_through_a_link(machine, build_dir, tmp_path,
                                                             next_installer, planted):
    assert machine.run(build_dir / SHIPPED, rollback.SHORTCUTS) == 0
    outside = Outside(tmp_path / "outside")
    extra = []
    if planted == "old_status":
        (machine.folder / "old_status").mkdir()
        outside.link_folder(machine.folder / "old_status")
    else:
        (machine.folder / "installation_status.xml").rename(
            machine.folder / "tarvo_install_log.xml")
        (machine.folder / "tarvo.exe").write_bytes(b"former")
        outside.link_file(machine.folder / "tarvo.exe")
        extra = ["--replacekilnorinstallation"]

    assert machine.run(next_installer, rollback.SHORTCUTS, *extra, administrator=True) == 0

    assert outside.found() == outside.expected
    assert (machine.folder / planted).is_symlink()
    assert not (machine.folder / "tarvo.old.exe").exists()


def test_recovery_keeps_what_a_link_in_place_of_a_set_aside_file_leads_to(
        machine, tmp_path, installers):  # noqa: F811
    assert machine.run(installers["current"], rollback.SHORTCUTS) == 0
    assert machine.run(installers["next"], rollback.UPDATE_SHORTCUTS,
                       fault="step=install the launcher;action=kill") != 0
    aside = list(machine.folder.glob("launcher.exe.*.old"))
    assert len(aside) == 1, aside
    outside = Outside(tmp_path / "outside")
    outside.link_file(aside[0])

    # The recovery leaves the journal that names the link; the update then
    # runs as the folder is.
    machine.run(installers["next"], rollback.UPDATE_SHORTCUTS)

    assert outside.found() == outside.expected
    assert aside[0].is_symlink()


def test_a_link_named_as_a_dead_runs_download_keeps_its_target(machine, build_dir, tmp_path):
    outside = Outside(tmp_path / "outside")
    target = outside.canary("download.exe")
    downloads = machine.temp / "Tarvo Installer"
    downloads.mkdir()
    # A process id no Windows process has: the run that made it is gone.
    link = downloads / "tarvo_installer_20261207204000_4000000_1.exe"
    link.symlink_to(target)

    assert machine.run(build_dir / SHIPPED, rollback.SHORTCUTS) == 0

    assert outside.found() == outside.expected
    assert link.is_symlink()


def test_leftovers_are_deleted_but_nothing_through_a_folder_swapped_for_a_link(
        either_machine, build_dir, tmp_path, private_folders):
    """A file held open stays when the uninstallation ends; once its record
    of leftovers is written, while the installer's copy still waits, the
    file's folder is swapped for a link to a folder outside that holds a
    canary of that name."""
    machine = either_machine
    assert machine.run(build_dir / SHIPPED, rollback.SHORTCUTS) == 0
    version = machine.folder / installation.version_of(machine.folder)
    resources, aside = version / "resources", tmp_path / "aside"
    outside = Outside(tmp_path / "outside")
    command, env = machine.command(version / "installer.exe", rollback.SHORTCUTS, "--uninstall")
    copies = private_folders()

    with recovery.held_open(build_dir, resources / "a.pak"):
        run = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        while not (machine.folder / "k.bat").exists() and run.poll() is None:
            time.sleep(0.005)
        assert (machine.folder / "k.bat").exists()
        outside.swap_folder(resources, aside)
        output, _ = run.communicate(timeout=rollback.HANG_GUARD)
    assert output.decode(errors="replace").split()[-2:] == ["exit", "0"], output
    wait_until(lambda: not (machine.folder / "k.bat").exists(), "the record stays")
    wait_until(lambda: private_folders() <= copies, "the installer's copy stays")

    assert outside.found() == outside.expected
    assert (aside / "a.pak").read_bytes() == b"pak a"
    # The uninstaller's own program and library, in use until it ended, went
    # too; the link stays, and so the folders holding it.
    left = {os.path.relpath(os.path.join(folder, name), machine.folder).replace(os.sep, "/")
            for folder, dirs, names in os.walk(machine.folder) for name in dirs + names}
    assert left == {version.name, f"{version.name}/resources"}
    assert resources.is_symlink()


def test_a_silent_uninstallation_leaves_nothing_of_the_product(either_machine, build_dir,
                                                               private_folders):
    """Without a link planted, the installer's copy deletes the uninstaller's
    own program and library once it has ended, the record of them and the
    emptied folder; then its own folder goes."""
    machine = either_machine
    assert machine.run(build_dir / SHIPPED, rollback.SHORTCUTS) == 0
    version = machine.folder / installation.version_of(machine.folder)
    copies = private_folders()

    assert machine.run(version / "installer.exe", rollback.SHORTCUTS, "--uninstall") == 0

    wait_until(lambda: not machine.folder.exists(), "the installation folder stays")
    wait_until(lambda: private_folders() <= copies, "the installer's copy stays")


def paused_at_second_move(machine, installers, tmp_path):
    """The testing full installer started silently with an administrator's
    token (for one user too, as "Run as administrator" starts it), paused
    once the first package file (tarvo.exe) is in the version folder and
    the second (resources\\a.pak) has its new list in the package, before
    its folder goes into the version folder whole."""
    marker = tmp_path / "paused"
    command, env = machine.command(
        installers["current"], rollback.SHORTCUTS,
        fault=f"at=moved-file;operation=2;action=pause;marker={windows_path(marker)}",
        administrator=True)
    run = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    wait_until(lambda: marker.exists() or run.poll() is not None, "the run never paused")
    assert marker.exists(), run.communicate()
    return run, marker


def renamed_by_the_user(run_exe, folder):
    """The user's own Windows process renames `folder` away (the Windows
    error, 0 once renamed); renamed, a link to a folder outside takes its
    place, as a junction would on Windows."""
    result = run_exe(PROBE, "rename", windows_path(folder), windows_path(folder) + ".away",
                     check=True)
    return int(result.stdout.split()[-1])


# At the pause the user swaps a folder on the way for a link to a folder
# only the administrators could write, or plants at the name the resources
# folder takes a link, or a folder of their own with a link (or a second
# name) at the name of a file it brings. Held from the volume's root down,
# no folder on the way can be renamed (on Windows the rename fails the same
# way; a Linux rename, which Wine does not stop, is no user's process
# there), and nothing at a target name is written through, moved over or
# granted: the run then fails and rolls back. The control installs. The
# user's Desktop, held only from the shortcuts' step on, can still be
# swapped at the pause: its shortcut is then refused, never written through
# the link, and the run goes on.
SWAPS = [(False, "none"), (False, "version"), (False, "resources"), (False, "file link"),
         (False, "hard link"), (True, "above"), (True, "version"), (False, "desktop")]
PLANTED = {"resources", "file link", "hard link"}


@pytest.mark.parametrize("all_users,swapped", SWAPS,
                         ids=[f"{'all_users' if a else 'per_user'}-{s}" for a, s in SWAPS])
def test_an_elevated_run_writes_only_through_the_folders_it_holds(
        build_dir, tmp_path, installers, run_exe, all_users, swapped):  # noqa: F811
    machine = rollback.Machine(build_dir, tmp_path, all_users=all_users)
    machine.folder = tmp_path / "Tools" / "Tarvo Rollback"
    machine.clear()
    outside = Outside(tmp_path / "outside")
    victim = outside.canary("victim.pak")
    mode = victim.stat().st_mode
    desktop = machine.shortcut_folders[0]
    swapped_folder = None
    try:
        run, marker = paused_at_second_move(machine, installers, tmp_path)
        version = machine.folder / installation.version_of(machine.folder)
        resources = version / "resources"
        assert (version / "tarvo.exe").is_file() and not resources.exists()
        folder = {"version": version, "above": machine.folder.parent,
                  "desktop": desktop}.get(swapped)
        error = SHARING_VIOLATION
        if folder:
            error = renamed_by_the_user(run_exe, folder)
            if error == 0:
                folder.symlink_to(outside.root, target_is_directory=True)
                swapped_folder = folder
        elif swapped == "resources":
            resources.symlink_to(outside.root, target_is_directory=True)
        elif swapped == "file link":
            resources.mkdir()
            (resources / "b.pak").symlink_to(victim)
        elif swapped == "hard link":
            resources.mkdir()
            os.link(victim, resources / "b.pak")
        marker.unlink()
        output, _ = run.communicate(timeout=rollback.HANG_GUARD)

        code = int(output.decode(errors="replace").split()[-1])
        assert outside.found() == outside.expected
        assert victim.stat().st_mode == mode
        assert error == (0 if swapped == "desktop" else SHARING_VIOLATION)
        assert code == (1 if swapped in PLANTED else 0), output[-2000:]
        if code == 0:
            assert (version / "resources" / "b.pak").read_bytes() == b"pak b"
        else:
            assert not (version / "tarvo.exe").exists()
    finally:
        if swapped_folder == desktop:
            # The group's other tests share the prefix's Desktop.
            desktop.unlink()
            desktop.with_name(desktop.name + ".away").rename(desktop)
        for path in machine.folder.rglob("b.pak"):
            path.unlink()
        machine.clear()


# A first installation's folder is judged, then made: paused by the test
# hook before the making and again once it is made (or refused). At the
# first pause the user swaps the folder above for a link to a folder
# outside; made from the nearest folder there, held from the volume's root
# down, the run refuses the link and makes nothing outside, not even for a
# moment. The control finds both levels missing, makes them and installs.
FIRST_SWAPS = [(False, "none"), (False, "above"), (True, "none"), (True, "above")]


@pytest.mark.parametrize("all_users,swapped", FIRST_SWAPS,
                         ids=[f"{'all_users' if a else 'per_user'}-{s}" for a, s in FIRST_SWAPS])
def test_an_elevated_first_installation_makes_its_folder_only_through_held_folders(
        build_dir, tmp_path, installers, run_exe, all_users, swapped):  # noqa: F811
    machine = rollback.Machine(build_dir, tmp_path, all_users=all_users)
    machine.folder = tmp_path / "Tools" / "Tarvo Rollback"
    machine.clear()
    above = machine.folder.parent
    if swapped == "above":
        above.mkdir()
    outside = Outside(tmp_path / "outside")
    marker = tmp_path / "paused"
    command, env = machine.command(
        installers["current"], rollback.SHORTCUTS,
        fault=f"at=install-folder;action=pause;times=2;marker={windows_path(marker)}",
        administrator=True)
    run = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        for pause in range(2):
            wait_until(lambda: marker.exists() or run.poll() is not None, "the run never paused")
            assert marker.exists(), run.communicate()
            if pause == 0:
                assert not machine.folder.exists()
                if swapped == "above":
                    assert renamed_by_the_user(run_exe, above) == 0
                    above.symlink_to(outside.root, target_is_directory=True)
            assert list(outside.root.iterdir()) == []
            marker.unlink()
        output, _ = run.communicate(timeout=rollback.HANG_GUARD)

        code = int(output.decode(errors="replace").split()[-1])
        assert list(outside.root.iterdir()) == []
        assert code == (1 if swapped == "above" else 0), output[-2000:]
        if code == 0:
            assert (machine.folder / installation.version_of(machine.folder)).is_dir()
    finally:
        if above.is_symlink():
            above.unlink()
            above.with_name(above.name + ".away").rename(above)
        machine.clear()
