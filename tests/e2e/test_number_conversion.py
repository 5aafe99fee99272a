"""Number conversion checked against Python: float() must read every text to
the same bits as the double parser, repr() must find the same shortest digits
as the double writer, and int() sets the expected results of the integer
parsers at every width's boundaries. The whole sample goes through one
process of the request tool."""

import math
import random
import re
import struct
from decimal import Decimal, getcontext

TOOL = "base/number_conversion_tool.exe"

SAMPLE_BITS = 40_000
SAMPLE_TEXTS = 25_000
SAMPLE_HALFWAY = 4_000


def bits_of(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def double_of(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def ask(run_exe, requests):
    data = "".join(f"{command} {text}\n" for command, text in requests).encode()
    result = run_exe(TOOL, input=data, timeout=600, check=True)
    answers = result.stdout.decode().split("\n")
    assert answers[-1] == ""
    assert len(answers) - 1 == len(requests)
    return answers[:-1]


def random_bit_patterns(rng):
    special = [0, 1 << 63, 1, 0x000FFFFFFFFFFFFF, 0x0010000000000000, 0x7FEFFFFFFFFFFFFF,
               0x7FF0000000000000, 0xFFF0000000000000, 0x7FF8000000000000, bits_of(0.1),
               bits_of(1e6), bits_of(1e5), bits_of(1e-4), bits_of(1e-5), bits_of(1e23)]
    patterns = list(special)
    for i in range(SAMPLE_BITS):
        kind = i % 4
        if kind == 0:  # anything, NaNs and infinities included
            patterns.append(rng.getrandbits(64))
        elif kind == 1:  # subnormals
            patterns.append(rng.getrandbits(1) << 63 | rng.getrandbits(52))
        elif kind == 2:  # magnitudes near 1, where the positional forms live
            exponent = rng.randint(1023 - 70, 1023 + 80)
            patterns.append(rng.getrandbits(1) << 63 | exponent << 52 | rng.getrandbits(52))
        else:  # few significant bits: short digit strings and powers of ten
            patterns.append(bits_of(float(rng.randint(1, 10**rng.randint(1, 17))) *
                                    10.0 ** rng.randint(-30, 30)))
    return patterns


def digits_and_exponent(text):
    """Digits without leading or trailing zeros and the decimal exponent e
    of a decimal text, the value being 0.d1d2...dn x 10^e."""
    match = re.fullmatch(r"-?(\d*)\.?(\d*)(?:[eE]([+-]?\d+))?", text)
    assert match, text
    integer, fraction, exponent = match.groups()
    digits = (integer + fraction).lstrip("0")
    exponent10 = len(integer) + int(exponent or 0) - (len(integer + fraction) - len(digits))
    if not digits:
        return "0", 1
    return digits.rstrip("0"), exponent10


def test_formatting_matches_repr_and_reads_back(run_exe):
    rng = random.Random(1142)
    patterns = random_bit_patterns(rng)
    answers = ask(run_exe, [("format", f"{bits:016X}") for bits in patterns])
    failures = []
    for bits, text in zip(patterns, answers):
        value = double_of(bits)
        if math.isnan(value):
            ok = text == ("-NaN" if bits >> 63 else "NaN")
        elif math.isinf(value):
            ok = text == ("-Infinity" if value < 0 else "Infinity")
        else:
            ok = (bits_of(float(text)) == bits and
                  digits_and_exponent(text) == digits_and_exponent(repr(value)) and
                  text.startswith("-") == (bits >> 63 == 1) and
                  len(text) <= 24)
        if not ok:
            failures.append((f"{bits:016X}", repr(value), text))
    assert not failures[:20], f"{len(failures)} of {len(patterns)} differ"


def random_decimal_text(rng):
    digits = "".join(rng.choice("0123456789") for _ in range(rng.choice(
        [rng.randint(1, 20), rng.randint(1, 20), rng.randint(15, 40), rng.randint(100, 800)])))
    point = rng.randint(0, len(digits))
    mantissa = digits[:point] + "." + digits[point:] if rng.random() < 0.7 else digits
    if mantissa == ".":
        mantissa = "0."
    sign = rng.choice(["", "", "-", "+"])
    if rng.random() < 0.2:
        return sign + mantissa
    exponent = rng.randint(-360, 330)
    written = str(exponent) if exponent < 0 or rng.random() < 0.5 else f"+{exponent}"
    return f"{sign}{mantissa}{rng.choice('eE')}{written}"


def halfway_text(rng):
    """The exact midpoint between a random double and the next one up, or a
    hair off it: the texts that a sloppy parser rounds wrongly."""
    value = double_of(rng.getrandbits(63))
    if math.isinf(value) or math.isnan(value):
        value = 1.5
    midpoint = (Decimal(value) + Decimal(math.nextafter(value, math.inf))) / 2
    text = format(midpoint, "f") if abs(midpoint) > 1e-5 else format(midpoint, "e")
    tweak = rng.choice(["", "", "1", "0000000000000000000001"])
    if tweak and "e" in text:
        mantissa, exponent = text.split("e")
        text = mantissa + ("" if "." in mantissa else ".") + tweak + "e" + exponent
    elif tweak:
        text += ("" if "." in text else ".") + tweak
    return text


def expected_parse(text):
    value = float(text)
    if re.search(r"[a-df-zA-DF-Z]", text):  # "inf", "nan": no range to leave
        return f"1 {bits_of(value):016X}"
    has_nonzero_digit = re.search(r"[1-9]", re.split("[eE]", text)[0]) is not None
    # Overflow and underflow to zero are range errors; subnormals are not.
    range_error = math.isinf(value) or (value == 0 and has_nonzero_digit)
    return ("0 " if range_error else "1 ") + f"{bits_of(value):016X}"


def test_parsing_matches_float(run_exe):
    getcontext().prec = 1200
    rng = random.Random(11420)
    texts = []
    for bits in random_bit_patterns(rng)[:SAMPLE_BITS // 2]:
        value = double_of(bits)
        if not (math.isnan(value) or math.isinf(value)):
            texts += [repr(value), "%.17g" % value, "%.25e" % value]
    texts += [random_decimal_text(rng) for _ in range(SAMPLE_TEXTS)]
    texts += [halfway_text(rng) for _ in range(SAMPLE_HALFWAY)]
    texts += ["5e-324", "2.4703282292062328e-324", "2.4703282292062327e-324", "3e-324",
              "2e-324", "1e-400", "-1e-400", "1e400", "-1e400", "1.7976931348623157e308",
              "1.7976931348623158e308", "1.7976931348623159e308", "0e999", "0.000e-999",
              "2.2250738585072011e-308", "2.2250738585072012e-308", "9007199254740993",
              "inf", "-Infinity", "iNfInItY"]
    answers = ask(run_exe, [("parse", text) for text in texts])
    failures = [(text, answer, expected_parse(text))
                for text, answer in zip(texts, answers) if answer != expected_parse(text)]
    assert not failures[:20], f"{len(failures)} of {len(texts)} differ"


INTEGER_PARSERS = {
    # command: (minimum, maximum)
    "int32": (-2**31, 2**31 - 1),
    "int64": (-2**63, 2**63 - 1),
    "wint64": (-2**63, 2**63 - 1),
    "uint32": (0, 2**32 - 1),
    "wuint32": (0, 2**32 - 1),
    "uint64": (0, 2**64 - 1),
}


def expected_integer(text, low, high):
    """The parser's contract in terms of int(): a stray character keeps the
    value of the digits before it, overflow keeps the bound passed."""
    clean = text[:1] != " "
    body = text.lstrip(" ")
    match = re.match(r"([+-]?)(\d*)", body)
    sign, digits = match.groups()
    complete = match.end() == len(body) and digits != ""
    if low == 0 and sign == "-":
        return "0 0"
    value = int(sign + digits) if digits else 0
    clamped = min(max(value, low), high)
    ok = clean and complete and clamped == value
    return ("1 " if ok else "0 ") + str(clamped)


def integer_texts(rng, low, high):
    values = [low - 1, low, low + 1, high - 1, high, high + 1, 0, 10 * high, 10 * high + 9,
              high * 10**20, low * 10 - 9, -1]
    values += [rng.randint(low, high) for _ in range(200)]
    texts = []
    for value in values:
        text = str(value)
        texts += [text, text + "x", " " + text, "00" + text.lstrip("-"), "+" + text.lstrip("-")]
    return texts + ["", "+", "-", "-0", "12 ", "1-2", "++1"]


def test_integer_parsers_match_int_at_boundaries(run_exe):
    rng = random.Random(142)
    requests, expected = [], []
    for command, (low, high) in INTEGER_PARSERS.items():
        for text in integer_texts(rng, low, high):
            requests.append((command, text))
            expected.append(expected_integer(text, low, high))
    for value in [0, 2**60 - 1, 2**60, 2**64 - 1, 2**64, 2**68] + \
            [rng.getrandbits(64) for _ in range(200)]:
        for text in [f"{value:x}", f"0x{value:X}", f"0X000{value:x}", f"{value:x}g"]:
            requests.append(("hex64", text))
            number = int(text.rstrip("g"), 16)
            ok = number < 2**64 and not text.endswith("g")
            expected.append(("1 " if ok else "0 ") + str(min(number, 2**64 - 1)))
    answers = ask(run_exe, requests)
    failures = [(request, answer, want)
                for request, answer, want in zip(requests, answers, expected) if answer != want]
    assert not failures[:20], f"{len(failures)} of {len(requests)} differ"


def test_hex_bytes_match_bytes_fromhex(run_exe):
    rng = random.Random(1143)
    texts = [rng.randbytes(rng.randint(1, 40)).hex() for _ in range(200)]
    texts = texts + [text.upper() for text in texts[:50]] + ["", "a", "abc", "0g", "00zz11"]
    answers = ask(run_exe, [("hexbytes", text) for text in texts])
    for text, answer in zip(texts, answers):
        try:
            want = "1 " + bytes.fromhex(text).hex().upper() if text and len(text) % 2 == 0 \
                else "0 "
        except ValueError:  # a bad pair: the pairs before it stay appended
            good = re.match(r"(?:[0-9a-fA-F]{2})*", text).group(0)
            want = "0 " + bytes.fromhex(good).hex().upper()
        assert answer == want, text
