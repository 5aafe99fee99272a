#!/usr/bin/env python3
"""The test roots of earlier commits' builds in the machine Root store of the
Wine session's prefix, for a benchmark that runs their installers beside
this build's: every build makes a test PKI of its own, and only this
build's root is trusted there (scripts/trust-test-root), while an installer
proves its package's signer to a root the machine trusts.
    bench/earlier_build_roots.py trust|forget BUILD EARLIER_BUILD...
BUILD's wine-run reaches the session's prefix (WINEPREFIX)."""

import hashlib
import struct
import subprocess
import sys
from pathlib import Path

ROOT_STORE = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates"


def root_of(build):
    return (Path(build) / "installer_files" / "pki" / "ca.der").read_bytes()


def key_of(der):
    """The store names each certificate by its SHA-1 thumbprint in capitals."""
    return f"{ROOT_STORE}\\{hashlib.sha1(der).hexdigest().upper()}"


def reg(build, *arguments, check=True):
    subprocess.run([str(Path(build) / "wine-run"), "reg", *arguments], check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def trust(build, earlier):
    for other in earlier:
        der = root_of(other)
        # A stored certificate: property 32 (the encoded certificate), a
        # reserved 1, the length, then the DER bytes.
        blob = struct.pack("<III", 32, 1, len(der)) + der
        reg(build, "add", key_of(der), "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f")


def forget(build, earlier):
    own = root_of(build)
    for other in earlier:
        der = root_of(other)
        if der != own:
            reg(build, "delete", key_of(der), "/f", check=False)


class Trusted:
    """The earlier builds' roots trusted for a `with` block."""

    def __init__(self, build, earlier):
        self.build, self.earlier = build, list(earlier)

    def __enter__(self):
        trust(self.build, self.earlier)
        return self

    def __exit__(self, *exc):
        forget(self.build, self.earlier)


def main(argv):
    if len(argv) < 3 or argv[1] not in ("trust", "forget"):
        sys.exit(__doc__)
    {"trust": trust, "forget": forget}[argv[1]](argv[2], argv[3:])


if __name__ == "__main__":
    main(sys.argv)
