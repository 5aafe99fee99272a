#!/usr/bin/env python3
"""Writes the publisher's certificate (the first of a PEM file) as the
bytes of a C array, for build_publisher.cc to compile in.

Usage: write_publisher_certificate.py CERTIFICATE_PEM OUTPUT_INC
"""

import base64
import re
import sys


def main():
    pem, output = sys.argv[1], sys.argv[2]
    with open(pem) as file:
        match = re.search(r"-----BEGIN CERTIFICATE-----(.+?)-----END CERTIFICATE-----",
                          file.read(), re.DOTALL)
    assert match, f"{pem} holds no certificate"
    der = base64.b64decode("".join(match.group(1).split()))
    with open(output, "w") as file:
        file.write(f"// Written by write_publisher_certificate.py from {pem}.\n")
        for i in range(0, len(der), 12):
            file.write(" ".join(f"0x{byte:02x}," for byte in der[i:i + 12]) + "\n")


if __name__ == "__main__":
    main()
