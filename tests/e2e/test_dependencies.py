"""The vendored dependencies, built from Debian's sources, checked against
real peers: hashlib for SHA-256, 7zz for the 7z reader, zipfile for minizip."""

import hashlib
import os
import shutil
import subprocess
import zipfile

import pytest

from conftest import windows_path

PROBE = "tests/tools/dependency_probe.exe"


def test_sha256_matches_hashlib(run_exe, tmp_path):
    # Lengths around the 64-byte block and a large buffer cross every path of
    # the assembly (one block, padding spill, many blocks).
    for length in (0, 55, 56, 64, 65, 3 * 1024 * 1024 + 7):
        data = os.urandom(length)
        path = tmp_path / f"data{length}"
        path.write_bytes(data)
        result = run_exe(PROBE, "sha256", windows_path(path), check=True)
        assert result.stdout.decode().strip() == hashlib.sha256(data).hexdigest(), length


def test_cleanse_zeroes_memory(run_exe):
    assert run_exe(PROBE, "cleanse").returncode == 0


@pytest.mark.skipif(shutil.which("7zz") is None, reason="7zz is installed by scripts/setup")
def test_extracts_7z_made_with_bcj2(run_exe, tmp_path):
    source = tmp_path / "package"
    (source / "bin").mkdir(parents=True)
    # Executable-looking data so that the BCJ2 filter has calls to convert.
    code = bytes([0xE8, 1, 2, 3, 4, 0x90, 0xE9, 5, 6, 7, 8, 0x0F, 0x84, 9, 9, 9, 9]) * 4096
    files = {"bin/app.exe": code + os.urandom(5000), "readme.txt": b"hello\r\n" * 100,
             "empty.dat": b""}
    for name, data in files.items():
        (source / name).write_bytes(data)
    archive = tmp_path / "package.7z"
    subprocess.run(["7zz", "a", "-bd", "-m0=BCJ2", "-m1=LZMA:d=1m", "-m2=LZMA:d=64k",
                    "-m3=LZMA:d=64k", "-mb0s0:1", "-mb0s1:2", "-mb0s2:3", str(archive), "."],
                   cwd=source, check=True, capture_output=True)
    listing = subprocess.run(["7zz", "l", "-slt", str(archive)], capture_output=True,
                             check=True).stdout.decode()
    assert "BCJ2" in listing

    out = tmp_path / "out"
    out.mkdir()
    result = run_exe(PROBE, "extract7z", windows_path(archive), windows_path(out))
    assert result.returncode == 0, result.stderr
    for name, data in files.items():
        assert (out / name).read_bytes() == data, name


def test_zip_is_read_back_by_zipfile(run_exe, tmp_path):
    log = tmp_path / "crash.log"
    log.write_bytes(b"line of a crash log\r\n" * 5000)
    blob = tmp_path / "blob.bin"
    blob.write_bytes(os.urandom(70000))
    archive = tmp_path / "upload.zip"
    result = run_exe(PROBE, "zip", windows_path(archive), f"crash.log={windows_path(log)}",
                     f"data/blob.bin={windows_path(blob)}")
    assert result.returncode == 0, result.stderr
    with zipfile.ZipFile(archive) as z:
        assert z.testzip() is None
        assert z.read("crash.log") == log.read_bytes()
        assert z.read("data/blob.bin") == blob.read_bytes()
        assert z.getinfo("crash.log").compress_type == zipfile.ZIP_DEFLATED
        assert z.getinfo("crash.log").compress_size < 5000
