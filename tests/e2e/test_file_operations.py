"""File operations in one transaction (installer/file_ops_tool.exe), judged by
Python's own walk of the folder: names, bytes, modes (Wine keeps the read-only
bit there), extended attributes and file times. A rollback, after a failure at
any step, must give back the folder exactly; a commit must leave only the
intended change and no set-aside file.

Wine cannot show two things: it keeps a file's access list only as Unix mode
bits and does not enforce it when a file is opened, so the access granted to
and withdrawn from a locked file is checked by the unit tests with stand-ins;
and a deletion put off until the next restart is never tried here."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import windows_path

TOOL = "desktop/windows/installer/file_ops_tool.exe"
# ERROR_DISK_FULL as Wine's message table words it in a log line.
DISK_FULL_TEXT = "Disk full. (0x70)"

# The folder before an update: the package unpacked, the installation that
# it replaces. Names relative to the test folder, contents as bytes.
FILES = {
    "package/app.exe": b"MZ new application " * 300,
    "package/lib.dll": b"MZ new library " * 700,
    "package/docs/readme \u00e9.txt": "notes in UTF-8: \u00e9\u00e8\n".encode(),
    "install/app.exe": b"MZ old application " * 200,
    "install/lib.dll": b"MZ old library " * 100,
    "install/launcher.exe": b"MZ launcher",
    "install/old/only.txt": b"the last file of its folder",
}
READ_ONLY = ["package/lib.dll", "install/launcher.exe"]

# The update, one operation a line, with the number of operations the
# transaction holds after each (sub-operations included).
UPDATE = [
    (("copy", "package/app.exe", "install/app.exe"), 2),  # over the old file
    (("copy", "package/lib.dll", "install/lib.dll"), 4),  # read-only source
    (("copy", "package/docs/readme \u00e9.txt", "install/docs/en/readme \u00e9.txt"), 6),
    (("mkdir", "install/profiles/default"), 7),
    (("move", "install/launcher.exe", "install/old_launcher/launcher.exe"), 9),  # read-only
    (("delete", "install/old/only.txt", "0", "1"), 10),
    (("delete", "install/never installed.dll", "1", "1"), 11),  # nothing to do
    # The same path set aside a second time, most likely within the second.
    (("delete", "install/app.exe", "1", "0"), 12),
    (("copy", "package/app.exe", "install/app.exe"), 13),
]


def make_tree(root):
    for name, data in FILES.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        os.utime(path, ns=(1_500_000_000_000_000_000, 1_500_000_000_000_000_000))
    for name in READ_ONLY:
        (root / name).chmod(0o444)


def snapshot(root):
    """Relative path -> (kind, mode, extended attributes, time, bytes). A
    folder's time changes with its entries and is left out, and so are the
    execute bits, which Wine sets or clears whenever a file is renamed to or
    from an executable's name (Windows has none)."""
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = Path(folder) / name
            info = path.lstat()
            mode = info.st_mode & ~0o111
            attributes = {key: os.getxattr(path, key) for key in os.listxattr(path)}
            if path.is_dir():
                entry = ("folder", mode, attributes, None, None)
            else:
                entry = ("file", mode, attributes, info.st_mtime_ns, path.read_bytes())
            entries[path.relative_to(root).as_posix()] = entry
    return entries


def write_script(root, operations):
    lines = []
    for operation in operations:
        fields = [operation[0]]
        for field in operation[1:]:
            # The folder resolved, the last name as written: a link named
            # there is handed over as the link.
            path = root / field
            fields.append(windows_path(path.parent) + "\\" + path.name if "/" in field
                          else field)
        lines.append("\t".join(fields))
    script = root.parent / "script.txt"
    script.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return script


def run_script(run_exe, root, operations, ending, fail_at=None):
    arguments = ["run", windows_path(write_script(root, operations)), ending]
    if fail_at:
        arguments.append(fail_at)
    return run_exe(TOOL, *arguments).stdout.decode().splitlines()


