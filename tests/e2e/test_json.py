"""The JSON reader and writer checked against Python's json module: random
value trees written by Python must read back to the same tree, and the text
our writer emits, compact and pretty, must load in Python to that tree again,
doubles bit for bit. Damaged documents must be refused when Python refuses
them, and read alike when Python reads them. Everything goes through one
process of the request tool."""

import json
import math
import random
import struct

TOOL = "base/json_tool.exe"

INT32_MIN, INT32_MAX = -2**31, 2**31 - 1

SPECIAL_FLOATS = [5e-324, -5e-324, 1.7976931348623157e308, -1.7976931348623157e308, -0.0, 0.0,
                  2.2250738585072014e-308, 1e-7, 0.1, 1e21, 1e22, 123456789012.0, 1.0, -1.5,
                  9007199254740993.0, 2.0**63, -2.0**63, 0.5, 1e16]
SPECIAL_INTS = [0, -1, 1, INT32_MIN, INT32_MAX, INT32_MIN - 1, INT32_MAX + 1, 2**53, -2**53,
                10**20]

# Characters the reader keeps as they are; NUL, surrogates and noncharacters
# are left out (the reader drops \u0000 and refuses the others).
TEXT_POOL = ("abcXYZ 019_-/.:,{}[]\"\\<>&'\t\n\r\b\f\x01\x1f\x7f"
             "\u00e9\u00df\u0416\u4e2d\u20ac\u2028\u2029\ufeff\U0001F600\U00010348")


def random_text(rng, limit=12):
    return "".join(rng.choice(TEXT_POOL) for _ in range(rng.randint(0, limit)))


