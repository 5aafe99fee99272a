"""A signer's chain is judged at the time its proven time-stamp states, else
now: signatures of a certificate that has expired since (made with openssl
under faketime), stamped by the test time-stamping authority
(timestamp_server.py) as RFC 3161 tokens and as the older countersignatures
(osslsigncode -ts / -t), then forged in the ways a stamp can be: another
authority, another signature's imprint, a changed token, a stamp from
before the certificate began, the authority's older-protocol reply over a
token info of the requester's time passed off as a token, a token not
signed as a token info, an authority not for time stamping or under a CA
that excludes it. Tokens the service would not make (TokenRelay hands
them to osslsigncode) are built here. Wine's WinVerifyTrust passes them
all; the verdict is our own proof's. Certificate sets that also hold attribute
certificates or another format, as a large authority's tokens do, are read
for their certificates alone; and genuine programs of npm packages, fetched
when the registry answers, are accepted at their vendors' stamps."""

import base64
import hashlib
import http.server
import struct
import subprocess
import tarfile
import threading
import urllib.request
from datetime import datetime, timedelta, timezone

import pytest

from conftest import windows_path
from test_signature import (BACKDATE_DAYS, CONTENT_TYPE, DATA, DAYS, EXPECTED_SIGNER,
                            NESTED_SIGNATURE_OID, SMALL_PE, TOOL, TSA_NAME, Pki,
                            certificate_table_entry, certificate_table_signature, der,
                            der_children, der_item, der_oid, embedded_signature,
                            first_signer_path, signed_data, spliced, unauthenticated_path,
                            verify, with_embedded_signature)
from timestamp_server import TimestampServer

TOKEN_OID = bytes.fromhex("2b060104018237030301")  # 1.3.6.1.4.1.311.3.3.1
COUNTERSIGNATURE_OID = bytes.fromhex("2a864886f70d010906")  # 1.2.840.113549.1.9.6
SIGNING_TIME_OID = bytes.fromhex("2a864886f70d010905")  # 1.2.840.113549.1.9.5
LIFETIME_SIGNING = """
[lifetime_signing]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning, 1.3.6.1.4.1.311.10.3.13
"""
# The expired signer was valid from 100 to 70 days ago; stamps are made 85
# days ago, inside that, unless a case says otherwise.
EXPIRED_START = "-100d"
EXPIRED_DAYS = 30
STAMPED = "-85d"
STAMPED_DAYS_BACK = 85
# An authority valid from 120 to 50 days ago: it stamped, then expired.
EXPIRED_AUTHORITY_START = "-120d"
EXPIRED_AUTHORITY_DAYS = 70
AUTHORITY_START = f"-{BACKDATE_DAYS}d"
AUTHORITY_DAYS = BACKDATE_DAYS + DAYS

SIGNED_DATA = "1.2.840.113549.1.7.2"
TOKEN_INFO = "1.2.840.113549.1.9.16.1.4"
MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
SHA256 = "2.16.840.1.101.3.4.2.1"
RSA = "1.2.840.113549.1.1.1"
# What the older protocol's request is: Authenticode's time-stamp request.
OLDER_PROTOCOL_REQUEST = "1.3.6.1.4.1.311.3.2.1"
TEST_POLICY = "1.2.3.4.1"
IMPRINT_DIGESTS = {"sha1": "1.3.14.3.2.26", "sha384": "2.16.840.1.101.3.4.2.2",
                   "sha512": "2.16.840.1.101.3.4.2.3"}


def with_stamp_added(stamped, donor, output):
    """`stamped` with the token of `donor`, the same file signed alike (its
    signature value the same) and stamped elsewhere, after its own."""
    blob = embedded_signature(stamped.read_bytes())
    donor_blob = embedded_signature(donor.read_bytes())
    path = unauthenticated_path(blob)
    for attribute in der_children(donor_blob, unauthenticated_path(donor_blob)[-1]):
        oid = der_children(donor_blob, attribute)[0]
        if donor_blob[oid[2]:oid[3]] == TOKEN_OID:
            token = donor_blob[attribute[1]:attribute[3]]
    blob = spliced(blob, path, path[-1][3], path[-1][3], token)
    output.write_bytes(with_embedded_signature(stamped.read_bytes(), blob))
    return output


def relabelled(token, content_type):
    """A signed-data `token` with its eContentType, which no signature
    covers, changed to `content_type`."""
    content_info = der_item(token, 0)
    explicit = der_children(token, content_info)[1]
    signed = der_children(token, explicit)[0]
    encapsulated = der_children(token, signed)[2]
    oid = der_children(token, encapsulated)[0]
    return spliced(token, [content_info, explicit, signed, encapsulated], oid[1], oid[3],
                   der_oid(content_type))


def token_info(query, days_back=STAMPED_DAYS_BACK, after=b""):
    """A token info of the time the requester chose for the imprint and the
    nonce of an RFC 3161 query, the elements `after` after the nonce."""
    fields = der_children(query, der_item(query, 0))
    imprint = query[fields[1][1]:fields[1][3]]
    nonce = b"".join(query[f[1]:f[3]] for f in fields[2:] if f[0] == 0x02)
    when = datetime.now(timezone.utc) - timedelta(days=days_back)
    return der(0x30, der(0x02, b"\x01") + der_oid(TEST_POLICY) + imprint + der(0x02, b"\x2a")
               + der(0x18, when.strftime("%Y%m%d%H%M%SZ").encode()) + nonce + after)