def committed_contents(before, operations):
    """What the folder should hold after a commit: relative path -> bytes,
    None for a folder."""
    contents = {name: entry[4] for name, entry in before.items()}

    def add_parents(name):
        parent = os.path.dirname(name)
        while parent and parent not in contents:
            contents[parent] = None
            parent = os.path.dirname(parent)

    for kind, *fields in operations:
        if kind == "copy":
            add_parents(fields[1])
            contents[fields[1]] = contents[fields[0]]
        elif kind == "move":
            add_parents(fields[1])
            contents[fields[1]] = contents.pop(fields[0])
        elif kind == "mkdir":
            add_parents(fields[0] + "/x")
        elif kind == "delete":
            existed = contents.pop(fields[0], False) is not False
            folder = os.path.dirname(fields[0])
            while existed and fields[2] == "1" and folder and not any(
                    name.startswith(folder + "/") for name in contents):
                del contents[folder]
                folder = os.path.dirname(folder)
    return contents


@pytest.fixture
def root(tmp_path):
    folder = tmp_path / "machine"
    make_tree(folder)
    return folder


def test_update_commits_only_the_intended_change(run_exe, root):
    before = snapshot(root)
    operations = [operation for operation, _ in UPDATE]
    lines = run_script(run_exe, root, operations, "commit")
    assert lines == [f"{n} ok {held}" for n, (_, held) in enumerate(UPDATE, 1)] + ["committed"]

    after = snapshot(root)
    expected = committed_contents(before, operations)
    assert {name: entry[4] for name, entry in after.items()} == expected
    assert not [name for name in after if name.endswith(".old")]
    # Copied and moved files are never read-only, whatever their source was.
    assert after["install/lib.dll"][1] & 0o200
    assert after["install/old_launcher/launcher.exe"][1] & 0o200
    # Whatever the update did not name is as it was, attributes included.
    named = {field for operation in operations for field in operation[1:]}
    for name, entry in before.items():
        if name in after and name not in named and entry[0] == "file":
            assert after[name] == entry, name


@pytest.mark.parametrize("fail_at", range(1, len(UPDATE) + 1))
def test_failure_at_any_step_gives_back_the_folder_exactly(run_exe, root, fail_at):
    before = snapshot(root)
    lines = run_script(run_exe, root, [operation for operation, _ in UPDATE], "rollback",
                       fail_at)
    assert lines == ([f"{n} ok {held}" for n, (_, held) in enumerate(UPDATE[:fail_at - 1], 1)]
                     + [f"{fail_at} failed", "rolled back"])
    assert snapshot(root) == before


def test_cancel_after_every_step_gives_back_the_folder_exactly(run_exe, root):
    before = snapshot(root)
    lines = run_script(run_exe, root, [operation for operation, _ in UPDATE], "rollback")
    assert lines[-1] == "rolled back"
    assert snapshot(root) == before


