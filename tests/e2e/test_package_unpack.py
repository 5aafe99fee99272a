"""Unpacking of 7z packages against 7zz: archives of every kind the
package may use, made by 7zz from one staged tree, unpacked by our tool and
by `7zz x`; the two trees must match (diff -r) with the same file times.
Names that would leave the package folder, and names that differ only in
case, are made by 7zz from a staged tree too, and must fail the unpack with
nothing written."""

import os
import random
import shutil
import subprocess
import time

import pytest

import installer_files
from conftest import windows_path

TOOL = "desktop/windows/installer/package_tool.exe"
PE_FILE = "base/argv_echo.exe"  # a real PE of ours, for the BCJ filters

NO_TIMES = ["-mtm=off", "-mtc=off", "-mta=off"]
KINDS = {
    "lzma_solid": (["-m0=LZMA", "-ms=on"], "LZMA"),
    "lzma2_not_solid": (["-m0=LZMA2", "-ms=off"], "LZMA2"),
    "bcj_lzma": (["-mf=BCJ", "-m0=LZMA"], "BCJ"),
    "bcj2": (["-mf=BCJ2"], "BCJ2"),
    "bcj2_lzma_chain": (["-m0=BCJ2", "-m1=LZMA", "-m2=LZMA", "-m3=LZMA", "-mb0:1", "-mb0s1:2",
                         "-mb0s2:3"], "BCJ2"),
    "stored": (["-mx=0"], "Copy"),
    "no_times": (NO_TIMES, "LZMA2"),
    # Several threads cut the stream into parts that are decoded side by side.
    "lzma2_parts": (["-m0=LZMA2:c=256k", "-mmt=4"], "LZMA2"),
}


def stage_tree(root, build_dir):
    rng = random.Random(104)
    files = {
        "random.bin": rng.randbytes(300_000),
        "zeros.bin": bytes(1_000_000),
        "tarvo.exe": (build_dir / PE_FILE).read_bytes(),
        "nested/deeper/notes.txt": b"line\r\n" * 500,
        "nested/empty.dat": b"",
        "empty.txt": b"",
        "ünïcödé/файл.txt": "données".encode(),
        "日本語.txt": rng.randbytes(5000),
    }
    for number, (name, data) in enumerate(sorted(files.items())):
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        # 100 ns steps, as 7z keeps them.
        stamp = 1_500_000_000_000_000_000 + number * 86_400_123_456_700
        os.utime(path, ns=(stamp, stamp))
    (root / "empty_folder").mkdir()
    (root / "nested/empty_inner").mkdir()


@pytest.fixture(scope="module")
def tree(build_dir, tmp_path_factory):
    root = tmp_path_factory.mktemp("tree") / "package"
    root.mkdir()
    stage_tree(root, build_dir)
    return root


def make_archive(tree, archive, switches):
    subprocess.run(["7zz", "a", "-bso0", "-bsp0", *switches, str(archive), "."], cwd=tree,
                   check=True)
    return archive


def methods(archive):
    listing = subprocess.run(["7zz", "l", "-slt", str(archive)], check=True, capture_output=True,
                             text=True).stdout
    return " ".join(line for line in listing.splitlines() if line.startswith("Method = "))


def unpack(run_exe, archive, destination, *switches):
    completed = run_exe(TOOL, "unpack", windows_path(archive), windows_path(destination),
                        *switches, check=True)
    fields = dict(line.split(" ", 1) if " " in line else (line, "")
                  for line in completed.stdout.decode().splitlines())
    return fields, completed.stderr.decode()


def reference(archive, destination):
    subprocess.run(["7zz", "x", "-bso0", "-bsp0", f"-o{destination}", str(archive)], check=True)
    return destination


def file_times(root):
    return {str(path.relative_to(root)): path.stat().st_mtime_ns
            for path in root.rglob("*") if path.is_file()}


