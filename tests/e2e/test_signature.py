"""Code-signature verification against osslsigncode on files signed at test
time: a test CA and signing certificates made with openssl, a small PE of
this build signed (with each digest), tampered, nested and forged, its
signer's attributes remade and signed anew with the signer's key.
osslsigncode's verdict (with the test CA) stands beside ours; it does not
look at signer names or at a signer's signed content type.

Wine 8: WinVerifyTrust reads through the handle it is given and accepts a
file whose chain ends at a root that is in no Root store, and one whose
stated digest was rewritten under a stale signature (it still refuses a bad
digest); the machine's chain engine trusts a test CA only once it is in the
machine's Root registry store; the Authenticode chain policy lets a chain
pass that reaches no root at all; and CryptMsgControl's signature check does
not compare the signed message digest with the content. Our own proof of
each signer, the file's first too, tells them apart."""

import http.server
import shutil
import struct
import subprocess
import threading

import pytest

from conftest import windows_path
from fake_clock import clock_environment

TOOL = "desktop/windows/installer/signature_tool.exe"
SMALL_PE = "base/argv_echo.exe"
EXPECTED_SIGNER = "Tarvo Software Test Signing"  # the host resources' branding

OPENSSL_CONFIG = """\
[req]
distinguished_name = dn
[dn]
[test_ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code_signing]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[time_stamping]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[time_stamping_no_usage]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server_authentication]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
[authority_code_signing]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = codeSigning
[authority_server]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = serverAuth
[authority_time_stamping]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = codeSigning, timeStamping
[authority_any_use]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = anyExtendedKeyUsage
[key_usage_no_bit]
basicConstraints = CA:FALSE
keyUsage = critical, DER:03:01:00
extendedKeyUsage = codeSigning
[authority_key_usage_no_bit]
basicConstraints = critical, CA:TRUE
keyUsage = critical, DER:03:01:00
[alt_directory_name]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectAltName = dirName:alt_name
[alt_name]
O = Tarvo Software
[alt_registered_id]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectAltName = RID:1.2.840.113549.1.9.16.1.4
[alt_address]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectAltName = IP:127.0.0.1
"""

NESTED_SIGNATURE_OID = bytes.fromhex("2b060104018237020401")  # 1.3.6.1.4.1.311.2.4.1
DATA = "1.2.840.113549.1.7.1"
INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"  # Authenticode's content type
CONTENT_TYPE = "1.2.840.113549.1.9.3"
TSA_NAME = "Tarvo Test Time Stamping"
# The CAs and time-stamping authorities start this long ago, so that a
# signer can be made that has expired since a time-stamp dated inside its
# validity vouched for it.
BACKDATE_DAYS = 400
# Ten years: a kept build folder signs and checks with the PKI it made for
# years, and the build makes it anew a year before it ends (renew_pki.py).
DAYS = 3650


def run(*command, cwd, clock=None):
    """Runs `command` in `cwd`, its clock at `clock` (fake_clock) when given."""
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, check=True,
                          env=clock_environment(clock))


