"""How a process of a program signed by the test certificate judges a file
before it runs or loads it, with no certificate chain: the file's first
signer must be the program's own certificate, byte for byte, its signature
must verify with that certificate's key, the content type it signs must be
Authenticode's, and the digests it signs must be the file's. Each file is made at test time by osslsigncode and changed as
an attacker would change it; osslsigncode's verdict on its signature (with
the test CA) stands beside ours.

Wine 8: CryptMsgControl's signature check does not compare the signed
message digest with the content, and WinVerifyTrust relies on it; the
check proves that digest itself."""

import shutil
import struct
import subprocess

import pytest

from conftest import windows_path
from test_signature import (CONTENT_TYPE_EDITS, EXPECTED_SIGNER, TOOL, Pki,
                            certificate_table_signature, signed_digest_range,
                            with_attributes_signed_anew)

SMALL_PE = "base/argv_echo.exe"
SAME = "signed by this program's signer"
BROKEN = "not validly signed"
OTHER = "signed by another signer"
# Another image: the same program with one byte of the DOS stub changed.
OTHER_IMAGE_BYTE = 0x4E


def der(pki, name):
    return subprocess.run(["openssl", "x509", "-in", f"{name}.pem", "-outform", "der"],
                          cwd=pki.folder, capture_output=True, check=True).stdout


def make_impostor(pki):
    """A certificate of another key that names the same subject, issuer and
    serial number as the test certificate "good" (the first one made)."""
    run = lambda *c: subprocess.run(c, cwd=pki.folder, capture_output=True, check=True)
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "impostor.key",
        "-out", "impostor.csr", "-subj", f"/CN={EXPECTED_SIGNER}", "-config", "openssl.cnf")
    run("openssl", "x509", "-req", "-in", "impostor.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-set_serial", "1", "-days", "30", "-extfile", "openssl.cnf",
        "-extensions", "code_signing", "-out", "impostor.pem")
    (pki.folder / "impostor_chain.pem").write_text(
        (pki.folder / "impostor.pem").read_text() + (pki.folder / "ca.pem").read_text())


def changed(source, target, change):
    data = bytearray(source.read_bytes())
    change(data)
    target.write_bytes(bytes(data))
    return target


def flip(offset, mask=0x01):
    def change(data):
        data[offset] ^= mask
    return change


def pe_header(path):
    return struct.unpack_from("<I", path.read_bytes(), 0x3C)[0]


def appended(data):
    data += b"\0" * 8


def swapped_certificate(theirs, ours):
    """The signature's copy of the certificate `theirs` replaced by `ours`."""
    def change(data):
        start = data.find(theirs)
        assert start > 0 and len(theirs) == len(ours), "the certificates must be the same size"
        data[start:start + len(theirs)] = ours
    return change


def digest_rewritten(own_signed):
    """The Authenticode digest that the signature states replaced by the one
    stated in `own_signed`'s signature: our signature of another image, made
    to name this one."""
    def change(data):
        own = own_signed.read_bytes()
        own_at, at = certificate_table_signature(own), certificate_table_signature(data)
        own_start, own_end = signed_digest_range(own[own_at:])
        start, end = signed_digest_range(data[at:])
        assert data[at + start:at + end] != own[own_at + own_start:own_at + own_end]
        data[at + start:at + end] = own[own_at + own_start:own_at + own_end]
        # The image itself goes back to the one our own signature was made for.
        data[OTHER_IMAGE_BYTE] ^= 0x20
    return change


@pytest.fixture(scope="module")
def judged_files(build_dir, tmp_path_factory):
    folder = tmp_path_factory.mktemp("own_signer")
    pki = Pki(folder)
    pki.make_signer("twin", EXPECTED_SIGNER, "ca")
    make_impostor(pki)
    plain = folder / "unsigned.exe"
    shutil.copyfile(build_dir / SMALL_PE, plain)
    other_image = changed(plain, folder / "other_image.exe", flip(OTHER_IMAGE_BYTE, 0x20))
    pe = pe_header(plain)

    signed = pki.sign("good", plain, folder / "signed.exe")
    impostor = pki.sign("impostor", plain, folder / "impostor.exe")
    files = {
        "signed": signed,
        # The optional header's checksum; the file header's time stamp.
        "checksum_changed": changed(signed, folder / "checksum.exe", flip(pe + 24 + 64)),
        "header_changed": changed(signed, folder / "header.exe", flip(pe + 8)),
        "appended": changed(signed, folder / "appended.exe", appended),
        "twin": pki.sign("twin", plain, folder / "twin.exe"),
        "impostor": impostor,
        "impostor_as_ours": changed(impostor, folder / "impostor_as_ours.exe",
                                    swapped_certificate(der(pki, "impostor"), der(pki, "good"))),
        "ours_digest_rewritten": changed(pki.sign("good", other_image, folder / "other.exe"),
                                         folder / "digest_rewritten.exe",
                                         digest_rewritten(signed)),
        "signed_sha512": pki.sign("good", plain, folder / "sha512.exe", digest="sha512"),
    }
    for name in ("as_signed", "content_type_data", "without_content_type"):
        files[name] = with_attributes_signed_anew(pki, "good", signed, CONTENT_TYPE_EDITS[name],
                                                  folder / f"{name}.exe")
    return pki, files


def peer_signature_holds(pki, path):
    """osslsigncode's verdict on the file's own signature: its digest and
    its signature verify, and the chain to the test CA."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", "ca.pem", "-in", str(path)],
                            cwd=pki.folder, capture_output=True, text=True)
    block = result.stdout.split("Signature Index:")[1:2]
    return bool(block) and "Signature verification: ok" in block[0] \
        and "MISMATCH" not in block[0]


# file, the verdict of a program signed by "good", osslsigncode's
CASES = [
    ("signed", SAME, True),
    # Authenticode leaves the checksum out, as the signer did.
    ("checksum_changed", SAME, True),
    ("header_changed", BROKEN, False),
    # Bytes after the signature are the file's too.
    ("appended", BROKEN, None),
    # The same name from the same CA, another key.
    ("twin", OTHER, True),
    # The same subject, issuer and serial number: only the key tells.
    ("impostor", OTHER, True),
    # Our certificate put in its place, the impostor's signature kept.
    ("impostor_as_ours", BROKEN, False),
    # Our genuine signature of another image, the digest it states made
    # this image's: the signed message digest no longer matches.
    ("ours_digest_rewritten", BROKEN, False),
    ("signed_sha512", SAME, True),
    # Our key's signature over attributes that do not name Authenticode's
    # content type: what it signed may have been another content.
    ("as_signed", SAME, True),
    ("content_type_data", BROKEN, True),
    ("without_content_type", BROKEN, True),
]


@pytest.mark.parametrize("name,verdict,peer", CASES, ids=[c[0] for c in CASES])
def test_own_signer_check_beside_osslsigncode(run_exe, judged_files, tmp_path, name, verdict,
                                              peer):
    pki, files = judged_files
    program = pki.sign("good", files["signed"].with_name("unsigned.exe"), tmp_path / "program.exe")
    judged = run_exe(TOOL, "signer", windows_path(program), windows_path(files[name]), check=True)
    assert judged.stdout.decode().strip() == verdict
    if peer is not None:
        assert peer_signature_holds(pki, files[name]) == peer
