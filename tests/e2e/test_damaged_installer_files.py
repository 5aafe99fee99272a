"""Damaged copies of the build's signed full installer
(installer_files/full, see installer_files.py): each is refused as a
corrupted installer at once, without going online, and its log stays short
whatever the damaged file carried."""

import shutil
import struct

import pytest

from conftest import Logs, run_installer
from installer_files import SEVEN_ZIP_SIGNATURE, BuildKeys, installer_file, trailer

FULL = "installer_files/full"
PACKAGE = "installer_files/package.7z"
# The bound of a log line: a bounded, escaped prefix of outside data (the
# command line's is the longest) and the rest of the line.
MAX_LINE = 2048 + 512
PACKAGE_HEAD = b"TRV" + SEVEN_ZIP_SIGNATURE


def certificate_table(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    return struct.unpack_from("<II", image, pe + 168)


def length_field(image):
    """The offset of the package trailer's length field, before the table."""
    start = image.index(PACKAGE_HEAD) + 3
    table, _ = certificate_table(image)
    for padding in range(8):
        position = table - padding - 4
        if struct.unpack_from("<I", image, position)[0] == position - start:
            return position
    raise AssertionError("no trailer before the certificate table")


def flipped(image, offset, mask=0xFF):
    data = bytearray(image)
    data[offset] ^= mask
    return bytes(data)


DAMAGES = {
    "7z-signature-flipped": lambda image, build_dir: flipped(
        image, image.index(PACKAGE_HEAD) + 3),
    "length-low-byte-flipped": lambda image, build_dir: flipped(image, length_field(image)),
    "length-high-byte-flipped": lambda image, build_dir: flipped(
        image, length_field(image) + 3, 0x80),
    "certificate-table-cut": lambda image, build_dir: image[:certificate_table(image)[0] + 16],
    "package-appended-unsigned": lambda image, build_dir: image + trailer(
        (build_dir / PACKAGE).read_bytes()),
}


def damaged_full_installer(build_dir, folder, damage):
    shutil.copytree(build_dir / FULL, folder)
    installer = folder / "installer.exe"
    installer.write_bytes(DAMAGES[damage](installer.read_bytes(), build_dir))
    return installer


@pytest.mark.parametrize("damage", [*DAMAGES, "tracking-data-over-64-kib",
                                    "tracking-data-with-control-bytes"])
def test_damaged_installer_ends_at_once_as_corrupted(build_dir, tmp_path, logs, damage):
    folder = tmp_path / "installer"
    if damage.startswith("tracking-data"):
        payload = (b"x" * (64 * 1024 + 1) if damage.endswith("64-kib")
                   else b'{"uuid":"a"}\x00\x1b[2J')
        installer = installer_file(build_dir, folder, BuildKeys(build_dir), payload)
    else:
        installer = damaged_full_installer(build_dir, folder, damage)
    marker = Logs.marker()

    # No update server is reachable: going online would retry for an hour,
    # so the run's own timeout is the hang guard.
    result = run_installer(build_dir, installer, "--silent", marker)

    assert result.returncode == 1
    texts = logs.of(marker).values()
    assert any("Corrupted payload" in text for text in texts), texts
    for text in texts:
        assert "Tracking data: " not in text
        assert max(map(len, text.splitlines())) <= MAX_LINE
