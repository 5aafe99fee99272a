#!/usr/bin/env python3
"""Writes the publisher's certificate (the first of a PEM file) as the
bytes of a C array, for build_publisher.cc to compile in; with --roots,
every certificate of the PEM files given (the publisher's roots), each an
array of its own, and the list of them.

Usage: write_publisher_certificate.py CERTIFICATE_PEM OUTPUT_INC
       write_publisher_certificate.py --roots OUTPUT_INC ROOTS_PEM...
"""

import base64
import re
import sys

CERTIFICATE = re.compile(r"-----BEGIN CERTIFICATE-----(.+?)-----END CERTIFICATE-----",
                         re.DOTALL)


def certificates(pem):
    with open(pem) as file:
        found = [base64.b64decode("".join(match.split()))
                 for match in CERTIFICATE.findall(file.read())]
    assert found, f"{pem} holds no certificate"
    return found


def byte_lines(der):
    return "".join(" ".join(f"0x{byte:02x}," for byte in der[i:i + 12]) + "\n"
                   for i in range(0, len(der), 12))


def write_roots(output, pems):
    roots = [der for pem in pems for der in certificates(pem)]
    with open(output, "w") as file:
        file.write(f"// Written by write_publisher_certificate.py from {' '.join(pems)}.\n")
        for index, der in enumerate(roots):
            file.write(f"constexpr uint8_t kPublisherRoot{index}[] = {{\n{byte_lines(der)}}};\n")
        names = ", ".join(f"kPublisherRoot{index}" for index in range(len(roots)))
        file.write(f"constexpr std::span<const uint8_t> kPublisherRootList[] = {{{names}}};\n")


def main():
    if sys.argv[1] == "--roots":
        write_roots(sys.argv[2], sys.argv[3:])
        return
    pem, output = sys.argv[1], sys.argv[2]
    with open(output, "w") as file:
        file.write(f"// Written by write_publisher_certificate.py from {pem}.\n")
        file.write(byte_lines(certificates(pem)[0]))


if __name__ == "__main__":
    main()