def test_running_program_is_not_deleted_and_the_update_rolls_back(build_dir, run_exe, root):
    # A real second process runs from the file to be deleted.
    program = root / "install" / "app.exe"
    shutil.copyfile(build_dir / TOOL, program)
    before = snapshot(root)
    running = subprocess.Popen([str(build_dir / "wine-run"), str(program), "wait"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert running.stdout.readline().strip() == b"ready"
        lines = run_script(run_exe, root, [
            ("copy", "package/lib.dll", "install/lib.dll"),
            ("delete", "install/app.exe", "1", "0"),
        ], "commit")
        assert lines == ["1 ok 2", "2 failed", "rolled back"]
        assert snapshot(root) == before
        assert running.poll() is None
    finally:
        running.stdin.close()
        running.wait(timeout=600)


@pytest.mark.parametrize("ending", ["commit", "rollback"])
def test_deleting_a_link_never_reaches_what_it_leads_to(run_exe, root, tmp_path, ending):
    """A file and a folder of the installation replaced by Unix links to a
    canary file and folder outside: neither is set aside (which would move
    what it leads to), and at the commit the links stay, as Wine cannot
    remove one by itself."""
    outside = tmp_path / "outside"
    (outside / "dir").mkdir(parents=True)
    canaries = {outside / "canary.dll": b"outside canary",
                outside / "dir" / "only.txt": b"outside folder canary"}
    for path, data in canaries.items():
        path.write_bytes(data)
    (root / "install" / "lib.dll").unlink()
    (root / "install" / "lib.dll").symlink_to(outside / "canary.dll")
    shutil.rmtree(root / "install" / "old")
    (root / "install" / "old").symlink_to(outside / "dir", target_is_directory=True)

    lines = run_script(run_exe, root, [("delete", "install/lib.dll", "1", "1"),
                                       ("delete", "install/old", "0", "1")], ending)

    assert lines[-1] == ("committed" if ending == "commit" else "rolled back"), lines
    assert {path: path.read_bytes() for path in canaries} == canaries
    assert (root / "install" / "lib.dll").is_symlink()
    assert (root / "install" / "old").is_symlink()
    assert not list((root / "install").glob("*.old"))


@pytest.fixture
def small_volume(tmp_path):
    """A volume of 1 MiB, a tmpfs mounted in the test's own folder, which a
    copy fills part-way as a full disk does. Mounting needs root, as the
    test runs here and in CI; elsewhere the test is skipped."""
    volume = tmp_path / "volume"
    volume.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tarvo_test", str(volume)],
                             capture_output=True)
    if mounted.returncode != 0:
        pytest.skip(f"no tmpfs can be mounted here: {mounted.stderr.decode().strip()}")
    try:
        yield volume
    finally:
        subprocess.run(["umount", "-l", str(volume)], check=False)


@pytest.mark.parametrize("target,existing", [
    ("resources/big.pak", b"the old pack " * 5000),  # set aside, then put back
    ("resources/big.pak", None),
    ("new/deeper/big.pak", None),  # folders made for it
], ids=["over a file", "new file", "new folders"])
def test_copy_that_fills_the_volume_leaves_nothing(run_exe, root, small_volume, target,
                                                   existing):
    source = root / "package" / "big.pak"
    source.write_bytes(os.urandom(3 << 20))
    (small_volume / "resources").mkdir()
    (small_volume / "resources" / "kept.txt").write_bytes(b"not the copy's")
    if existing:
        (small_volume / target).write_bytes(existing)
    before = snapshot(small_volume)

    result = run_exe(TOOL, "run", windows_path(write_script(root, [
        ("copy", "package/big.pak", f"../volume/{target}")])), "commit")

    assert result.stdout.decode().splitlines() == ["1 failed", "rolled back"]
    # Wine's CopyFileW leaves the error at 0 here: the copy tells the full
    # disk from the volume's free space.
    assert f"File copy failed {DISK_FULL_TEXT}".encode() in result.stderr, result.stderr
    assert snapshot(small_volume) == before


def test_change_whose_journal_line_finds_the_volume_full_is_not_made(run_exe, root,
                                                                     small_volume):
    (small_volume / "app.exe").write_bytes(b"MZ installed application")
    # Every block taken: a rename still works there, a journal line does not.
    with open(small_volume / "filler", "wb", buffering=0) as filler:
        with pytest.raises(OSError):
            while True:
                filler.write(b"\0" * 4096)
    before = snapshot(small_volume)

    result = run_exe(TOOL, "run", windows_path(write_script(root, [
        ("journal", windows_path(small_volume)),
        ("delete", "../volume/app.exe", "1", "0")])), "commit")

    assert result.stdout.decode().splitlines() == ["1 failed", "rolled back"]
    assert b"Failed writing the run's journal" in result.stderr
    assert snapshot(small_volume) == before
