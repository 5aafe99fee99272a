"""File utilities and the path service on real trees (base/file_util_tool.exe):
copies and moves of a 5,000-file tree compared with Python's own walk, deletes
over Unix symbolic links (which Wine shows as junctions), read-only files, and
the path-service keys against the prefix's Shell Folders in the registry."""

import filecmp
import os
import random
import shutil
import stat
import subprocess
from pathlib import Path

import pytest

from conftest import windows_path

TOOL = "base/file_util_tool.exe"
TREE_FILES = 5000


def make_tree(root, files=TREE_FILES, seed=6):
    """A tree of `files` files in nested folders: empty and larger files,
    non-ASCII names, read-only files and an empty folder."""
    generator = random.Random(seed)
    folders = [Path(".")]
    for index in range(60):
        parent = generator.choice(folders)
        folders.append(parent / f"dir{index}{'é' if index % 7 == 0 else ''}")
    (root / "empty folder").mkdir(parents=True)
    for folder in folders:
        (root / folder).mkdir(parents=True, exist_ok=True)
    for index in range(files):
        path = root / generator.choice(folders) / f"f{index}{'ü' if index % 11 == 0 else ''}.bin"
        size = generator.choice([0, 1, 100, 4096, 20000])
        path.write_bytes(generator.randbytes(size))
        if index % 97 == 0:
            path.chmod(stat.S_IREAD)


def snapshot(root):
    """Relative path -> contents (None for a folder), from os.walk."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs:
            found[os.path.relpath(os.path.join(folder, name), root)] = None
        for name in files:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = Path(path).read_bytes()
    return found


def assert_same_tree(expected_root, actual_root):
    expected_entries = []
    for folder, dirs, files in os.walk(expected_root):
        relative = os.path.relpath(folder, expected_root)
        actual_folder = os.path.join(actual_root, relative)
        assert sorted(os.listdir(actual_folder)) == sorted(dirs + files), relative
        match, mismatch, errors = filecmp.cmpfiles(folder, actual_folder, files, shallow=False)
        assert (mismatch, errors) == ([], []), relative
        expected_entries += match
    assert len(expected_entries) >= TREE_FILES


def run_tool(run_exe, *args):
    result = run_exe(TOOL, *args, timeout=600)
    lines = result.stdout.decode("utf-8").splitlines()
    assert lines, result
    return result.returncode == 0, lines


def remove_tree(root):
    """shutil.rmtree, also through read-only entries."""
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                os.chmod(path, 0o755)
    shutil.rmtree(root)


@pytest.fixture(scope="module")
def source_tree(tmp_path_factory):
    root = tmp_path_factory.mktemp("source") / "tree"
    make_tree(root)
    yield root
    remove_tree(root)


def test_copy_of_large_tree_matches_source(run_exe, source_tree, tmp_path):
    target = tmp_path / "copy"
    ok, lines = run_tool(run_exe, "copy", windows_path(source_tree), windows_path(target))
    assert ok, lines
    assert_same_tree(source_tree, target)
    # Copies of read-only files are left writable for later updates.
    for folder, _, files in os.walk(target):
        for name in files:
            assert os.stat(os.path.join(folder, name)).st_mode & stat.S_IWUSR, name


def test_copy_into_own_subtree_is_refused_in_any_case(run_exe, tmp_path):
    source = tmp_path / "App"
    make_tree(source, files=20)
    before = snapshot(source)
    target = windows_path(tmp_path / "APP" / "dir0" / "copy")
    # The file system ignores the case of "APP"; so must the guard.
    ok, lines = run_tool(run_exe, "copy", windows_path(source), target)
    assert not ok, lines
    assert snapshot(source) == before


@pytest.mark.parametrize("across_file_systems", [False, True])
def test_move_of_large_tree(run_exe, tmp_path, across_file_systems):
    if across_file_systems:
        shm = Path("/dev/shm")
        if not shm.is_dir() or os.stat(shm).st_dev == os.stat(tmp_path).st_dev:
            pytest.skip("no second file system at /dev/shm")
        work = Path(shm / f"tarvo_move_{os.getpid()}")
    else:
        work = tmp_path / "same"
    source = work / "tree"
    try:
        make_tree(source)
        expected = snapshot(source)
        target = tmp_path / "moved"
        ok, lines = run_tool(run_exe, "move", windows_path(source), windows_path(target))
        assert ok, lines
        assert not source.exists()
        assert snapshot(target) == expected
    finally:
        if work.exists():
            remove_tree(work)


def test_move_keeps_source_when_copy_fails(run_exe, tmp_path):
    source = tmp_path / "tree"
    make_tree(source, files=30)
    expected = snapshot(source)
    blocker = tmp_path / "file"
    blocker.write_bytes(b"x")
    # The destination's parent is a file: the rename and the copy both fail.
    ok, lines = run_tool(run_exe, "move", windows_path(source), windows_path(blocker / "sub"))
    assert not ok, lines
    assert snapshot(source) == expected


def make_installation_with_links(tmp_path):
    """An installation folder holding a Unix symbolic link to a full folder
    and one to an empty folder, both outside it."""
    install = tmp_path / "install"
    (install / "sub").mkdir(parents=True)
    (install / "sub" / "a.txt").write_bytes(b"a")
    outside = tmp_path / "outside"
    make_tree(outside, files=40)
    (tmp_path / "empty_outside").mkdir()
    (install / "linked").symlink_to(outside, target_is_directory=True)
    (install / "linked_empty").symlink_to(tmp_path / "empty_outside", target_is_directory=True)
    return install, outside


@pytest.mark.parametrize("target, arguments, link", [
    ("install", [], "install/linked"),
    ("install\\*", [], "install/linked"),
    ("install\\linked", [], "install/linked"),
    ("install\\linked", ["flat"], "install/linked"),
    ("install\\linked_empty", ["flat"], "install/linked_empty"),
])
def test_delete_over_linked_folder_keeps_link_target(run_exe, tmp_path, target, arguments, link):
    _, outside = make_installation_with_links(tmp_path)
    expected_outside = snapshot(outside)
    ok, lines = run_tool(run_exe, "delete", windows_path(tmp_path) + "\\" + target, *arguments)

    assert snapshot(outside) == expected_outside
    assert (tmp_path / "empty_outside").is_dir()
    if ok:
        assert not os.path.lexists(tmp_path / link)
    else:
        # Wine resolves the link on every open, so the link itself cannot be
        # removed there: the delete must say so rather than reach the target.
        assert lines == ["fail 1920"], lines
        assert (tmp_path / link).is_symlink()


def test_listing_shows_link_but_not_what_lies_behind(run_exe, tmp_path):
    install, _ = make_installation_with_links(tmp_path)
    ok, lines = run_tool(run_exe, "list", windows_path(install))
    assert ok, lines
    prefix = windows_path(install) + "\\"
    listed = sorted(line[:2] + line[2:].removeprefix(prefix) for line in lines[:-1])
    assert listed == ["d linked", "d linked_empty", "d sub", "f sub\\a.txt"]


def wine_reg_values(build_dir, key):
    """name -> data of the REG_SZ values of `key`, read by Wine's reg.exe."""
    result = subprocess.run([str(build_dir / "wine-run"), "reg", "query", key],
                            capture_output=True, check=True, timeout=600)
    values = {}
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split("    ")
        if len(parts) == 3 and parts[1] == "REG_SZ":
            values[parts[0]] = parts[2]
    return values


