#!/usr/bin/env python3
"""Writes an image's build identity in place, right after its link: the
SHA-256 of the image as linked, over the placeholder of its ".tvbuild"
section (cmake/build_identity.cc). Two builds that differ in any byte
carry different identities; the loader maps the section as it is, so a
running program compares its own with the same bytes of a file that claims
to be its build.

Usage: write_build_identity.py IMAGE
"""

import hashlib
import struct
import sys

SECTION = b".tvbuild"
SIZE = 32
PLACEHOLDER = b"identity written after the link\0"
SECTION_HEADER_SIZE = 40


def identity_offset(image):
    """The file offset of the identity: its section's raw data."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0", "not a PE image"
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    table = pe + 24 + optional_size
    for index in range(sections):
        header = table + index * SECTION_HEADER_SIZE
        name, virtual_size, _, raw_size, raw_offset = struct.unpack_from(
            "<8sIIII", image, header)
        if name == SECTION:
            assert min(virtual_size, raw_size) >= SIZE, "the identity section is too small"
            return raw_offset
    raise AssertionError("the image carries no identity section")


def main():
    path = sys.argv[1]
    with open(path, "r+b") as file:
        image = file.read()
        offset = identity_offset(image)
        assert image[offset:offset + SIZE] == PLACEHOLDER, \
            "the identity is not the placeholder: written already, or another layout"
        file.seek(offset)
        file.write(hashlib.sha256(image).digest())


if __name__ == "__main__":
    main()