def extensions(critical):
    """A token info's extensions field: one extension of a type no reader
    knows, marked critical or not."""
    flag = der(0x01, b"\xff") if critical else b""
    return der(0xA1, der(0x30, der_oid("1.2.3.4.9") + flag + der(0x04, der(0x05, b""))))


def signature_value(data):
    """The first signer's signature value in a signed PE."""
    blob = embedded_signature(data)
    signer_info = first_signer_path(blob)[-1]
    value = [c for c in der_children(blob, signer_info) if c[0] == 0x04][0]
    return blob[value[2]:value[3]]


def with_imprint(query, digest, value):
    """An RFC 3161 query with its imprint the digest `digest` of `value`."""
    top = der_item(query, 0)
    imprint = der_children(query, top)[1]
    algorithm = der(0x30, der_oid(IMPRINT_DIGESTS[digest]) + der(0x05, b""))
    new = der(0x30, algorithm + der(0x04, hashlib.new(digest, value).digest()))
    return spliced(query, [top], imprint[1], imprint[3], new)


def forwarded(url, query):
    """The token the RFC 3161 service at `url` answers `query` with."""
    posted = urllib.request.Request(url, query, {"Content-Type": "application/timestamp-query"})
    with urllib.request.urlopen(posted) as reply:
        response = reply.read()
    token = der_children(response, der_item(response, 0))[1]
    return response[token[1]:token[3]]


def older_protocol_token(url, content):
    """The signed data an authority's older protocol answers with when asked
    to countersign `content`: it signs whatever it is sent."""
    request = der(0x30, der_oid(OLDER_PROTOCOL_REQUEST)
                  + der(0x30, der_oid(DATA) + der(0xA0, der(0x04, content))))
    posted = urllib.request.Request(url, base64.b64encode(request),
                                    {"Content-Type": "application/octet-stream"})
    with urllib.request.urlopen(posted) as reply:
        return base64.b64decode(reply.read())


def pem_certificates(path):
    blocks = path.read_text().split("-----BEGIN CERTIFICATE-----")[1:]
    return [base64.b64decode(b.split("-----END CERTIFICATE-----")[0]) for b in blocks]


def built_token(pki, signer, info, content_type):
    """A token over `info` signed with the key of `signer`, its signed
    attributes the message digest and, unless None, the content type
    `content_type`."""
    certificates = pem_certificates(pki.folder / f"{signer}_chain.pem")
    certificate = certificates[0]
    tbs = der_children(certificate, der_item(certificate, 0))[0]
    _, serial, _, issuer = der_children(certificate, tbs)[:4]
    attributes = [der(0x30, der_oid(MESSAGE_DIGEST)
                      + der(0x31, der(0x04, hashlib.sha256(info).digest())))]
    if content_type:
        attributes.append(der(0x30, der_oid(CONTENT_TYPE) + der(0x31, der_oid(content_type))))
    attributes = b"".join(sorted(attributes))
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", f"{signer}.key"],
                               input=der(0x31, attributes), cwd=pki.folder, check=True,
                               capture_output=True).stdout
    sha256 = der(0x30, der_oid(SHA256) + der(0x05, b""))
    signer_info = der(0x30, der(0x02, b"\x01")
                      + der(0x30, certificate[issuer[1]:issuer[3]]
                            + certificate[serial[1]:serial[3]])
                      + sha256 + der(0xA0, attributes) + der(0x30, der_oid(RSA) + der(0x05, b""))
                      + der(0x04, signature))
    signed = der(0x30, der(0x02, b"\x03") + der(0x31, sha256)
                 + der(0x30, der_oid(TOKEN_INFO) + der(0xA0, der(0x04, info)))
                 + der(0xA0, b"".join(certificates)) + der(0x31, signer_info))
    return der(0x30, der_oid(SIGNED_DATA) + der(0xA0, signed))


class TokenRelay:
    """An RFC 3161 service on 127.0.0.1 that answers a query with the token
    `make(query)` returns: how a requester hands osslsigncode a token of
    his own making.

        with TokenRelay(make) as url:
            pki.sign(..., timestamp=url)"""

    def __init__(self, make):
        relay = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                granted = der(0x30, der(0x02, b"\x00"))
                reply = der(0x30, granted + relay.make(query))
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.make = make
        self.httpd = http.server.HTTPServer(("127.0.0.1", 0), Handler)

    def __enter__(self):
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        return f"http://127.0.0.1:{self.httpd.server_address[1]}/"

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()


def unauthenticated_value(data, oid):
    """The first value of the first signer's unauthenticated attribute
    `oid` in a signed PE, as (tag, offset, content start, end)."""
    signer_infos = der_children(data, signed_data(data, certificate_table_signature(data)))[-1]
    signer_info = der_children(data, signer_infos)[0]
    unauthenticated = [c for c in der_children(data, signer_info) if c[0] == 0xA1][0]
    for attribute in der_children(data, unauthenticated):
        attribute_oid, values = der_children(data, attribute)
        if data[attribute_oid[2]:attribute_oid[3]] == oid:
            return der_children(data, values)[0]
    raise AssertionError("no such attribute")


