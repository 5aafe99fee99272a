"""A signer's chain is judged at the time its proven time-stamp states, else
now: signatures of a certificate that has expired since (made with openssl
under faketime), stamped by the test time-stamping authority
(timestamp_server.py) as RFC 3161 tokens and as the older countersignatures
(osslsigncode -ts / -t), then forged in the ways a stamp can be: another
authority, another signature's imprint, a changed token, a stamp from
before the certificate began. Wine's WinVerifyTrust passes them all; the
verdict is our own proof's."""

import pytest

from test_signature import (EXPECTED_SIGNER, SMALL_PE, Pki, certificate_table_signature,
                            der_children, der_item, signed_data, verify)
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
    for name, source, part in [("token_info_changed", "rfc3161", "token serial"),
                               ("token_signature_changed", "rfc3161", "token signature"),
                               ("countersigned_time_changed", "countersigned",
                                "countersigned time")]:
        files[name] = flipped(files[source], part, folder / f"{name}.exe")
    return pki, files


STAMP_USED = "Chain judged at the signature's time-stamp "
NOT_TIME_VALID = "Certificate chain is not trusted: chain status 0x1"

# file, verdict, lines the report holds (prefixes, "Level N: " added)
CASES = [
    ("rfc3161", True, [(0, STAMP_USED)]),
    ("countersigned", True, [(0, STAMP_USED)]),
    ("countersigned_sha1", True, [(0, STAMP_USED)]),
    ("nested", True, [(1, STAMP_USED)]),
    ("valid_stamped_now", True, [(0, STAMP_USED)]),
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
]


@pytest.mark.parametrize("name,accepted,lines", CASES, ids=[c[0] for c in CASES])
def test_chain_judged_at_the_proven_stamp(run_exe, stamped_files, name, accepted, lines):
    pki, files = stamped_files
    verdict, report = verify(run_exe, files[name], root=pki.folder / "ca.der")
    print("\n".join(report))
    assert verdict == accepted
    for level, line in lines:
        assert any(l.startswith(f"Level {level}: {line}") for l in report), (line, report)