class Pki:
    """A trusted test CA, a rogue CA nobody trusts, signing certificates:
    "good" (the expected signer), "renewed" (a new key, the same name, the
    same CA: the publisher's certificate renewed), "rogue" (the same name
    from the rogue CA); and a time-stamping authority under each CA ("tsa",
    "rogue_tsa"; served by timestamp_server.py)."""

    def __init__(self, folder):
        self.folder = folder
        self.serial = 0
        (folder / "openssl.cnf").write_text(OPENSSL_CONFIG)
        self.make_ca("ca", "Tarvo Test Root")
        self.make_ca("rogue_ca", "Tarvo Test Root")
        self.make_signer("good", EXPECTED_SIGNER, "ca")
        self.make_signer("renewed", EXPECTED_SIGNER, "ca")
        self.make_signer("case", EXPECTED_SIGNER.lower().capitalize(), "ca")
        self.make_signer("other", "Other Software Signing", "ca")
        self.make_signer("rogue", EXPECTED_SIGNER, "rogue_ca")
        self.make_signer("tsa", TSA_NAME, "ca", extensions="time_stamping",
                         start=f"-{BACKDATE_DAYS}d", days=BACKDATE_DAYS + DAYS)
        self.make_signer("rogue_tsa", TSA_NAME, "rogue_ca", extensions="time_stamping",
                         start=f"-{BACKDATE_DAYS}d", days=BACKDATE_DAYS + DAYS)
        # Shapes that ended the process reading them: a key usage naming no
        # use, and signers named only by an alternative name (the subject
        # has no common name, nor any other part a display name is made of).
        self.make_signer("key_usage_no_bit", EXPECTED_SIGNER, "ca", "key_usage_no_bit")
        for kind in ("directory_name", "registered_id", "address"):
            self.make_signer(f"alt_{kind}", None, "ca", f"alt_{kind}")
        run("openssl", "x509", "-in", "ca.pem", "-outform", "der", "-out", "ca.der", cwd=folder)

    def make_ca(self, name, subject):
        run("openssl", "req", "-x509", "-newkey", "rsa:2048",
            "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.pem",
            "-days", str(BACKDATE_DAYS + DAYS), "-subj", f"/CN={subject}",
            "-config", "openssl.cnf", "-extensions", "test_ca", cwd=self.folder,
            clock=f"-{BACKDATE_DAYS}d")

    def make_signer(self, name, subject, ca, extensions="code_signing", start=None, days=DAYS):
        """A signer of common name `subject`, or of a country alone, valid
        `days` from `start` (a faketime offset such as "-100d"; now when
        None)."""
        distinguished_name = f"/CN={subject}" if subject else "/C=FI"
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key",
            "-out", f"{name}.csr", "-subj", distinguished_name, "-config", "openssl.cnf",
            cwd=self.folder)
        run("openssl", "x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.pem",
            "-CAkey", f"{ca}.key", "-set_serial", str(self.next_serial()),
            "-days", str(days), "-extfile", "openssl.cnf", "-extensions", extensions,
            "-out", f"{name}.pem", cwd=self.folder, clock=start)
        # The signature carries the CA too, as a real one carries its
        # intermediates, so that a chain can reach the root.
        chain = (self.folder / f"{name}.pem").read_text() + (self.folder / f"{ca}.pem").read_text()
        (self.folder / f"{name}_chain.pem").write_text(chain)

    def make_authority(self, usage):
        """An authority under the test CA, as long-lived, whose extended key
        usage is the section `authority_{usage}`: "code_signing",
        "server", "time_stamping" (and code signing) or "any_use"; named
        f"{usage}_ca"."""
        self.make_signer(f"{usage}_ca", f"Tarvo Test {usage} CA", "ca", f"authority_{usage}",
                         start=f"-{BACKDATE_DAYS}d", days=BACKDATE_DAYS + DAYS)
        return f"{usage}_ca"

    def next_serial(self):
        self.serial += 1
        return self.serial

    def sign(self, signer, source, target, nest=False, digest="sha256", with_ca=True,
             timestamp=None, legacy_timestamp=None, also=(), signed_at=None):
        """Signs with `signer`'s chain (or its certificate alone), the
        certificates of the signers `also` added to the signature's set;
        `timestamp` is the URL of an RFC 3161 time-stamping authority,
        `legacy_timestamp` one that countersigns as Authenticode first did
        (timestamp_server.py serves both). The signature states the signing
        time `signed_at` (Unix time) when given, else the clock's: signing
        the same file alike at the same time gives the same signature
        value."""
        certificates = f"{signer}_chain.pem" if with_ca else f"{signer}.pem"
        if also:
            members = [certificates] + [f"{other}.pem" for other in also]
            certificates = f"{signer}_with_{'_'.join(also)}.pem"
            (self.folder / certificates).write_text(
                "".join((self.folder / member).read_text() for member in members))
        command = ["osslsigncode", "sign", "-certs", certificates, "-key", f"{signer}.key",
                   "-h", digest, "-in", str(source), "-out", str(target)]
        if nest:
            command.insert(2, "-nest")
        if signed_at is not None:
            command[2:2] = ["-time", str(signed_at)]
        if timestamp:
            command[2:2] = ["-ts", timestamp]
        if legacy_timestamp:
            command[2:2] = ["-t", legacy_timestamp]
        run(*command, cwd=self.folder)
        return target