@pytest.mark.parametrize("kind", KINDS)
def test_unpacks_like_7zz(run_exe, tree, tmp_path, kind):
    switches, method = KINDS[kind]
    archive = make_archive(tree, tmp_path / f"{kind}.7z", switches)
    assert method in methods(archive).replace(":", " ").split()
    expected = reference(archive, tmp_path / "expected")
    destination = tmp_path / "package"
    destination.mkdir()  # the package folder exists: the block goes to a mapped file
    started = time.time_ns()

    fields, log = unpack(run_exe, archive, destination, "--v=1")

    assert fields["result"] == "0", log
    assert fields["error_state"] == "0"
    subprocess.run(["diff", "-r", str(expected), str(destination)], check=True)
    assert "No temporary file" not in log
    assert (" parts on " in log) == (kind == "lzma2_parts"), log
    entries = int(fields["total"])
    assert fields["progress"] == ",".join(map(str, range(entries)))
    if kind == "no_times":
        # Both keep the time each file was written.
        slack = 2_000_000_000
        assert all(t >= started - slack for t in file_times(destination).values())
    else:
        assert file_times(destination) == file_times(expected)
        assert file_times(destination) == file_times(tree)


def test_without_its_folder_the_block_is_unpacked_on_the_heap(run_exe, tree, tmp_path):
    # BCJ2 is decoded a whole block at a time (the other kinds stream).
    archive = make_archive(tree, tmp_path / "solid.7z", ["-ms=on", "-mf=BCJ2"])
    expected = reference(archive, tmp_path / "expected")
    destination = tmp_path / "not" / "yet"

    fields, log = unpack(run_exe, archive, destination, "--v=1")

    assert fields["result"] == "0", log
    assert "No temporary file for unpacking" in log
    subprocess.run(["diff", "-r", str(expected), str(destination)], check=True)
    assert file_times(destination) == file_times(expected)


def test_unsupported_method_fails_cleanly(run_exe, tree, tmp_path):
    archive = make_archive(tree, tmp_path / "ppmd.7z", ["-m0=PPMd"])
    assert "PPMD" in methods(archive)
    destination = tmp_path / "package"
    destination.mkdir()

    fields, log = unpack(run_exe, archive, destination)

    assert (fields["result"], fields["error_state"]) == ("6", "4")
    assert "Error returned by SzExtract: 4" in log  # SZ_ERROR_UNSUPPORTED
    # Only entries without data (7z lists them first) were made.
    assert all(path.stat().st_size == 0 for path in destination.rglob("*") if path.is_file())