def stamp_range(data, part):
    """(start, end) in a signed PE of a part of its first signer's stamp:
    "token serial" (the token info's serial number), "token signature" (the
    token signer's signature value) or "countersigned time" (the signing
    time the countersignature signs)."""
    if part == "countersigned time":
        countersignature = unauthenticated_value(data, COUNTERSIGNATURE_OID)
        attributes = [c for c in der_children(data, countersignature) if c[0] == 0xA0][0]
        for attribute in der_children(data, attributes):
            oid, values = der_children(data, attribute)
            if data[oid[2]:oid[3]] == SIGNING_TIME_OID:
                time = der_children(data, values)[0]
                # The seconds' last digit, before the "Z".
                return time[3] - 2, time[3] - 1
        raise AssertionError("no signing time")
    fields = der_children(data, signed_data(data, unauthenticated_value(data, TOKEN_OID)[1]))
    if part == "token signature":
        token_signer = der_children(data, fields[-1])[0]
        value = [c for c in der_children(data, token_signer) if c[0] == 0x04][0]
        return value[2], value[3]
    octets = der_children(data, der_children(data, fields[2])[1])[0]
    serial = der_children(data, der_item(data, octets[2]))[3]
    return serial[2], serial[3]


def der_header(tag, length):
    if length < 0x80:
        return bytes([tag, length])
    size = length.to_bytes((length.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size


def signed_data_items(data, where):
    """The items from a signed PE's signature down to a signed data
    (outermost first): the signature's own ("signature"), its first signer's
    nested signature's ("nested") or time-stamp token's ("token"); or down
    to that signer's countersignature ("countersignature")."""
    content_info = der_item(data, certificate_table_signature(data))
    path = [content_info, der_children(data, content_info)[1]]
    path.append(der_children(data, path[-1])[0])  # signed data
    if where == "signature":
        return path
    oid = {"token": TOKEN_OID, "nested": NESTED_SIGNATURE_OID,
           "countersignature": COUNTERSIGNATURE_OID}[where]
    path.append(der_children(data, path[-1])[-1])  # signer infos
    path.append(der_children(data, path[-1])[0])  # the first signer
    path.append([c for c in der_children(data, path[-1]) if c[0] == 0xA1][0])
    path.append([a for a in der_children(data, path[-1])
                 if data[der_children(data, a)[0][2]:der_children(data, a)[0][3]] == oid][0])
    path.append(der_children(data, path[-1])[1])  # its values
    path.append(der_children(data, path[-1])[0])  # the token or signature
    if where == "countersignature":
        return path
    path.append(der_children(data, path[-1])[1])
    path.append(der_children(data, path[-1])[0])  # its signed data
    return path


def with_set_choices(path, where, edit, output):
    """The signed PE `path` with the choices (DER elements, in order) of the
    certificate set of `where` (signed_data_items) made `edit(choices)`: no
    signature covers a set, so no digest or signature changes. openssl and
    osslsigncode read no set that holds anything but certificates."""
    data = path.read_bytes()
    ancestors = signed_data_items(data, where)
    certificates = [c for c in der_children(data, ancestors[-1]) if c[0] == 0xA0][0]
    choices = [data[c[1]:c[3]] for c in der_children(data, certificates)]
    output.write_bytes(replaced_in_table(data, ancestors + [certificates], certificates[2],
                                         certificates[3], b"".join(edit(choices))))
    return output


def with_token(path, token, output):
    """The signed PE `path` with its first signer's time-stamp token made
    `token`, which no signature of the file covers."""
    data = path.read_bytes()
    ancestors = signed_data_items(data, "token")[:-2]
    old = ancestors.pop()
    output.write_bytes(replaced_in_table(data, ancestors, old[1], old[3], token))
    return output


def without_digest_algorithms(path, where, output):
    """The signed PE `path` with the digest algorithms of the signed data of
    `where` (signed_data_items) left out, which no signature covers."""
    data = path.read_bytes()
    ancestors = signed_data_items(data, where)
    algorithms = der_children(data, ancestors[-1])[1]
    output.write_bytes(replaced_in_table(data, ancestors, algorithms[1], algorithms[3], b""))
    return output


def with_stamp_signer_named(path, where, kind, output):
    """The signed PE `path` with the version and signer identifier of its
    first signer's time-stamp signer (`where`: "token" or
    "countersignature") naming the certificate of the authority that signed
    it as `kind` says (signer_identifier); no signature covers them."""
    data = path.read_bytes()
    ancestors = signed_data_items(data, where)
    if where == "token":
        ancestors.append(der_children(data, ancestors[-1])[-1])  # signer infos
        ancestors.append(der_children(data, ancestors[-1])[0])
        certificates = [c for c in der_children(data, ancestors[-3]) if c[0] == 0xA0][0]
    else:
        certificates = [c for c in der_children(data, signed_data_items(data, "signature")[-1])
                        if c[0] == 0xA0][0]
    authority = [data[c[1]:c[3]] for c in der_children(data, certificates)
                 if TSA_NAME.encode() in data[c[1]:c[3]]][0]
    version, identifier = der_children(data, ancestors[-1])[:2]
    output.write_bytes(replaced_in_table(data, ancestors, version[1], identifier[3],
                                         signer_identifier(kind, authority)))
    return output


def signer_identifier(kind, authority):
    """A signer info's version and signer identifier naming the DER
    certificate `authority`: by its subject as the issuer and its serial
    ("subject"), by its issuer and another serial ("another serial"), by
    its subject key identifier ("key") or by another ("another key")."""
    tbs = der_children(authority, der_item(authority, 0))[0]
    fields = der_children(authority, tbs)
    serial, issuer, subject = (authority[f[1]:f[3]] for f in (fields[1], fields[3], fields[5]))
    by_serial = {"subject": subject + serial,
                 "another serial": issuer + der(0x02, b"\x7f\x7f\x7f")}
    if kind in by_serial:
        return der(0x02, b"\x01") + der(0x30, by_serial[kind])
    key = bytes(20)
    for extension in der_children(authority, der_children(authority, fields[-1])[0]):
        oid, value = der_children(authority, extension)[0], der_children(authority, extension)[-1]
        if kind == "key" and authority[oid[2]:oid[3]] == bytes.fromhex("551d0e"):
            key_identifier = der_item(authority, value[2])
            key = authority[key_identifier[2]:key_identifier[3]]
    return der(0x02, b"\x03") + der(0x80, key)


# Files whose time-stamp signer names its certificate otherwise: file, its
# source, where, how (signer_identifier).
RENAMED_STAMP_SIGNERS = [
    ("token_signer_named_by_subject", "rfc3161", "token", "subject"),
    ("token_signer_of_another_serial", "rfc3161", "token", "another serial"),
    ("token_signer_of_another_key", "rfc3161", "token", "another key"),
    ("token_signer_by_key_identifier", "rfc3161", "token", "key"),
    ("countersigner_named_by_subject", "countersigned", "countersignature", "subject"),
    ("countersigner_of_another_serial", "countersigned", "countersignature", "another serial"),
    ("countersigner_of_another_key", "countersigned", "countersignature", "another key"),
]


def replaced_in_table(data, ancestors, start, end, new):
    """The signed PE `data` with the bytes [start, end) of its signature
    replaced by `new`, the lengths of `ancestors` (the items that hold
    them, outermost first) written anew, and the certificate table with
    them: the table is not digested."""
    for tag, offset, content_start, content_end in reversed(ancestors):
        body = data[content_start:start] + new + data[end:content_end]
        new, start, end = der_header(tag, len(body)) + body, offset, content_end
    entry = certificate_table_entry(data)
    table, _ = struct.unpack_from("<II", data, entry)
    length = -(-(8 + len(new)) // 8) * 8
    header = struct.pack("<I", length) + data[table + 4:table + 8]
    image = bytearray(data[:table])
    struct.pack_into("<II", image, entry, table, length)
    return bytes(image) + header + new + bytes(length - 8 - len(new))


def attribute_certificate(tag):
    """An attribute certificate's frame as the set carries one under `tag`
    ([1] its first version, [2] its second, [3] another format): its
    information (version, holder, issuer, algorithm, serial, validity,
    attributes), algorithm and signature, which nothing checks."""
    def element(element_tag, *parts):
        body = b"".join(parts)
        return der_header(element_tag, len(body)) + body
    name = element(0x30, element(0x31, element(0x30, bytes.fromhex("0603550403"),
                                                element(0x0C, b"Tarvo Test Holder"))))
    algorithm = element(0x30, bytes.fromhex("06092a864886f70d01010b"), b"\x05\x00")
    time = element(0x18, b"20250101000000Z")
    information = element(0x30, b"\x02\x01\x01", element(0x30, element(0xA0, name)),
                          element(0xA0, element(0x30, element(0xA4, name))), algorithm,
                          b"\x02\x01\x07", element(0x30, time, time), element(0x30))
    return element(tag, information, algorithm, element(0x03, b"\x00" + bytes(32)))


def authority_only_as_attribute_certificate(choices):
    """The authority's certificate tagged as a first-version attribute
    certificate, its CA's left as it was."""
    return [b"\xA1" + c[1:] if TSA_NAME.encode() in c else c for c in choices]


# Files whose certificate sets (a certificate and its CA's, as openssl
# orders them) are remade with other choices: file, its source, where.
REMADE_SETS = {
    # As a large authority's tokens carry it.
    "token_attribute_certificate":
        ("rfc3161", "token", lambda c: c + [attribute_certificate(0xA1)]),
    "token_second_version_between":
        ("rfc3161", "token", lambda c: [c[0], attribute_certificate(0xA2), *c[1:]]),
    "token_other_format_first":
        ("rfc3161", "token", lambda c: [attribute_certificate(0xA3), *c]),
    # Another choice is never taken for a certificate, whatever it holds.
    "token_authority_only_as_attribute_certificate":
        ("rfc3161", "token", authority_only_as_attribute_certificate),
    "nested_attribute_certificate":
        ("nested", "nested", lambda c: c + [attribute_certificate(0xA2)]),
    "countersigned_attribute_certificate":
        ("countersigned", "signature", lambda c: c + [attribute_certificate(0xA2)]),
}


def flipped(path, part, output):
    data = bytearray(path.read_bytes())
    _, end = stamp_range(data, part)
    data[end - 1] ^= 0x01
    output.write_bytes(bytes(data))
    return output


@pytest.fixture(scope="module")
def stamped_files(build_dir, tmp_path_factory):
    folder = tmp_path_factory.mktemp("timestamps")
    pki = Pki(folder)
    with open(folder / "openssl.cnf", "a") as config:
        config.write(LIFETIME_SIGNING)
    pki.make_signer("expired", EXPECTED_SIGNER, "ca", start=EXPIRED_START, days=EXPIRED_DAYS)
    pki.make_signer("lifetime", EXPECTED_SIGNER, "ca", extensions="lifetime_signing",
                    start=EXPIRED_START, days=EXPIRED_DAYS)
    plain = folder / "unsigned.exe"
    plain.write_bytes((build_dir / SMALL_PE).read_bytes())

    def sign(name, signer="expired", source=plain, **options):
        return pki.sign(signer, source, folder / f"{name}.exe", **options)

    files = {}
    with TimestampServer(folder, at=STAMPED) as url:
        files["rfc3161"] = sign("rfc3161", timestamp=url)
        files["countersigned"] = sign("countersigned", legacy_timestamp=url)
        files["countersigned_sha1"] = sign("countersigned_sha1", legacy_timestamp=url,
                                           digest="sha1")
        files["lifetime"] = sign("lifetime", signer="lifetime", timestamp=url)
        outer = sign("outer", signer="other")
        files["nested"] = sign("nested", source=outer, nest=True, timestamp=url)
    with TimestampServer(folder) as url:
        files["valid_stamped_now"] = sign("valid_stamped_now", signer="good", timestamp=url)
    files["unstamped"] = sign("unstamped")
    with TimestampServer(folder, signer="rogue_tsa", at=STAMPED) as url:
        files["rogue_tsa"] = sign("rogue_tsa", timestamp=url)
        files["rogue_countersigner"] = sign("rogue_countersigner", legacy_timestamp=url)
    with TimestampServer(folder, at=STAMPED, wrong_imprint=True) as url:
        files["other_imprint"] = sign("other_imprint", timestamp=url)
        files["other_countersigned"] = sign("other_countersigned", legacy_timestamp=url)
    with TimestampServer(folder, at="-200d") as url:
        files["stamped_before_validity"] = sign("stamped_before_validity", timestamp=url)
    # A signer valid only from 10 days ahead, stamped 30 days ahead by the
    # genuine authority.
    pki.make_signer("not_yet_valid", EXPECTED_SIGNER, "ca", start="+10d", days=EXPIRED_DAYS)
    with TimestampServer(folder, at="+30d") as url:
        files["stamped_after_now"] = sign("stamped_after_now", signer="not_yet_valid",
                                          timestamp=url)
        files["countersigned_after_now"] = sign("countersigned_after_now",
                                                signer="not_yet_valid", legacy_timestamp=url)
    # Signed at one stated time, a file's signature value is the same each
    # time: known before it is stamped, and shared by two stamped copies.
    signed_at = int(datetime.now(timezone.utc).timestamp())
    with TimestampServer(folder, at=STAMPED) as url:
        # The authority asked for another digest of the value than the
        # signature's own, as a signer may ask.
        value = signature_value(sign("unstamped_again", signed_at=signed_at).read_bytes())
        for digest in IMPRINT_DIGESTS:
            with TokenRelay(lambda query, digest=digest: forwarded(
                    url, with_imprint(query, digest, value))) as relay:
                files[f"imprint_{digest}"] = sign(f"imprint_{digest}", timestamp=relay,
                                                  signed_at=signed_at)
        genuine = sign("genuine_stamp", timestamp=url, signed_at=signed_at)
    with TimestampServer(folder, signer="rogue_tsa", at=STAMPED) as url:
        files["later_stamp_holds"] = with_stamp_added(
            sign("rogue_stamp", timestamp=url, signed_at=signed_at), genuine,
            folder / "later_stamp_holds.exe")
    pki.make_signer("tsa_expired", TSA_NAME, "ca", extensions="time_stamping",
                    start=EXPIRED_AUTHORITY_START, days=EXPIRED_AUTHORITY_DAYS)
    with TimestampServer(folder, signer="tsa_expired", at=STAMPED) as url:
        files["authority_expired_since"] = sign("authority_expired_since", timestamp=url)

    # Authorities whose usage, or whose CA's, excludes time stamping (the
    # RFC 3161 service refuses to sign without it: such a token is built).
    pki.make_signer("tsa_no_usage", TSA_NAME, "ca", extensions="time_stamping_no_usage",
                    start=AUTHORITY_START, days=AUTHORITY_DAYS)
    for usage in ("code_signing", "server", "time_stamping", "any_use"):
        pki.make_signer(f"tsa_under_{usage}_ca", TSA_NAME, pki.make_authority(usage),
                        extensions="time_stamping", start=AUTHORITY_START, days=AUTHORITY_DAYS)
        with TimestampServer(folder, signer=f"tsa_under_{usage}_ca", at=STAMPED) as url:
            files[f"token_under_{usage}_ca"] = sign(f"token_under_{usage}_ca", timestamp=url)
            files[f"countersigned_under_{usage}_ca"] = sign(f"countersigned_under_{usage}_ca",
                                                            legacy_timestamp=url)
    with TimestampServer(folder, signer="tsa_no_usage", at=STAMPED) as url:
        files["countersigner_no_usage"] = sign("countersigner_no_usage", legacy_timestamp=url)
    for name, signer, content_type in [("built_token", "tsa", TOKEN_INFO),
                                       ("signed_as_data", "tsa", DATA),
                                       ("signed_without_type", "tsa", None),
                                       ("token_authority_no_usage", "tsa_no_usage", TOKEN_INFO)]:
        with TokenRelay(lambda query, signer=signer, content_type=content_type: built_token(
                pki, signer, token_info(query), content_type)) as url:
            files[name] = sign(name, timestamp=url)
    # Token infos with more after the nonce, which osslsigncode cannot read:
    # it is handed a plain token for the same query, then the file is given
    # the token of the longer token info in its place.
    for name, after in [("token_info_extension", extensions(critical=False)),
                        ("token_info_critical_extension", extensions(critical=True)),
                        ("token_info_element_after",
                         extensions(critical=False) + der(0x02, b"\x01"))]:
        made = {}

        def plain_token(query, after=after, made=made):
            made["token"] = built_token(pki, "tsa", token_info(query, after=after), TOKEN_INFO)
            return built_token(pki, "tsa", token_info(query), TOKEN_INFO)

        with TokenRelay(plain_token) as url:
            files[name] = with_token(sign(f"{name}_plain", timestamp=url), made["token"],
                                     folder / f"{name}.exe")

    # The attack: the authority's older protocol asked, at the real clock,
    # to countersign a token info of the requester's time for this
    # signature's imprint, the reply's eContentType relabelled. No key of
    # the authority's is needed.
    with TimestampServer(folder) as authority:
        def relabelled_reply(query):
            return relabelled(older_protocol_token(authority, token_info(query)), TOKEN_INFO)

        with TokenRelay(relabelled_reply) as url:
            files["relabelled_reply"] = sign("relabelled_reply", timestamp=url)
            files["nested_relabelled_reply"] = sign("nested_relabelled_reply", source=outer,
                                                    nest=True, timestamp=url)
    for name, (source, where, edit) in REMADE_SETS.items():
        files[name] = with_set_choices(files[source], where, edit, folder / f"{name}.exe")
    for name, source, where, kind in RENAMED_STAMP_SIGNERS:
        files[name] = with_stamp_signer_named(files[source], where, kind, folder / f"{name}.exe")
    for name, where in [("no_digest_algorithms", "signature"),
                        ("token_without_digest_algorithms", "token")]:
        files[name] = without_digest_algorithms(files["rfc3161"], where, folder / f"{name}.exe")
    for name, source, part in [("token_info_changed", "rfc3161", "token serial"),
                               ("token_signature_changed", "rfc3161", "token signature"),
                               ("countersigned_time_changed", "countersigned",
                                "countersigned time")]:
        files[name] = flipped(files[source], part, folder / f"{name}.exe")
    return pki, files


STAMP_USED = "Chain judged at the signature's time-stamp "
NOT_TIME_VALID = "Certificate chain is not trusted: chain status 0x1"
NOT_TOKEN_INFO = "Chain judged now: time-stamp not used: its signer did not sign a token info"
NOT_FOR_TIME_STAMPING = ("Chain judged now: time-stamp not used: its signer's certificate is not "
                         "for time stamping")
USAGE_EXCLUDED = ("Chain judged now: time-stamp not used: its signer's chain is not trusted: "
                  "chain status 0x10")
UNREADABLE = "Chain judged now: time-stamp not used: it cannot be read"
SIGNER_MISSING = "Chain judged now: time-stamp not used: its signer's certificate is missing"
AFTER_NOW = "Chain judged now: time-stamp not used: its time is after the present"

# file, verdict, lines the report holds (prefixes, "Level N: " added
# unless N is None)
CASES = [
    ("rfc3161", True, [(0, STAMP_USED)]),
    ("countersigned", True, [(0, STAMP_USED)]),
    ("countersigned_sha1", True, [(0, STAMP_USED)]),
    ("nested", True, [(1, STAMP_USED)]),
    ("valid_stamped_now", True, [(0, STAMP_USED)]),
    ("token_attribute_certificate", True, [(0, STAMP_USED)]),
    ("token_second_version_between", True, [(0, STAMP_USED)]),
    ("token_other_format_first", True, [(0, STAMP_USED)]),
    ("token_authority_only_as_attribute_certificate", False,
     [(0, "Chain judged now: time-stamp not used: its signer's certificate is missing"),
      (0, NOT_TIME_VALID)]),
    ("nested_attribute_certificate", True, [(1, STAMP_USED)]),
    # Our proof holds, the countersigner found in the signature's own set;
    # Wine's WinVerifyTrust cannot read that set (CRYPT_E_ASN1_CORRUPT).
    ("countersigned_attribute_certificate", False,
     [(0, STAMP_USED), (None, "Cannot WinVerifyTrust: -2146881277, ")]),
    ("unstamped", False,
     [(0, "Chain judged now: the signature carries no time-stamp"), (0, NOT_TIME_VALID)]),
    ("rogue_tsa", False,
     [(0, "Chain judged now: time-stamp not used: its signer's chain is not trusted: "
          "chain status 0x20"), (0, NOT_TIME_VALID)]),
    ("rogue_countersigner", False,
     [(0, "Chain judged now: time-stamp not used: its signer's chain is not trusted"),
      (0, NOT_TIME_VALID)]),
    ("other_imprint", False,
     [(0, "Chain judged now: time-stamp not used: it stamps another signature"),
      (0, NOT_TIME_VALID)]),
    ("other_countersigned", False,
     [(0, "Chain judged now: time-stamp not used: it stamps another signature"),
      (0, NOT_TIME_VALID)]),
    ("token_info_changed", False,
     [(0, "Chain judged now: time-stamp not used: its signature does not cover its content"),
      (0, NOT_TIME_VALID)]),
    ("token_signature_changed", False,
     [(0, "Chain judged now: time-stamp not used: its signature does not verify"),
      (0, NOT_TIME_VALID)]),
    # A second later, still inside the certificate's validity: only the
    # countersignature's own signature tells.
    ("countersigned_time_changed", False,
     [(0, "Chain judged now: time-stamp not used: its signature does not verify"),
      (0, NOT_TIME_VALID)]),
    # The stamp holds, but the certificate had not begun at its time.
    ("stamped_before_validity", False, [(0, STAMP_USED), (0, NOT_TIME_VALID)]),
    ("lifetime", False,
     [(0, "Chain judged now: the certificate is for lifetime signing"), (0, NOT_TIME_VALID)]),
    ("imprint_sha1", True, [(0, STAMP_USED)]),
    ("imprint_sha384", True, [(0, STAMP_USED)]),
    ("imprint_sha512", True, [(0, STAMP_USED)]),
    ("later_stamp_holds", True, [(0, STAMP_USED)]),
    ("authority_expired_since", True, [(0, STAMP_USED)]),
    ("built_token", True, [(0, STAMP_USED)]),
    # A stamp extends a chain only when its authority signed a token info
    # for this signature...
    ("relabelled_reply", False, [(0, NOT_TOKEN_INFO), (0, NOT_TIME_VALID)]),
    ("nested_relabelled_reply", False, [(1, NOT_TOKEN_INFO), (1, NOT_TIME_VALID)]),
    ("signed_as_data", False, [(0, NOT_TOKEN_INFO), (0, NOT_TIME_VALID)]),
    ("signed_without_type", False, [(0, NOT_TOKEN_INFO), (0, NOT_TIME_VALID)]),
    # ...with a certificate for time stamping...
    ("token_authority_no_usage", False, [(0, NOT_FOR_TIME_STAMPING), (0, NOT_TIME_VALID)]),
    ("countersigner_no_usage", False, [(0, NOT_FOR_TIME_STAMPING), (0, NOT_TIME_VALID)]),
    # ...that no authority above it restricts to other uses.
    ("token_under_code_signing_ca", False, [(0, USAGE_EXCLUDED), (0, NOT_TIME_VALID)]),
    ("countersigned_under_code_signing_ca", False, [(0, USAGE_EXCLUDED), (0, NOT_TIME_VALID)]),
    ("token_under_server_ca", False, [(0, USAGE_EXCLUDED), (0, NOT_TIME_VALID)]),
    ("countersigned_under_server_ca", False, [(0, USAGE_EXCLUDED), (0, NOT_TIME_VALID)]),
    ("token_under_time_stamping_ca", True, [(0, STAMP_USED)]),
    ("countersigned_under_time_stamping_ca", True, [(0, STAMP_USED)]),
    ("token_under_any_use_ca", True, [(0, STAMP_USED)]),
    ("countersigned_under_any_use_ca", True, [(0, STAMP_USED)]),
    # A time after the present is no proof: the chain is judged now, when
    # the certificate has not begun.
    ("stamped_after_now", False, [(0, AFTER_NOW), (0, NOT_TIME_VALID)]),
    ("countersigned_after_now", False, [(0, AFTER_NOW), (0, NOT_TIME_VALID)]),
    # A token info is read to its end, an extension of no known type
    # understood only where it is not critical.
    ("token_info_extension", True, [(0, STAMP_USED)]),
    ("token_info_critical_extension", False, [(0, UNREADABLE), (0, NOT_TIME_VALID)]),
    ("token_info_element_after", False, [(0, UNREADABLE), (0, NOT_TIME_VALID)]),
    # The stamp's signer is the certificate its identifier names, not one
    # whose subject is the named issuer.
    ("token_signer_named_by_subject", False, [(0, SIGNER_MISSING), (0, NOT_TIME_VALID)]),
    ("token_signer_of_another_serial", False, [(0, SIGNER_MISSING), (0, NOT_TIME_VALID)]),
    ("token_signer_of_another_key", False, [(0, SIGNER_MISSING), (0, NOT_TIME_VALID)]),
    ("token_signer_by_key_identifier", True, [(0, STAMP_USED)]),
    ("countersigner_named_by_subject", False, [(0, SIGNER_MISSING), (0, NOT_TIME_VALID)]),
    ("countersigner_of_another_serial", False, [(0, SIGNER_MISSING), (0, NOT_TIME_VALID)]),
    ("countersigner_of_another_key", False, [(0, SIGNER_MISSING), (0, NOT_TIME_VALID)]),
    # A signed data without its digest algorithms is malformed, the file's
    # own signature as a token.
    ("no_digest_algorithms", False, [(None, "Cannot CryptQueryObject:")]),
    ("token_without_digest_algorithms", False, [(0, UNREADABLE), (0, NOT_TIME_VALID)]),
]


@pytest.mark.parametrize("name,accepted,lines", CASES, ids=[c[0] for c in CASES])
def test_chain_judged_at_the_proven_stamp(run_exe, stamped_files, name, accepted, lines):
    pki, files = stamped_files
    verdict, report = verify(run_exe, files[name], root=pki.folder / "ca.der")
    print("\n".join(report))
    assert verdict == accepted
    for level, line in lines:
        prefix = "" if level is None else f"Level {level}: "
        assert any(l.startswith(prefix + line) for l in report), (line, report)


# Genuine programs of npm packages, signed by vendors whose certificates
# have ended since, and stamped by each vendor's authority (the first two
# packages' tokens carry an attribute certificate in their set, which
# Wine's decoder cannot read as it is): package, its files, their signer.
# The arm64 images are hashed as any other: a wrong digest refuses a file.
CONPTY = "third_party/conpty/1.23.251008001/win10-{}/{}"
INNO_PROGRAMS = ["Compil32.exe", "ISCC.exe", "ISCmplr.dll", "ISPP.dll", "isbunzip.dll",
                 "isbzip.dll", "islzma.dll", "islzma32.exe", "islzma64.exe", "isscint.dll",
                 "isunzlib.dll", "iszlib.dll", "unins000.exe"]
GENUINE = [
    ("@electron/windows-sign@1.2.2", ["vendor/signtool.exe"], "Microsoft Corporation"),
    ("node-pty@1.1.0", [CONPTY.format(arch, name) for arch in ("x64", "arm64")
                        for name in ("conpty.dll", "OpenConsole.exe")], "Microsoft Corporation"),
    ("innosetup-compiler@6.3.1", [f"bin/{name}" for name in INNO_PROGRAMS],
     "Open Source Developer, Martijn Laan"),
]
GENUINE_FILES = [(package, member, signer) for package, members, signer in GENUINE
                 for member in members]
# What the registry may take to answer, per package: it is not ours to
# wait on longer.
NPM_WAIT = 120


def npm_pack(package, folder):
    """The tarball of `package` fetched by npm into `folder` (its cache too),
    or why it could not be."""
    command = ["npm", "pack", "--silent", "--cache", str(folder / "npm_cache"),
               "--fetch-retries=0", "--fetch-timeout=60000", "--no-update-notifier",
               "--pack-destination", str(folder), package]
    try:
        result = subprocess.run(command, cwd=folder, capture_output=True, text=True,
                                timeout=NPM_WAIT)
    except (OSError, subprocess.TimeoutExpired) as error:
        return None, str(error)
    if result.returncode != 0:
        return None, (result.stderr.strip() or result.stdout.strip())[-300:]
    return folder / result.stdout.strip().splitlines()[-1], None


@pytest.fixture(scope="module")
def genuine_programs(tmp_path_factory):
    """{(package, member): path} of GENUINE's files, unpacked in the build
    folder's test area; the test skips when the registry is not reached."""
    folder = tmp_path_factory.mktemp("npm")
    programs = {}
    for package, members, _ in GENUINE:
        tarball, error = npm_pack(package, folder)
        if not tarball:
            pytest.skip(f"the npm registry cannot be reached, {package} not fetched: {error}")
        with tarfile.open(tarball) as archive:
            for member in members:
                # Written under a name of our own: the tarball's names are
                # not trusted.
                path = folder / f"{len(programs)}_{member.rsplit('/', 1)[-1]}"
                path.write_bytes(archive.extractfile(f"package/{member}").read())
                programs[package, member] = path
    return programs


@pytest.mark.parametrize("package,member,signer", GENUINE_FILES,
                         ids=[f"{p.rsplit('@', 1)[0]}-{m}" for p, m, _ in GENUINE_FILES])
def test_genuine_program_accepted_at_its_stamp(run_exe, genuine_programs, package, member,
                                               signer):
    result = run_exe(TOOL, "verify-as", signer,
                     windows_path(genuine_programs[package, member]), check=True)
    lines = result.stdout.decode().splitlines()
    print("\n".join(lines))
    assert lines[:2] == ["verdict 1", "quiet 1"]
    assert any(line.startswith("Level ") and STAMP_USED in line for line in lines[2:])