def random_float(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return rng.choice(SPECIAL_FLOATS)
    if kind == 1:
        while True:
            value = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
            if math.isfinite(value):
                return value
    if kind == 2:
        return rng.uniform(-1e6, 1e6)
    return float(rng.randint(-10**6, 10**6)) / 100


def random_scalar(rng):
    kind = rng.randrange(7)
    if kind == 0:
        return None
    if kind == 1:
        return rng.random() < 0.5
    if kind == 2:
        return rng.choice(SPECIAL_INTS) if rng.random() < 0.3 else rng.randint(-10**6, 10**6)
    if kind == 3:
        return rng.randint(INT32_MIN, INT32_MAX)
    if kind in (4, 5):
        return random_float(rng)
    return random_text(rng, 30)


def random_tree(rng, depth=0):
    kind = rng.randrange(10) if depth < 6 else 9
    if kind < 3:
        return {random_text(rng): random_tree(rng, depth + 1)
                for _ in range(rng.randint(0, 6))}
    if kind < 5:
        return [random_tree(rng, depth + 1) for _ in range(rng.randint(0, 6))]
    return random_scalar(rng)


def expected(tree):
    """What the reader makes of a Python tree: integers outside 32 bits
    become doubles, and a NUL (only \\u0000 can carry one) is dropped."""
    if isinstance(tree, dict):
        return {key.replace("\0", ""): expected(value) for key, value in tree.items()}
    if isinstance(tree, list):
        return [expected(value) for value in tree]
    if isinstance(tree, str):
        return tree.replace("\0", "")
    if isinstance(tree, int) and not isinstance(tree, bool) and \
            not INT32_MIN <= tree <= INT32_MAX:
        return float(tree)
    return tree


def same(a, b):
    """Strict equality: types must match, doubles compare bit for bit."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[key], b[key]) for key in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, float):
        return struct.pack("<d", a) == struct.pack("<d", b)
    return a == b


def dumps_randomly(rng, tree):
    return json.dumps(tree, ensure_ascii=rng.random() < 0.5,
                      indent=rng.choice([None, None, 2, "\t"]),
                      separators=rng.choice([None, (",", ":")]),
                      sort_keys=rng.random() < 0.5).encode()


def ask(run_exe, documents):
    """Sends every document to one tool process; one answer per document:
    (compact bytes, pretty bytes) or ("error", code, line, column)."""
    data = b"".join(b"%d\n%s" % (len(doc), doc) for doc in documents)
    result = run_exe(TOOL, "--records", input=data, timeout=600, check=True)
    out = result.stdout
    answers = []
    position = 0
    while position < len(out):
        line_end = out.index(b"\n", position)
        header = out[position:line_end].split()
        position = line_end + 1
        if header[0] == b"error":
            answers.append(("error",) + tuple(int(x) for x in header[1:]))
            continue
        compact_size, pretty_size = int(header[1]), int(header[2])
        compact = out[position:position + compact_size]
        position += compact_size
        pretty = out[position:position + pretty_size]
        position += pretty_size
        answers.append((compact, pretty))
    assert len(answers) == len(documents)
    return answers


def test_python_trees_round_trip(run_exe):
    rng = random.Random(1157)
    trees = [random_tree(rng) for _ in range(1500)]
    trees += [[value] for value in SPECIAL_FLOATS + SPECIAL_INTS]
    trees += [{"k": random_text(rng, 200)} for _ in range(50)]
    documents = [dumps_randomly(rng, tree) for tree in trees]
    answers = ask(run_exe, documents)

    failures = []
    for tree, document, answer in zip(trees, documents, answers):
        want = expected(tree)
        if answer[0] == "error":
            failures.append((document[:200], answer))
            continue
        compact, pretty = answer
        if not same(want, json.loads(compact)) or not same(want, json.loads(pretty)):
            failures.append((document[:200], compact[:200]))
        # Pretty text breaks lines with CR LF only and ends with one.
        if not pretty.endswith(b"\r\n") or pretty.count(b"\n") != pretty.count(b"\r\n"):
            failures.append(("pretty line ends", pretty[:200]))
        if b"\n" in compact:
            failures.append(("compact line break", compact[:200]))
    assert not failures[:10], f"{len(failures)} of {len(documents)} differ"


def strings_of(tree):
    if isinstance(tree, dict):
        for key, value in tree.items():
            yield key
            yield from strings_of(value)
    elif isinstance(tree, list):
        for value in tree:
            yield from strings_of(value)
    elif isinstance(tree, str):
        yield tree


def floats_of(tree):
    if isinstance(tree, dict):
        tree = list(tree.values())
    if isinstance(tree, list):
        for value in tree:
            yield from floats_of(value)
    elif isinstance(tree, float):
        yield tree


def reader_may_refuse(tree):
    """Texts Python reads that this reader refuses by design: lone
    surrogates and noncharacters, and numbers that overflow or underflow a
    double."""
    for text in strings_of(tree):
        for c in text:
            code = ord(c)
            if 0xD800 <= code <= 0xDFFF or 0xFDD0 <= code <= 0xFDEF or \
                    (code & 0xFFFE) == 0xFFFE:
                return True
    return any(math.isinf(value) or value == 0 for value in floats_of(tree))


def uses_extensions(document):
    """Damaged texts that fall into what this reader accepts beyond JSON:
    comments, \\x and \\v escapes, raw control characters in strings."""
    return (b"//" in document or b"/*" in document or b"\\x" in document or
            b"\\v" in document or
            any(byte < 0x20 and byte not in b" \t\r\n" for byte in document))


def damaged(rng, document):
    position = rng.randrange(len(document))
    kind = rng.randrange(3)
    if kind == 0:
        return document[:position] + document[position + 1:]
    if kind == 1:
        return document[:position]
    return document[:position] + document[position:position + 1] + document[position:]


def test_damaged_documents_agree_with_python(run_exe):
    rng = random.Random(11570)
    documents = []
    for _ in range(4000):
        tree = random_tree(rng)
        document = json.dumps(tree, ensure_ascii=rng.random() < 0.5).encode()
        if document:
            documents.append(damaged(rng, document))
    answers = ask(run_exe, documents)

    failures = []
    for document, answer in zip(documents, answers):
        try:
            tree = json.loads(document)
        except ValueError:
            if answer[0] != "error" and not uses_extensions(document):
                failures.append(("accepted", document[:200]))
            continue
        if answer[0] == "error":
            if not reader_may_refuse(tree) and not uses_extensions(document):
                failures.append(("refused", document[:200], answer))
            continue
        if not same(expected(tree), json.loads(answer[0])):
            failures.append(("differs", document[:200], answer[0][:200]))
    assert not failures[:10], f"{len(failures)} of {len(documents)} disagree"


def test_single_document_modes(run_exe):
    pretty = run_exe(TOOL, "--pretty", input=b'\xef\xbb\xbf{"b":[1,2.5],"a":{}}', check=True)
    assert pretty.stdout == b'{\r\n   "a": {\r\n\r\n   },\r\n   "b": [ 1, 2.5 ]\r\n}\r\n'
    assert json.loads(pretty.stdout) == {"a": {}, "b": [1, 2.5]}

    refused = run_exe(TOOL, input=b'{"a": 1}\n  x')
    assert refused.returncode == 1
    assert refused.stdout == b"error 6 2 3\n"