def test_path_keys_match_shell_folders(build_dir, run_exe):
    user = wine_reg_values(build_dir, r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders")
    common = wine_reg_values(build_dir, r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders")
    version = wine_reg_values(build_dir, r"HKLM\Software\Microsoft\Windows\CurrentVersion")
    quick_launch = user["AppData"] + r"\Microsoft\Internet Explorer\Quick Launch"
    expected = {
        9: user["Desktop"],
        103: version["ProgramFilesDir"],
        104: version["ProgramFilesDir (x86)"],
        105: version["ProgramFilesDir"],
        106: user["Cache"],
        107: common["Common Programs"],
        108: user["Programs"],
        109: user["AppData"],
        110: user["Local AppData"],
        111: common["Common AppData"],
        113: common["Common Desktop"],
        114: quick_launch,
        115: quick_launch + r"\User Pinned\TaskBar",
        116: quick_launch + r"\User Pinned\ImplicitAppShortcuts",
        117: user["Fonts"],
    }
    ok, lines = run_tool(run_exe, "path", *expected)
    assert ok, lines
    answered = dict(line.split(" ", 1) for line in lines[:-1])
    for key, path in expected.items():
        assert answered[str(key)].lower() == path.lower(), key


def test_executable_path_longer_than_max_path_is_not_cut(build_dir, run_exe, tmp_path):
    deep = tmp_path.joinpath(*["folder_" + "x" * 50] * 5)
    deep.mkdir(parents=True)
    shutil.copy(build_dir / TOOL, deep / "file_util_tool.exe")
    exe = windows_path(deep / "file_util_tool.exe")
    assert len(exe) > 260
    result = subprocess.run([str(build_dir / "wine-run"), exe, "path", "6", "2", "8"],
                            capture_output=True, timeout=600)
    lines = result.stdout.decode("utf-8").splitlines()
    assert lines == [f"6 {exe}", f"2 {windows_path(deep)}",
                     f"8 {windows_path(deep.parent.parent)}", "ok"]
