"""Tells the build to make its test PKI anew before it ends: run at every
build, it writes STAMP (which the PKI's making depends on) when the PKI in
FOLDER is not there or any of its certificates ends within a year, and
leaves STAMP untouched otherwise, so that nothing is rebuilt. A kept build
folder so never signs or checks with a certificate past its end.

    python3 renew_pki.py FOLDER STAMP
"""

import subprocess
import sys
import time
from pathlib import Path

# A year's margin: a build folder kept that long between builds still
# renews before its signatures' certificates end.
MARGIN_SECONDS = 365 * 24 * 3600


def ends_within(certificate, seconds):
    """Whether the certificate (the first of the file) ends within
    `seconds`; a file that holds none is not judged."""
    said = subprocess.run(["openssl", "x509", "-in", str(certificate), "-noout",
                           "-checkend", str(seconds)], capture_output=True, text=True).stdout
    return said.strip() == "Certificate will expire"


def reason_to_renew(folder):
    """Why the PKI must be made anew, or None."""
    # A chain file repeats a certificate of its own and its CA's.
    certificates = sorted(path for path in folder.glob("*.pem")
                          if not path.name.endswith("_chain.pem"))
    if not certificates:
        return f"no certificates in {folder}"
    ending = [path.name for path in certificates if ends_within(path, MARGIN_SECONDS)]
    return f"ending within a year: {', '.join(ending)}" if ending else None


def main():
    folder, stamp = Path(sys.argv[1]), Path(sys.argv[2])
    reason = reason_to_renew(folder)
    if reason is None and stamp.exists():
        return
    stamp.parent.mkdir(parents=True, exist_ok=True)
    stamp.write_text(f"{time.strftime('%Y-%m-%d %H:%M:%S')} {reason or 'first check'}\n")
    if reason:
        print(f"The test PKI is made anew: {reason}")


if __name__ == "__main__":
    main()