def minimal_pe32():
    """A PE32 image with one section of one instruction: the build makes only
    PE32+, where the certificate directory lies 16 bytes further on."""
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x0102)
    optional = bytearray(224)
    struct.pack_into("<HBBIIIIII", optional, 0, 0x10B, 14, 0, 0x200, 0, 0, 0x1000, 0x1000, 0x2000)
    struct.pack_into("<IIIHHHHHHIIIIHHIIIIII", optional, 28, 0x400000, 0x1000, 0x200, 6, 0, 0, 0,
                     6, 0, 0, 0x2000, 0x200, 0, 3, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    section = struct.pack("<8sIIIIIIHHI", b".text", 0x1000, 0x1000, 0x200, 0x200, 0, 0, 0, 0,
                          0x60000020)
    headers = dos + b"PE\0\0" + coff + optional + section
    code = b"\xC3" + bytes(0x1FF)
    return bytes(headers + bytes(0x200 - len(headers)) + code)


# DER, as far as the tests take PKCS #7 apart. An item is
# (tag, offset, content start, end).
def der_item(data, offset):
    tag, length = data[offset], data[offset + 1]
    start = offset + 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    return tag, offset, start, start + length


def der_children(data, item):
    children, offset = [], item[2]
    while offset < item[3]:
        children.append(der_item(data, offset))
        offset = children[-1][3]
    return children


def signed_data(data, offset):
    """The SignedData of the ContentInfo at the offset."""
    explicit = der_children(data, der_item(data, offset))[1]
    return der_children(data, explicit)[0]


# DER made, as far as a forger remakes a signature or a time-stamp.
def der(tag, content):
    if len(content) < 0x80:
        return bytes([tag, len(content)]) + content
    size = len(content).to_bytes((len(content).bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + content


def der_oid(dotted):
    arcs = [int(arc) for arc in dotted.split(".")]
    body = bytearray([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        while arc > 0x7F:
            arc >>= 7
            chunk.insert(0, 0x80 | (arc & 0x7F))
        body += bytes(chunk)
    return der(0x06, bytes(body))


def spliced(data, ancestors, start, end, new):
    """`data` with its bytes [start, end) replaced by `new`, the lengths of
    `ancestors` (the elements that hold them, outermost first) written
    anew."""
    for tag, offset, content_start, content_end in reversed(ancestors):
        new = der(tag, data[content_start:start] + new + data[end:content_end])
        start, end = offset, content_end
    return data[:start] + new + data[end:]


def first_signer_path(blob):
    """The elements from a signature's ContentInfo down to its first
    signer's information."""
    content_info = der_item(blob, 0)
    explicit = der_children(blob, content_info)[1]
    signed = der_children(blob, explicit)[0]
    signer_infos = der_children(blob, signed)[-1]
    return [content_info, explicit, signed, signer_infos, der_children(blob, signer_infos)[0]]


def unauthenticated_path(blob):
    """The same down to the first signer's unauthenticated attributes."""
    path = first_signer_path(blob)
    return path + [[c for c in der_children(blob, path[-1]) if c[0] == 0xA1][0]]


def embedded_signature(data):
    content_info = der_item(data, certificate_table_signature(data))
    return data[content_info[1]:content_info[3]]


def with_embedded_signature(data, blob):
    """The signed PE `data` with its certificate table holding the signature
    `blob` instead (padded to 8 bytes): the directory entry and the table
    are not digested, so the image's digest still holds."""
    entry = certificate_table_entry(data)
    table = struct.unpack_from("<I", data, entry)[0]
    padded = blob + bytes(-len(blob) % 8)
    image = bytearray(data[:table])
    struct.pack_into("<II", image, entry, table, 8 + len(padded))
    return bytes(image) + struct.pack("<I", 8 + len(padded)) + data[table + 4:table + 8] + padded


def attributes_signed_anew(pki, signer, blob, edit):
    """The signature `blob` with its first signer's authenticated attributes
    (DER elements, in order) made `edit(attributes)`, put in DER order and
    signed with `signer`'s key (SHA-256, as the signer info names): what
    the signer signed, only other attributes."""
    ancestors = first_signer_path(blob)
    fields = der_children(blob, ancestors[-1])
    attributes = [f for f in fields if f[0] == 0xA0][0]
    signed = b"".join(sorted(edit([blob[a[1]:a[3]] for a in der_children(blob, attributes)])))
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", f"{signer}.key"],
                               input=der(0x31, signed), cwd=pki.folder, check=True,
                               capture_output=True).stdout
    remade = {0xA0: der(0xA0, signed), 0x04: der(0x04, signature)}
    body = b"".join(remade.get(f[0], blob[f[1]:f[3]]) for f in fields)
    return spliced(blob, ancestors[:-1], ancestors[-1][1], ancestors[-1][3], der(0x30, body))


def with_attributes_signed_anew(pki, signer, path, edit, output, nested=False):
    """The signed PE `path` with its first signer's authenticated attributes,
    or its nested signature's first signer's, edited and signed anew
    (attributes_signed_anew)."""
    data = path.read_bytes()
    blob = embedded_signature(data)
    if nested:
        ancestors = unauthenticated_path(blob)
        for attribute in der_children(blob, ancestors[-1]):
            oid, values = der_children(blob, attribute)
            if blob[oid[2]:oid[3]] == NESTED_SIGNATURE_OID:
                value = der_children(blob, values)[0]
                inner = attributes_signed_anew(pki, signer, blob[value[1]:value[3]], edit)
                blob = spliced(blob, ancestors + [attribute, values], value[1], value[3], inner)
    else:
        blob = attributes_signed_anew(pki, signer, blob, edit)
    output.write_bytes(with_embedded_signature(data, blob))
    return output


def content_type_attribute(*types):
    return der(0x30, der_oid(CONTENT_TYPE) + der(0x31, b"".join(sorted(map(der_oid, types)))))


def is_content_type(attribute):
    oid = der_children(attribute, der_item(attribute, 0))[0]
    return attribute[oid[1]:oid[3]] == der_oid(CONTENT_TYPE)


# How a signer's signed content type is remade: Authenticode's own, left
# out, another, two values, two attributes.
CONTENT_TYPE_EDITS = {
    "as_signed": lambda attributes: attributes,
    "without_content_type": lambda attributes: [a for a in attributes if not is_content_type(a)],
    "content_type_data": lambda attributes: [
        content_type_attribute(DATA) if is_content_type(a) else a for a in attributes],
    "content_type_two_values": lambda attributes: [
        content_type_attribute(INDIRECT_DATA, DATA) if is_content_type(a) else a
        for a in attributes],
    "content_type_twice": lambda attributes: attributes + [content_type_attribute(INDIRECT_DATA)],
}


def certificate_table_entry(data):
    """Offset of the certificate table's directory entry in a PE."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    pe32_plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
    return optional + (112 if pe32_plus else 96) + 4 * 8


def certificate_table_signature(data):
    """Offset of the ContentInfo in a signed PE's certificate table."""
    table, _ = struct.unpack_from("<II", data, certificate_table_entry(data))
    return table + 8


def nested_signature_range(data):
    """(start, end) of the nested signature's ContentInfo in a signed PE."""
    signer_infos = der_children(data, signed_data(data, certificate_table_signature(data)))[-1]
    signer_info = der_children(data, signer_infos)[0]
    unauthenticated = [c for c in der_children(data, signer_info) if c[0] == 0xA1][0]
    for attribute in der_children(data, unauthenticated):
        oid, values = der_children(data, attribute)
        if data[oid[2]:oid[3]] == NESTED_SIGNATURE_OID:
            value = der_children(data, values)[0]
            return value[1], value[3]
    raise AssertionError("no nested signature")


def signed_digest_range(blob):
    """(start, end) of the Authenticode digest in a ContentInfo blob."""
    content_info = der_children(blob, signed_data(blob, 0))[2]
    explicit = der_children(blob, content_info)[1]
    indirect = der_children(blob, explicit)[0]
    digest_info = der_children(blob, indirect)[1]
    octets = der_children(blob, digest_info)[1]
    return octets[2], octets[3]


def with_stale_signature(genuine, forged, output):
    """The image of `forged` (a file signed for itself) under the signature
    of `genuine`, the digest that signature states rewritten to the forged
    image's: what one makes without the key, the signature over the
    statement stale."""
    genuine_data, forged_data = genuine.read_bytes(), forged.read_bytes()
    entry = certificate_table_entry(forged_data)
    forged_table, _ = struct.unpack_from("<II", forged_data, entry)
    genuine_table, genuine_size = struct.unpack_from(
        "<II", genuine_data, certificate_table_entry(genuine_data))
    table = bytearray(genuine_data[genuine_table:genuine_table + genuine_size])
    start, end = signed_digest_range(table[8:])
    forged_blob = forged_data[forged_table + 8:]
    forged_start, forged_end = signed_digest_range(forged_blob)
    table[8 + start:8 + end] = forged_blob[forged_start:forged_end]
    # The directory entry is not digested: the forged image's digest holds.
    image = bytearray(forged_data[:forged_table])
    struct.pack_into("<II", image, entry, forged_table, len(table))
    output.write_bytes(bytes(image + table))
    return output


def splice_nested(target, donor_blob, output):
    data = bytearray(target.read_bytes())
    start, end = nested_signature_range(data)
    assert end - start == len(donor_blob), "both nested signatures must be the same size"
    data[start:end] = donor_blob
    output.write_bytes(bytes(data))
    return output


def nested_blob(path):
    data = path.read_bytes()
    start, end = nested_signature_range(data)
    return bytearray(data[start:end])


@pytest.fixture(scope="module")
def signed_files(build_dir, tmp_path_factory):
    folder = tmp_path_factory.mktemp("signatures")
    pki = Pki(folder)
    plain = folder / "unsigned.exe"
    shutil.copyfile(build_dir / SMALL_PE, plain)
    # Another image: the same program with one byte of the DOS stub changed.
    other_image = bytearray(plain.read_bytes())
    other_image[0x4E] ^= 0x20
    (folder / "other_image.exe").write_bytes(bytes(other_image))

    files = {"unsigned": plain}
    files["signed"] = pki.sign("good", plain, folder / "signed.exe")
    tampered = bytearray(files["signed"].read_bytes())
    tampered[0x1000] ^= 0xFF
    files["tampered"] = folder / "tampered.exe"
    files["tampered"].write_bytes(bytes(tampered))
    other_signed = pki.sign("good", folder / "other_image.exe", folder / "other_signed.exe")
    files["forged_digest"] = with_stale_signature(files["signed"], other_signed,
                                                  folder / "forged_digest.exe")
    files["rogue"] = pki.sign("rogue", plain, folder / "rogue.exe")
    files["case"] = pki.sign("case", plain, folder / "case.exe")
    files["other"] = pki.sign("other", plain, folder / "other.exe")

    outer = pki.sign("other", plain, folder / "outer.exe")
    files["nested"] = pki.sign("good", outer, folder / "nested.exe", nest=True)
    files["nested_sha1"] = pki.sign("good", outer, folder / "nested_sha1.exe", nest=True,
                                    digest="sha1")
    files["nested_rogue_ca"] = pki.sign("rogue", outer, folder / "rogue_ca.exe", nest=True)
    files["nested_rogue_leaf"] = pki.sign("rogue", outer, folder / "rogue_leaf.exe", nest=True,
                                          with_ca=False)

    # Signed with every digest Windows accepts, and with MD5, which it
    # does not.
    for digest in ("sha384", "sha512", "md5"):
        files[f"signed_{digest}"] = pki.sign("good", plain, folder / f"signed_{digest}.exe",
                                             digest=digest)
        files[f"nested_{digest}"] = pki.sign("good", outer, folder / f"nested_{digest}.exe",
                                             nest=True, digest=digest)
    # The expected signer's attributes remade and signed anew with its key,
    # the file's own and a nested signer's: a signed content type that is
    # not Authenticode's leaves the content's type covered by nothing.
    for edit_name, edit in CONTENT_TYPE_EDITS.items():
        for name, source, nested in [(edit_name, files["signed"], False),
                                     (f"nested_{edit_name}", files["nested"], True)]:
            files[name] = with_attributes_signed_anew(pki, "good", source, edit,
                                                      folder / f"{name}.exe", nested=nested)

    # The file's own signature with its content type an empty object
    # identifier, the rest of it whole: the platform's decoder crashes on it.
    data = files["signed"].read_bytes()
    info = certificate_table_signature(data)
    assert data[info:info + 2] == b"\x30\x82"
    content_type = bytes.fromhex("06092a864886f70d010702")
    assert data[info + 4:info + 15] == content_type
    shrunk = int.from_bytes(data[info + 2:info + 4], "big") - 9
    length = struct.unpack_from("<I", data, info - 8)[0] - 9
    files["empty_content_type"] = folder / "empty_content_type.exe"
    files["empty_content_type"].write_bytes(
        data[:info - 8] + struct.pack("<I", length) + data[info - 4:info + 2]
        + shrunk.to_bytes(2, "big") + b"\x06\x00" + data[info + 15:] + bytes(9))

    for name in ("key_usage_no_bit", "alt_directory_name", "alt_registered_id", "alt_address"):
        files[name] = pki.sign(name, plain, folder / f"{name}.exe")
    # The expected signer's genuine signature, a certificate beside it in
    # the set that no chain of it goes through.
    files["key_usage_no_bit_beside"] = pki.sign("good", plain, folder / "beside.exe",
                                                also=["key_usage_no_bit"])
    files["key_usage_no_bit_nested"] = pki.sign("key_usage_no_bit", files["signed"],
                                                folder / "no_bit_nested.exe", nest=True)

    # The expected signer under authorities whose usage allows code
    # signing or excludes it, and one whose own usage excludes it.
    for usage in ("server", "code_signing", "any_use"):
        pki.make_signer(f"under_{usage}_ca", EXPECTED_SIGNER, pki.make_authority(usage))
        files[f"under_{usage}_ca"] = pki.sign(f"under_{usage}_ca", plain,
                                              folder / f"under_{usage}_ca.exe")
    files["nested_under_server_ca"] = pki.sign("under_server_ca", outer,
                                               folder / "nested_under_server_ca.exe", nest=True)
    pki.make_signer("server_signer", EXPECTED_SIGNER, "ca", "server_authentication")
    files["server_signer"] = pki.sign("server_signer", plain, folder / "server_signer.exe")

    pe32 = folder / "pe32.exe"
    pe32.write_bytes(minimal_pe32())
    pe32_outer = pki.sign("other", pe32, folder / "pe32_outer.exe")
    files["pe32_nested"] = pki.sign("good", pe32_outer, folder / "pe32_nested.exe", nest=True)

    # A genuine nested signature of the expected signer, made for the other
    # image, copied into this one's signature.
    other_outer = pki.sign("other", folder / "other_image.exe", folder / "other_outer.exe")
    donor = pki.sign("good", other_outer, folder / "donor.exe", nest=True)
    donor_blob = nested_blob(donor)
    files["nested_from_other_file"] = splice_nested(files["nested"], donor_blob,
                                                    folder / "from_other_file.exe")
    # The same, with the digest it states rewritten to this image's.
    own_blob = nested_blob(files["nested"])
    own_start, own_end = signed_digest_range(own_blob)
    start, end = signed_digest_range(donor_blob)
    assert donor_blob[start:end] != own_blob[own_start:own_end]
    donor_blob[start:end] = own_blob[own_start:own_end]
    files["nested_digest_rewritten"] = splice_nested(files["nested"], donor_blob,
                                                     folder / "digest_rewritten.exe")
    # This image's own nested signature with one byte of its signature value
    # changed.
    own_blob = nested_blob(files["nested"])
    signer_info = der_children(own_blob, der_children(own_blob, signed_data(own_blob, 0))[-1])[0]
    signature_value = [c for c in der_children(own_blob, signer_info) if c[0] == 0x04][0]
    own_blob[signature_value[2] + 10] ^= 0x01
    files["nested_signature_corrupted"] = splice_nested(files["nested"], own_blob,
                                                        folder / "signature_corrupted.exe")
    return pki, files


def verify(run_exe, path, root=None):
    args = [windows_path(path)] + ([windows_path(root)] if root else [])
    result = run_exe(TOOL, "verify", *args, check=True)
    lines = result.stdout.decode().splitlines()
    assert lines[0].startswith("verdict ") and lines[1].startswith("quiet ")
    verdict, quiet = lines[0] == "verdict 1", lines[1] == "quiet 1"
    assert verdict == quiet, "the verdict must not depend on the report"
    return verdict, lines[2:]


def peer_verdicts(pki, path):
    """osslsigncode's verdict on each signature, the file's own first: it
    holds when its digest matches and its signature and chain verify. (The
    exit code tells only that some signature held.)"""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", "ca.pem", "-in", str(path)],
                            cwd=pki.folder, capture_output=True, text=True)
    blocks = result.stdout.split("Signature Index:")[1:]
    return ["Signature verification: ok" in block and "MISMATCH" not in block
            for block in blocks]


USAGE_EXCLUDED = "Level {}: Certificate chain is not trusted: chain status 0x10"
NOT_AUTHENTICODE = "Level {}: Signed attributes do not name Authenticode data as the content type"

# file, our verdict, osslsigncode's (every signature holds: it ignores signer
# names), a line our report must hold
CASES = [
    ("signed", True, True, None),
    ("tampered", False, False, "Cannot WinVerifyTrust: -2146869232, "),  # TRUST_E_BAD_DIGEST
    ("unsigned", False, False, "Cannot CryptQueryObject:"),
    # Both pass Wine's WinVerifyTrust.
    ("forged_digest", False, False, "Level 0: Signature does not cover the content"),
    ("rogue", False, False, "Level 0: Certificate chain is not trusted: chain status 0x20"),
    ("empty_content_type", False, False, "Malformed signature: "),
    ("case", False, True, "Level 0: Tried signer Tarvo software test signing"),
    ("other", False, True, "Level 0: Cannot find any viable signers"),
    ("nested", True, True, "Level 0: Tried signer Other Software Signing"),
    ("nested_sha1", True, True, "Level 0: Tried signer Other Software Signing"),
    ("pe32_nested", True, True, "Level 0: Tried signer Other Software Signing"),
    ("nested_rogue_ca", False, False, "Level 1: Certificate chain is not trusted: "),
    ("nested_rogue_leaf", False, False, "Level 1: Certificate chain is incomplete"),
    ("nested_from_other_file", False, False, "Level 1: Signed digest does not match the file"),
    ("nested_digest_rewritten", False, False, "Level 1: Signature does not cover the content"),
    ("nested_signature_corrupted", False, False, "Level 1: Signature does not verify: "),
    # Every digest Windows accepts, the file's own signer's and a nested
    # one's; never MD5.
    ("signed_sha384", True, True, None),
    ("signed_sha512", True, True, None),
    ("nested_sha384", True, True, "Level 0: Tried signer Other Software Signing"),
    ("nested_sha512", True, True, "Level 0: Tried signer Other Software Signing"),
    ("signed_md5", False, True, "Level 0: Unsupported digest algorithm"),
    ("nested_md5", False, True, "Level 1: Unsupported digest algorithm"),
    # The signer's signed content type must be Authenticode's, once: its
    # signature holds (osslsigncode does not look), yet what it signed may
    # have been another content. Signed anew as it was, it holds for us too.
    ("as_signed", True, True, None),
    ("nested_as_signed", True, True, "Level 0: Tried signer Other Software Signing"),
    *[(f"{prefix}{edit}", False, True, NOT_AUTHENTICODE.format(level))
      for prefix, level in (("", 0), ("nested_", 1))
      for edit in CONTENT_TYPE_EDITS if edit != "as_signed"],
    # A chain is taken for no use that its certificate or an authority
    # above it excludes, as Windows' engine intersects them; Wine's does
    # not, and osslsigncode holds only the signer's own to code signing.
    ("under_server_ca", False, True, USAGE_EXCLUDED.format(0)),
    ("nested_under_server_ca", False, True, USAGE_EXCLUDED.format(1)),
    ("server_signer", False, False, USAGE_EXCLUDED.format(0)),
    ("under_code_signing_ca", True, True, None),
    ("under_any_use_ca", True, True, None),
    # Each ended the process that read it: a certificate of the set whose
    # key usage names no use (a chain built through it), wherever it stands,
    # is refused with the signature before any chain is built...
    ("key_usage_no_bit", False, False, "Malformed signature: a certificate extension "),
    ("key_usage_no_bit_beside", False, True, "Malformed signature: a certificate extension "),
    ("key_usage_no_bit_nested", False, False, "Malformed signature: a certificate extension "),
    # ...and a signer named only by an alternative name has no name to try.
    ("alt_directory_name", False, True, "Level 0: Cert signer name has 0 size"),
    ("alt_registered_id", False, True, "Level 0: Cert signer name has 0 size"),
    ("alt_address", False, True, "Level 0: Cert signer name has 0 size"),
]


@pytest.mark.parametrize("name,ours,peer,line", CASES, ids=[c[0] for c in CASES])
def test_verdict_beside_osslsigncode(run_exe, signed_files, name, ours, peer, line):
    pki, files = signed_files
    verdict, report = verify(run_exe, files[name], root=pki.folder / "ca.der")
    peer_signatures = peer_verdicts(pki, files[name])
    print(f"{name}: ours {verdict}, osslsigncode per signature {peer_signatures}")
    print("\n".join(report))
    assert (bool(peer_signatures) and all(peer_signatures)) == peer
    assert verdict == ours
    if line:
        assert any(l.startswith(line) for l in report), report
    if name in ("forged_digest", "rogue"):
        assert not any(l.startswith("Cannot WinVerifyTrust") for l in report), report
    if not ours and (name.startswith("nested") or name in ("forged_digest", "rogue")):
        # The forged signer's name is only tried once its signature failed.
        level = 1 if name.startswith("nested") else 0
        assert f"Level {level}: Tried signer {EXPECTED_SIGNER}" in report


def test_report_describes_trust_chain(run_exe, signed_files):
    pki, files = signed_files
    _, report = verify(run_exe, files["signed"], root=pki.folder / "ca.der")
    fingerprint = subprocess.run(
        ["openssl", "x509", "-in", "good.pem", "-noout", "-fingerprint", "-sha1"],
        cwd=pki.folder, capture_output=True, text=True, check=True).stdout
    thumbprint = fingerprint.strip().split("=")[1].replace(":", "")
    assert report[:2] == ["Level 0: Trust chain:", "Level 0: Chain trust status: 0"]
    assert report[2] == f"Level 0: Chain 0 element: {EXPECTED_SIGNER} {thumbprint}"
    assert report[3].startswith("Level 0: Chain 0 element: Tarvo Test Root ")


class IssuerServer(http.server.HTTPServer):
    """Serves one certificate at /authority.der on a port of its own,
    keeping the paths asked for."""

    def __init__(self, certificate):
        self.certificate, self.asked = certificate, []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(handler):
                self.asked.append(handler.path)
                handler.send_response(200)
                handler.send_header("Content-Length", str(len(self.certificate)))
                handler.end_headers()
                handler.wfile.write(self.certificate)

            def log_message(handler, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)


def test_issuer_only_at_its_address_is_not_fetched(run_exe, signed_files):
    # Wine's chain engine fetches an issuer the signature lacks from the
    # address its certificate names, whatever it is asked; this one's key
    # usage names no use, and building a chain through it ended the process.
    pki, _ = signed_files
    pki.make_signer("fetched_authority", "Tarvo Fetched Authority", "ca",
                    "authority_key_usage_no_bit")
    authority = subprocess.run(["openssl", "x509", "-in", "fetched_authority.pem", "-outform",
                                "der"], cwd=pki.folder, capture_output=True, check=True).stdout
    server = IssuerServer(authority)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        with open(pki.folder / "openssl.cnf", "a") as config:
            config.write("[issuer_at_address]\nbasicConstraints = CA:FALSE\n"
                         "keyUsage = critical, digitalSignature\nextendedKeyUsage = codeSigning\n"
                         "authorityInfoAccess = caIssuers;URI:http://127.0.0.1:"
                         f"{server.server_port}/authority.der\n")
        pki.make_signer("fetching", EXPECTED_SIGNER, "fetched_authority", "issuer_at_address")
        signed = pki.sign("fetching", pki.folder / "unsigned.exe", pki.folder / "fetching.exe",
                          with_ca=False)
        verdict, report = verify(run_exe, signed, root=pki.folder / "ca.der")
    finally:
        server.shutdown()
        server.server_close()
    assert not verdict
    assert report[0].startswith("Cannot WinVerifyTrust: -2146762486, "), report  # CERT_E_CHAINING
    assert "Level 0: Cannot get trust chain: an issuer is not at hand" in report
    assert "Level 0: Certificate chain is incomplete" in report
    assert server.asked == []


def test_untrusted_root(run_exe, signed_files):
    pki, files = signed_files
    # Wine's WinVerifyTrust does not ask for a trusted root; our check of the
    # file's own signer does, as Windows would, and of a nested one alike.
    for name, level in [("signed", 0), ("nested", 1)]:
        verdict, report = verify(run_exe, files[name])
        assert not verdict
        assert not any(l.startswith("Cannot WinVerifyTrust") for l in report), report
        assert f"Level {level}: Certificate chain is not trusted: chain status 0x20" in report


def test_root_already_trusted_stays_trusted(run_exe, build_dir):
    # The build's test root is trusted in the prefix before the tool runs
    # (scripts/trust-test-root): given again, it is not the tool's to remove.
    root = build_dir / "installer_files" / "pki" / "ca.der"
    installer = build_dir / "installer_files" / "full" / "installer.exe"
    assert verify(run_exe, installer, root=root)[0]
    verdict, report = verify(run_exe, installer)
    assert verdict, report


def test_portable_executable(run_exe, signed_files, tmp_path):
    _, files = signed_files
    text = tmp_path / "text.txt"
    text.write_text("MZ but no PE header")
    outcomes = {}
    for name, path in [("signed", files["signed"]), ("unsigned", files["unsigned"]),
                       ("text", text)]:
        outcomes[name] = run_exe(TOOL, "pe", windows_path(path), check=True).stdout.decode().strip()
    assert outcomes == {"signed": "pe 1 certificate_table 1",
                        "unsigned": "pe 1 certificate_table 0",
                        "text": "pe 0 certificate_table 0"}


# How a process whose program is signed by "good" judges a file it is about
# to run or load: only a valid signature of its very certificate passes. The
# rogue certificate bears the same name from another CA, which Wine's
# WinVerifyTrust accepts as it accepts any root; the certificate's identity
# still tells it apart. A file whose own signature is another's passes not
# even when it nests the right one: the product signs its own code first.
SIGNER_CASES = [
    ("signed", "signed by this program's signer"),
    ("unsigned", "not signed"),
    ("tampered", "not validly signed"),
    ("other", "signed by another signer"),
    ("case", "signed by another signer"),
    ("rogue", "signed by another signer"),
    ("nested", "signed by another signer"),
]


@pytest.mark.parametrize("name,verdict", SIGNER_CASES, ids=[c[0] for c in SIGNER_CASES])
def test_same_signer_as_the_running_program(run_exe, signed_files, tmp_path, name, verdict):
    pki, files = signed_files
    program = pki.sign("good", files["unsigned"], tmp_path / "program.exe")
    judged = run_exe(TOOL, "signer", windows_path(program), windows_path(files[name]), check=True)
    assert judged.stdout.decode().strip() == verdict
    # An unsigned program (a development build) runs and loads any file.
    judged = run_exe(TOOL, "signer", windows_path(files["unsigned"]), windows_path(files[name]),
                     check=True)
    assert judged.stdout.decode().strip() == "program unsigned"
