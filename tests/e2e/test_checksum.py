"""The installer's file checksums against sha256sum, at the SHA-256 padding
boundaries, on an empty file (which Windows cannot map) and on a few MB."""

import random
import subprocess

from conftest import windows_path

TOOL = "desktop/windows/installer/checksum_tool.exe"

LENGTHS = [0, 1, 55, 56, 64, 65, 3 * 1024 * 1024 + 17]


def sha256sum(paths):
    output = subprocess.run(["sha256sum", "--binary", *map(str, paths)], check=True,
                            capture_output=True, text=True).stdout
    return [line.split()[0] for line in output.splitlines()]


def test_checksums_agree_with_sha256sum(run_exe, tmp_path):
    rng = random.Random(2107)
    paths = []
    for length in LENGTHS:
        path = tmp_path / f"input{length}.bin"
        path.write_bytes(rng.randbytes(length))
        paths.append(path)
    expected = sha256sum(paths)
    assert expected[0] == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"

    # Each file twice: with sha256sum's text, then with the same text in
    # upper case, which is not the checksum's form and must not match.
    arguments = []
    for path, digest in zip(paths, expected):
        arguments += [windows_path(path), digest, windows_path(path), digest.upper()]
    lines = run_exe(TOOL, *arguments, check=True).stdout.decode().splitlines()

    assert len(lines) == 2 * len(paths)
    for i, (length, digest) in enumerate(zip(LENGTHS, expected)):
        assert lines[2 * i] == f"{digest} 1", f"length {length}"
        assert lines[2 * i + 1] == f"{digest} 0", f"length {length}, upper case"

