"""MD5, SHA-1 and SHA-256 checked against hashlib at every padding boundary
and on a 10 MB buffer; the base64 decoder against base64.b64decode(validate=True);
GUID texts against the uuid module."""

import base64
import binascii
import hashlib
import random
import uuid

from conftest import windows_path

TOOL = "crypto/hash_tool.exe"

# One and two blocks' padding boundaries of the 64-byte block hashes.
LENGTHS = [0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000]
LARGE = 10 * 1024 * 1024


def test_hashes_match_hashlib(run_exe, tmp_path):
    rng = random.Random(1127)
    contents = [rng.randbytes(n) for n in LENGTHS] + [rng.randbytes(LARGE)]
    paths = []
    for i, data in enumerate(contents):
        path = tmp_path / f"input{i}.bin"
        path.write_bytes(data)
        paths.append(windows_path(path))
    lines = run_exe(TOOL, "hash", *paths, check=True).stdout.decode().splitlines()
    assert len(lines) == len(contents)
    for data, line in zip(contents, lines):
        expected = [hashlib.new(name, data).hexdigest() for name in ("md5", "sha1", "sha256")]
        assert line.lower().split() == expected, f"length {len(data)}"


def python_decode(text):
    """Our decoder's expected answer. It accepts a subset of what
    b64decode(validate=True) accepts: padding is required to make the length
    a multiple of 4, so surplus padding ("QUJD=", "QUJD====") is refused."""
    try:
        decoded = base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError):
        return None
    padding = len(text) - len(text.rstrip(b"="))
    if len(text) % 4 or padding > 2:
        return None
    return decoded


def base64_corpus(rng):
    corpus = [b"", b"QQ", b"QQ=", b"QQ==", b"QR==", b"QUJD", b"QU JD", b"QUJD=", b"QUJD==",
              b"QUJD====", b"QUI==", b"QQ==QQ==", b"Q===", b"====", b"=QUJ", b"QUJD\n",
              b"QUJD\r\n", b"-_-_", b"QU\x00D", b"QU\xc3\x81", b"AAA=", b"AB==", b"////"]
    noise = b" \t\r\n=-_.\x00\x80\xff"
    for _ in range(1500):
        text = base64.b64encode(rng.randbytes(rng.randint(0, 40)))
        mutation = rng.randint(0, 3)
        position = rng.randint(0, len(text))
        if mutation == 1:  # insert a stray character
            text = text[:position] + bytes([rng.choice(noise)]) + text[position:]
        elif mutation == 2 and text:  # drop a character
            text = text[:position] + text[position + 1:]
        elif mutation == 3:  # surplus or missing padding
            text = text.rstrip(b"=") + b"=" * rng.randint(0, 4)
        corpus.append(text)
    return corpus


def test_base64_decode_agrees_with_python(run_exe):
    corpus = base64_corpus(random.Random(4648))
    requests = b"".join(text.hex().encode() + b"\n" for text in corpus)
    answers = run_exe(TOOL, "base64", input=requests, check=True).stdout.decode().splitlines()
    assert len(answers) == len(corpus)
    for text, answer in zip(corpus, answers):
        expected = python_decode(text)
        # A refused input must leave the output string untouched.
        wanted = "0 untouched" if expected is None else "1 " + expected.hex().upper()
        assert answer == wanted, text


def test_guid_texts_are_random_version4(run_exe):
    lines = run_exe(TOOL, "guid", 2000, check=True).stdout.decode().splitlines()
    assert len(lines) == 2000 and len(set(lines)) == 2000
    for line in lines:
        parsed = uuid.UUID(line)
        assert str(parsed) == line  # canonical lower-case form
        assert parsed.version == 4 and parsed.variant == uuid.RFC_4122
    # Every one of the 122 random bits must vary across the sample.
    values = [uuid.UUID(line).int for line in lines]
    fixed = (1 << 128) - 1
    for value in values:
        fixed &= ~(value ^ values[0])
    assert fixed == (0xF << 76) | (0x3 << 62)
