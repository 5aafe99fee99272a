"""The payload of installer files built here: a real PE of this build (and a
minimal PE32) with the trailer "TRV", payload, 32-bit length appended, and
signed with osslsigncode before or after. osslsigncode pads the signed part
to 8 bytes with zeros before the certificate table, so files are built both
aligned and not. Lengths near 2^32 are crafted into small files."""

import hashlib
import random
import struct

import pytest

from conftest import windows_path
from test_signature import EXPECTED_SIGNER, Pki, minimal_pe32

TOOL = "desktop/windows/installer/package_tool.exe"
PE_FILE = "base/argv_echo.exe"
SEVEN_ZIP_SIGNATURE = bytes.fromhex("377ABCAF271C")

TRACKING = b'{"tracking":"campaign=42"}'
PACKAGE = SEVEN_ZIP_SIGNATURE + random.Random(103).randbytes(5000)


def trailer(payload):
    return b"TRV" + payload + struct.pack("<I", len(payload))


def aligned(image, payload):
    """`image` with zeros appended so that image + trailer is 8-byte aligned:
    signing then adds no padding."""
    return image + bytes(-(len(image) + len(trailer(payload))) % 8)


def certificate_entry_offset(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    pe32 = struct.unpack_from("<H", image, pe + 4)[0] == 0x14C
    return pe + (152 if pe32 else 168)


def read_payload(run_exe, path, *switches):
    completed = run_exe(TOOL, "payload", windows_path(path), "--v=1", *switches, check=True)
    fields = dict(line.split(" ", 1) for line in completed.stdout.decode().splitlines())
    return fields, completed.stderr.decode()


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    return Pki(tmp_path_factory.mktemp("pki"))


@pytest.fixture(scope="module")
def image(build_dir):
    return (build_dir / PE_FILE).read_bytes()


def signed(pki, tmp_path, data, name):
    source = tmp_path / f"{name}.unsigned.exe"
    source.write_bytes(data)
    return pki.sign("good", source, tmp_path / f"{name}.exe").read_bytes()


# (case, how the file is built, expected type, a log line that must be there)
BUILDS = [
    ("unsigned_tracking", lambda s, im: im + trailer(TRACKING), 1, TRACKING, None),
    ("unsigned_package", lambda s, im: im + trailer(PACKAGE), 3, PACKAGE, None),
    ("unsigned_without_payload", lambda s, im: im, 0, b"", "No valid payload found"),
    ("signed_then_tracking", lambda s, im: s(im, "a") + trailer(TRACKING), 1, TRACKING, None),
    ("signed_then_package", lambda s, im: s(im, "b") + trailer(PACKAGE), 4, b"",
     "Found full package that is not covered by the signature"),
    ("tracking_then_signed", lambda s, im: s(aligned(im, TRACKING) + trailer(TRACKING), "c"), 1,
     TRACKING, None),
    ("package_then_signed", lambda s, im: s(aligned(im, PACKAGE) + trailer(PACKAGE), "d"), 3,
     PACKAGE, None),
    ("package_then_signed_padded",
     lambda s, im: s(aligned(im, PACKAGE) + b"\x01" + trailer(PACKAGE), "e"), 3, PACKAGE, None),
    ("tracking_then_signed_padded",
     lambda s, im: s(aligned(im, TRACKING) + b"\x01\x02\x03" + trailer(TRACKING), "f"), 1,
     TRACKING, None),
    # A length at the end larger than the file: the position before the
    # certificate table is still tried.
    ("package_then_signed_then_long_length",
     lambda s, im: s(aligned(im, PACKAGE) + trailer(PACKAGE), "g") + struct.pack("<I", 10**9), 3,
     PACKAGE, "Could not find a valid starting position"),
    ("signed_then_bad_token", lambda s, im: s(im, "h") + b"XYZ" + TRACKING
     + struct.pack("<I", len(TRACKING)), 0, b"", "Payload data invalid"),
    ("pe32_package_then_signed",
     lambda s, im: s(aligned(minimal_pe32(), PACKAGE) + trailer(PACKAGE), "i"), 3, PACKAGE, None),
    ("not_a_pe", lambda s, im: b"NZ" + im[2:] + trailer(TRACKING), 4, b"", None),
    # What is neither a package nor short text is a damaged package.
    ("damaged_package_signature", lambda s, im: im + trailer(b"8" + PACKAGE[1:]), 4, b"",
     "Payload is neither a package nor tracking data"),
    ("tracking_with_nul", lambda s, im: im + trailer(TRACKING + b"\0"), 4, b"",
     "Payload is neither a package nor tracking data"),
    ("tracking_over_64_kib", lambda s, im: im + trailer(b"a" * (64 * 1024 + 1)), 4, b"",
     "Payload is neither a package nor tracking data"),
    ("tracking_of_64_kib", lambda s, im: im + trailer(b"a\tb\r\n" * 13107), 1,
     b"a\tb\r\n" * 13107, None),
    ("package_with_damaged_length",
     lambda s, im: im + b"TRV" + PACKAGE + struct.pack("<I", len(PACKAGE) - 1), 4, b"",
     "Found a package whose trailer is damaged"),
    ("package_then_signed_then_table_cut",
     lambda s, im: s(aligned(im, PACKAGE) + trailer(PACKAGE), "j")[:-16], 4, b"",
     "Security directory runs past the image file length"),
    ("no_pe_signature", lambda s, im: im[:0x3C] + struct.pack("<I", 0x3C) + im[0x40:]
     + trailer(TRACKING), 4, b"", None),
]


@pytest.mark.parametrize("case,build,expected_type,data,log_line", BUILDS,
                         ids=[b[0] for b in BUILDS])
def test_payload_type_and_data(run_exe, pki, image, tmp_path, case, build, expected_type, data,
                               log_line):
    path = tmp_path / "installer.exe"
    path.write_bytes(build(lambda d, name: signed(pki, tmp_path, d, name), image))

    fields, log = read_payload(run_exe, path)

    names = ["none", "tracking_data", "external_tracking_data", "full_package", "corrupted"]
    assert (fields["type"], fields["name"]) == (str(expected_type), names[expected_type]), log
    assert fields["sha256"] == hashlib.sha256(data).hexdigest()
    assert fields["length"] == str(len(data))
    if log_line:
        assert log_line in log


def crafted_lengths(image):
    """Files whose numbers near 2^32 wrap 32-bit offset sums."""
    entry = certificate_entry_offset(image)

    def with_table(offset, size):
        crafted = bytearray(image)
        struct.pack_into("<II", crafted, entry, offset, size)
        return bytes(crafted)

    return [
        # L + 3 wraps to 2 or 0: the token would be read before the file.
        ("length_2^32-1", image + b"TRV" + struct.pack("<I", 0xFFFFFFFF), 0,
         "Could not find a valid starting position"),
        ("length_2^32-3", image + struct.pack("<I", 0xFFFFFFFD), 0,
         "Could not find a valid starting position"),
        # The same before a certificate table.
        ("length_2^32-1_before_table",
         with_table(len(image) + 4, 8) + struct.pack("<I", 0xFFFFFFFF) + bytes(8), 0,
         "Could not find a valid starting position"),
        # A table offset below 4 leaves no room for a length before it.
        ("table_offset_2", with_table(2, 16), 0, "No valid payload found"),
        ("table_past_the_end", with_table(0xFFFFFFF0, 16), 4,
         "Security directory is located past the image file length"),
        # e_lfanew near 2^32: the PE signature would be read before the file.
        ("pe_offset_2^32-4", image[:0x3C] + struct.pack("<I", 0xFFFFFFFC) + image[0x40:], 4, None),
    ]


@pytest.mark.parametrize("index", range(6))
def test_numbers_near_2_to_the_32_stay_inside_the_file(run_exe, image, tmp_path, index):
    case, data, expected_type, log_line = crafted_lengths(image)[index]
    path = tmp_path / "crafted.exe"
    path.write_bytes(data)

    fields, log = read_payload(run_exe, path)

    assert fields["type"] == str(expected_type), (case, log)
    assert fields["length"] == "0"
    if log_line:
        assert log_line in log, case


def test_external_tracking_data_replaces_the_files_own(run_exe, image, tmp_path):
    path = tmp_path / "installer.exe"
    path.write_bytes(image + trailer(random.Random(2).randbytes(500)))
    written = tmp_path / "tracking.bin"

    fields, _ = read_payload(run_exe, path, "--external=0123456789", f"--write={written}")

    assert (fields["type"], fields["name"], fields["written"]) == (
        "2", "external_tracking_data", "1")
    assert written.read_bytes() == b"0123456789"


def test_large_package_is_written_whole(run_exe, image, tmp_path):
    package = SEVEN_ZIP_SIGNATURE + random.Random(7).randbytes(40 * 1024 * 1024 + 13)
    path = tmp_path / "installer.exe"
    path.write_bytes(image + trailer(package))
    written = tmp_path / "package.7z"

    fields, log = read_payload(run_exe, path, f"--write={windows_path(written)}")

    assert (fields["type"], fields["written"]) == ("3", "1")
    assert f"Writing payload to file{windows_path(written)}" in log
    assert hashlib.sha256(written.read_bytes()).hexdigest() == hashlib.sha256(package).hexdigest()


@pytest.mark.parametrize("data", [b"NZ", b""])
def test_nothing_to_write_without_a_payload(run_exe, image, tmp_path, data):
    path = tmp_path / "installer.exe"
    path.write_bytes(data + image[len(data):])  # corrupted, or a PE without payload
    written = tmp_path / "out.bin"

    fields, _ = read_payload(run_exe, path, f"--write={windows_path(written)}")

    assert fields["type"] == ("4" if data else "0")
    assert fields["length"] == "0"
    assert fields["written"] == "0"
    assert not written.exists()
