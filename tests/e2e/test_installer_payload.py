"""What installer.exe reads from its own file at start-up, as its log tells:
payload trailers built with Python's struct, packages made by 7zz, and
copies signed by osslsigncode before or after the trailer was added; and the
tracking keys taken from tracking data (base64 around JSON)."""

import base64
import json
import shutil
import struct
import subprocess

import pytest

from conftest import INSTALLER, LIBRARY, Logs, run_installer
from installer_files import BuildKeys


SEVEN_ZIP_SIGNATURE = b"7z\xbc\xaf\x27\x1c"


def trailer(payload):
    return b"TRV" + payload + struct.pack("<I", len(payload))


def tracking_data(fields):
    return base64.b64encode(json.dumps(fields).encode())


@pytest.fixture(scope="module")
def seven_zip_package(tmp_path_factory):
    folder = tmp_path_factory.mktemp("package")
    (folder / "files_list").write_text("tarvo.exe\r\n")
    subprocess.run(["7zz", "a", "-bd", str(folder / "package.7z"), str(folder / "files_list")],
                   check=True, capture_output=True)
    return (folder / "package.7z").read_bytes()


@pytest.fixture(scope="module")
def pki(build_dir):
    return BuildKeys(build_dir)


def make_installer(build_dir, folder, pki, inside=None, appended=None):
    """installer.exe with `inside` added before signing (so it lies right
    before the certificate table) and `appended` after; signed only when
    something is to lie inside."""
    folder.mkdir(exist_ok=True)
    shutil.copy(build_dir / LIBRARY, folder)
    image = (build_dir / INSTALLER).read_bytes()
    target = folder / "installer.exe"
    if inside is None:
        target.write_bytes(image)
    else:
        # Signing aligns the certificate table to 8 bytes: a payload meant
        # to end right before it is padded to that: tracking data with
        # blanks, which its reader skips, an archive with zeros.
        padding = -(len(image) + len(trailer(inside))) % 8
        fill = b"\0" if inside.startswith(SEVEN_ZIP_SIGNATURE) else b" "
        padded = inside + fill * padding
        unsigned = folder / "unsigned.exe"
        unsigned.write_bytes(image + trailer(padded))
        pki.sign("good", unsigned, target)
        unsigned.unlink()
        # A signed installer checks what it runs against the build's
        # publisher: its library is signed alike.
        (folder / "tarvo_installer.dll").unlink()
        pki.sign("good", build_dir / LIBRARY, folder / "tarvo_installer.dll")
    if appended is not None:
        target.write_bytes(target.read_bytes() + trailer(appended))
    return target


TRACKING = tracking_data({"utm": {"defbr": "true", "fsce": "false"}, "uuid": "{abc-123}"})


@pytest.mark.parametrize("inside, appended, logged, not_logged", [
    (None, None, ["No valid payload found", "Failed reading payload"], ["Tracking data:"]),
    (None, TRACKING, ["Tracking data: " + TRACKING.decode()], ["Failed reading payload"]),
    (None, "package", ["Found full package"], ["Failed reading payload"]),
    (TRACKING, None, ["Tracking data: " + TRACKING.decode()], ["Failed reading payload"]),
    ("package", None, ["Found full package"], ["not covered"]),
    (b"{}", TRACKING, ["Tracking data: " + TRACKING.decode()], []),
    (b"{}", "package", ["Found full package that is not covered by the signature"],
     ["Found full package\n", "Failed reading payload"]),
], ids=["none", "tracking-unsigned", "package-unsigned", "tracking-signed", "package-signed",
        "tracking-after-signature", "package-after-signature"])
def test_payload_found_where_the_signature_allows(build_dir, tmp_path, pki, seven_zip_package,
                                                  logs, inside, appended, logged, not_logged):
    package = lambda data: seven_zip_package if data == "package" else data  # noqa: E731
    installer = make_installer(build_dir, tmp_path / "installer", pki, package(inside),
                               package(appended))
    marker = Logs.marker()
    assert run_installer(build_dir, installer, marker).returncode == 1
    text = logs.one(marker)[1]
    for line in logged:
        assert line in text
    for line in not_logged:
        assert line not in text


@pytest.mark.parametrize("fields, switches, expected", [
    ({"utm": {"defbr": "true", "fsce": "false"}, "uuid": "abc-123"}, [],
     ["defbr:true", "fsce:false", "niuid:abc-123"]),
    ({"utm": {"defbr": "True", "fsce": "true"}}, [], ["defbr:True", "fsce:true"]),
    ({"utm": {"defbr": "true"}, "uuid": "abc-123"}, [], ["niuid:abc-123"]),
    ({"utm": {"defbr": "true", "fsce": "false"}, "uuid": "abc-123"}, ["--copyonly=1"], []),
], ids=["all", "not-exactly-true", "defbr-without-fsce", "copy-only"])
def test_tracking_keys(build_dir, tmp_path, pki, logs, fields, switches, expected):
    installer = make_installer(build_dir, tmp_path / "installer", pki,
                               appended=tracking_data(fields))
    marker = Logs.marker()
    run_installer(build_dir, installer, marker, *switches)
    text = logs.one(marker)[1]
    found = [line.split("] ", 1)[1] for line in text.splitlines()
             if line.split("] ", 1)[-1].split(":")[0] in ("defbr", "fsce", "niuid")]
    assert found == expected


def test_server_tracking_blob_stands_in_for_a_missing_payload(build_dir, logs):
    marker = Logs.marker()
    blob = tracking_data({"uuid": "from-server"}).decode()
    run_installer(build_dir, build_dir / INSTALLER, marker, f"--server-tracking-blob={blob}")
    text = logs.one(marker)[1]
    assert "Failed reading payload" in text
    assert "Using tracking data from command line" in text
    assert "niuid:from-server" in text


@pytest.mark.parametrize("files, inside", [
    (["tarvo.exe"], False),
    (["tarvo.exe", "files_list"], True),
])
def test_only_the_packages_installer_skips_the_payload(build_dir, tmp_path, pki, logs, files,
                                                      inside):
    installer = make_installer(build_dir, tmp_path / "installer", pki)
    for name in files:
        (installer.parent / name).write_bytes(b"")
    marker = Logs.marker()
    run_installer(build_dir, installer, marker)
    text = logs.one(marker)[1]
    assert f"Inside package {str(inside).lower()}" in text
    assert ("Reading Payload" in text) != inside
