#!/usr/bin/env python3
"""Writes the header that tells installer.exe which library is its own: the
SHA-256 Authenticode digest of the library as the build links and strips it.
Signing leaves that digest as it is (it changes only the checksum, the
certificate table's entry and the table, which the digest leaves out), so a
host knows its library whether or not the two are signed.

The digest as the format defines it: the headers without the checksum and
the certificate table's entry, then each section's raw data in file order,
then what follows the last one. The library must lie in one piece, as the
linker lays it out (headers, sections back to back, then the rest), so that
any reader that hashes it in file order gets the same digest; and its length
must be a multiple of 8, so that signing puts no padding before the table.

Usage: write_library_digest.py LIBRARY OUTPUT_HEADER
"""

import hashlib
import struct
import sys

CHECKSUM_OFFSET = 64  # in the optional header, PE32 and PE32+ alike
PE32_PLUS = 0x20B
SECTION_HEADER_SIZE = 40


def digested_ranges(image):
    """The byte ranges the Authenticode digest covers, in order."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0", "not a PE image"
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (112 if magic == PE32_PLUS else 96)
    certificate_entry = directories + 4 * 8
    table_offset, table_size = struct.unpack_from("<II", image, certificate_entry)
    assert table_size == 0, "the library is signed already: its digest is the unsigned build's"
    headers_end = struct.unpack_from("<I", image, optional + 60)[0]
    ranges = [(0, optional + CHECKSUM_OFFSET),
              (optional + CHECKSUM_OFFSET + 4, certificate_entry),
              (certificate_entry + 8, headers_end)]
    table = optional + optional_size
    raw = [struct.unpack_from("<II", image, table + i * SECTION_HEADER_SIZE + 16)
           for i in range(sections)]
    ranges += sorted((start, start + size) for size, start in raw if size)
    ranges.append((ranges[-1][1], len(image)))
    return ranges


def library_digest(image):
    ranges = digested_ranges(image)
    # In one piece: every range starts where the one before ended, bar the
    # two header fields left out.
    for (_, end), (start, _) in zip(ranges[2:], ranges[3:]):
        assert start == end, f"the library has a gap or an overlap at {end:#x}"
    assert len(image) % 8 == 0, "the library's length is not a multiple of 8"
    digest = hashlib.sha256()
    for start, end in ranges:
        digest.update(image[start:end])
    return digest.digest()


def main():
    library, header = sys.argv[1], sys.argv[2]
    with open(library, "rb") as file:
        digest = library_digest(file.read())
    text = ("// Written by write_library_digest.py from the library of this build.\n"
            "#ifndef INSTALLER_LIBRARY_DIGEST_H_\n#define INSTALLER_LIBRARY_DIGEST_H_\n\n"
            "#include <cstdint>\n\n"
            "inline constexpr uint8_t kInstallerLibraryDigest[] = {\n"
            + "".join("    " + ", ".join(f"0x{byte:02x}" for byte in digest[i:i + 8]) + ",\n"
                      for i in range(0, len(digest), 8))
            + "};\n\n#endif  // INSTALLER_LIBRARY_DIGEST_H_\n")
    with open(header, "w") as file:
        file.write(text)


if __name__ == "__main__":
    main()