def test_archive_cut_short_fails_cleanly(run_exe, tree, tmp_path):
    archive = make_archive(tree, tmp_path / "whole.7z", [])
    data = archive.read_bytes()
    cut = tmp_path / "cut.7z"
    cut.write_bytes(data[:len(data) // 2])
    destination = tmp_path / "package"

    fields, log = unpack(run_exe, cut, destination)

    assert (fields["result"], fields["error_state"]) == ("6", "3")
    assert "Error returned by SzArchiveOpen: " in log
    assert not destination.exists()


def test_missing_archive(run_exe, tmp_path):
    fields, _ = unpack(run_exe, tmp_path / "missing.7z", tmp_path / "package")
    assert (fields["open"], fields["result"], fields["error_state"]) == ("2", "6", "1")


# Names 7zz stores as they are given: with -spf it keeps "..", absolute
# paths and, from Linux names, ':' and '\' characters.
ESCAPING_NAMES = [
    ("../evil.txt", "dotdot"),
    ("a\\..\\..\\evil.txt", "backslash_dotdot"),
    ("sub/.../evil.txt", "dots"),
    ("C:evil.txt", "drive"),
    ("C:\\evil.txt", "drive_root"),
    ("ABSOLUTE", "absolute"),
    ("sub/CON", "device"),
    ("good.txt:stream", "stream"),
    # Inside the folder, but its path there passes MAX_PATH.
    ("LONG", "too_long"),
]
LONG_ENTRY = "d" * 150 + "/" + "e" * 110 + ".txt"


@pytest.mark.parametrize("name,label", ESCAPING_NAMES, ids=[label for _, label in ESCAPING_NAMES])
def test_entries_leaving_the_folder_fail_the_unpack(run_exe, tmp_path, name, label):
    work = tmp_path / "work" / "stage"
    work.mkdir(parents=True)
    (work / "good.txt").write_text("good")
    if name == "ABSOLUTE":
        outside = tmp_path / "absolute.txt"
        outside.write_text("evil")
        name = str(outside)
    elif name == "LONG":
        name = LONG_ENTRY
        (work / name).parent.mkdir(parents=True)
        (work / name).write_text("deep")
    elif name.startswith("../"):
        (work.parent / "evil.txt").write_text("evil")
    else:
        (work / name).parent.mkdir(parents=True, exist_ok=True)
        (work / name).write_text("evil")
    archive = tmp_path / "escape.7z"
    subprocess.run(["7zz", "a", "-bso0", "-spf", str(archive), "good.txt", name], cwd=work,
                   check=True)
    assert any(line == "Path = " + name for line in subprocess.run(
        ["7zz", "l", "-slt", str(archive)], capture_output=True, text=True).stdout.splitlines())
    unpack_root = tmp_path / "unpack"
    destination = unpack_root / "package"
    destination.mkdir(parents=True)
    before = sorted(p for p in tmp_path.rglob("*") if unpack_root not in p.parents)

    fields, log = unpack(run_exe, archive, destination)

    if label == "too_long":
        length = len(windows_path(destination / LONG_ENTRY))
        assert (fields["result"], fields["error_state"]) == ("206", "7")  # ..._EXCED_RANGE
        assert f"Archive entry path too long: {length} characters, at most 259" in log
    else:
        assert (fields["result"], fields["error_state"]) == ("161", "7")  # ERROR_BAD_PATHNAME
        assert "Archive entry outside the destination folder" in log
    assert list(unpack_root.rglob("*")) == [destination]  # not even good.txt
    assert sorted(p for p in tmp_path.rglob("*") if unpack_root not in p.parents) == before


# Names that differ only in case are two files where the package is packed
# and one here: 7zz keeps both, and a package that names one file twice is
# refused, every time, before anything is written, whether the two entries
# follow each other (the writer's threads would make them at once) or lie
# far apart.
@pytest.mark.parametrize("between", [0, 40], ids=["close_together", "far_apart"])
def test_entries_naming_one_windows_path_are_refused_every_time(run_exe, tmp_path, between):
    rng = random.Random(42)
    stage = tmp_path / "stage"
    stage.mkdir()
    (stage / "Readme.txt").write_bytes(rng.randbytes(300_000))
    (stage / "README.TXT").write_text("later")
    for i in range(between):  # "Rb..." sorts between "README.TXT" and "Readme.txt"
        (stage / f"Rb{i:03}.bin").write_bytes(rng.randbytes(50_000))
    archive = make_archive(stage, tmp_path / "case.7z", [])
    listing = subprocess.run(["7zz", "l", "-slt", str(archive)], check=True,
                             capture_output=True, text=True).stdout
    names = [line[len("Path = "):] for line in listing.splitlines()
             if line.startswith("Path = ")][1:]
    assert names.index("Readme.txt") - names.index("README.TXT") == between + 1

    for attempt in range(6):
        destination = tmp_path / f"package{attempt}"
        destination.mkdir()
        fields, log = unpack(run_exe, archive, destination)
        assert (fields["result"], fields["error_state"]) == ("80", "7"), log  # ERROR_FILE_EXISTS
        assert "Archive entries naming one path: README.TXT and Readme.txt" in log
        assert list(destination.iterdir()) == []


def test_folder_that_cannot_be_made_fails_the_unpack(run_exe, tree, tmp_path):
    archive = make_archive(tree, tmp_path / "package.7z", [])
    destination = tmp_path / "package"
    destination.mkdir()
    (destination / "empty_folder").write_text("a file where the folder goes")

    fields, log = unpack(run_exe, archive, destination)

    assert fields["error_state"] == "7", log
    assert fields["result"] != "0"
    assert fields["output_file"].endswith("\\empty_folder")


def damage(data, at):
    return data[:at] + bytes([data[at] ^ 0x55]) + data[at + 1:]


# A package inside its installer file is read where it lies (the threads
# that decode later parts read it there too); damage in a streamed block is
# caught by its CRC, as the whole-block extraction does.
@pytest.mark.parametrize("kind,damaged", [
    ("lzma_solid", False), ("bcj_lzma", False), ("stored", False), ("lzma2_parts", False),
    ("lzma_solid", True), ("stored", True)])
def test_unpacks_in_place_and_refuses_damaged_blocks(run_exe, tree, tmp_path, kind, damaged):
    switches, _ = KINDS[kind]
    archive = make_archive(tree, tmp_path / f"{kind}.7z", switches).read_bytes()
    expected = reference(tmp_path / f"{kind}.7z", tmp_path / "expected")
    if damaged:
        # Past the signature header, inside the packed data.
        archive = damage(archive, 32 + 1000)
    installer = tmp_path / "installer.exe"
    prefix, suffix = b"MZ" + bytes(4094), b"TRV" + bytes(8)
    installer.write_bytes(prefix + archive + suffix)
    destination = tmp_path / "package"
    destination.mkdir()

    fields, log = unpack(run_exe, installer, destination,
                         f"--window={len(prefix)}:{len(archive)}")

    if damaged:
        assert (fields["result"], fields["error_state"]) == ("6", "4"), log
        assert "Error returned by SzExtract: " in log
    else:
        assert (fields["result"], fields["error_state"]) == ("0", "0"), log
        subprocess.run(["diff", "-r", str(expected), str(destination)], check=True)
        assert file_times(destination) == file_times(expected)


def lzma2_parts(archive):
    """Offsets of the chunks that reset the dictionary in the first block's
    LZMA2 stream, which starts right after the signature header."""
    starts, at = [], 32
    while archive[at] != 0:
        control = archive[at]
        if control in (1, 2):
            header, packed = 3, int.from_bytes(archive[at + 1:at + 3], "big") + 1
        else:
            header = 6 if control >= 0xC0 else 5
            packed = int.from_bytes(archive[at + 3:at + 5], "big") + 1
        if control == 1 or control >= 0xE0:
            starts.append(at)
        at += header + packed
    return starts


# A damaged later part fails the unpack whether its data (decoded on a thread
# of its own) or its header (which the walk of the headers reads) was hit.
@pytest.mark.parametrize("where", ["data", "header"])
def test_damaged_later_part_is_refused(run_exe, tree, tmp_path, where):
    switches, _ = KINDS["lzma2_parts"]
    archive = make_archive(tree, tmp_path / "parts.7z", switches).read_bytes()
    parts = lzma2_parts(archive)
    assert len(parts) >= 4
    last = parts[-1]
    damaged = tmp_path / "damaged.7z"
    damaged.write_bytes(damage(archive, last + 100 if where == "data" else last))
    destination = tmp_path / "package"
    destination.mkdir()

    fields, log = unpack(run_exe, damaged, destination)

    assert (fields["result"], fields["error_state"]) == ("6", "4"), log
    assert "Error returned by SzExtract: " in log


def test_release_packing_cuts_the_stream_into_parts_and_filters_programs(run_exe, build_dir,
                                                                         tmp_path):
    # Three parts and a bit of data beside a program, packed as releases are.
    tree = tmp_path / "release"
    (tree / "bin").mkdir(parents=True)
    shutil.copy(build_dir / PE_FILE, tree / "bin" / "tarvo.exe")
    part = int(installer_files.PART_SIZE.rstrip("m")) << 20
    block = random.Random(35).randbytes(1 << 16)
    (tree / "data.bin").write_bytes(block * (3 * part // len(block) + 7))
    archive = tmp_path / "release.7z"
    data = installer_files.pack(tree, archive)

    listing = {}
    for entry in subprocess.run(["7zz", "l", "-slt", str(archive)], check=True,
                                capture_output=True, text=True).stdout.split("\n\n"):
        fields = dict(line.split(" = ", 1) for line in entry.splitlines() if " = " in line)
        if "Path" in fields:
            listing[fields["Path"]] = fields
    assert listing["bin/tarvo.exe"]["Method"].split()[0] == "BCJ"
    assert listing["data.bin"]["Method"].startswith("LZMA2")
    assert listing["data.bin"]["Block"] == "0"  # its stream is the first, at 32
    assert len(lzma2_parts(data)) == 4
    expected = reference(archive, tmp_path / "expected")
    destination = tmp_path / "package"
    destination.mkdir()

    fields, log = unpack(run_exe, archive, destination, "--v=1")

    assert (fields["result"], fields["error_state"]) == ("0", "0"), log
    assert "Decoding a block in 4 parts" in log, log
    subprocess.run(["diff", "-r", str(expected), str(destination)], check=True)
