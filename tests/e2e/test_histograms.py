"""Histograms, their samples and persistent segments checked byte by byte
with independent peers: bucket boundaries recomputed with math, checksums
with zlib.crc32, name ids with hashlib.md5, and serialised samples,
segment headers, blocks, histogram records and activity trackers decoded
with struct from what metrics_tool writes."""

import bisect
import hashlib
import math
import random
import struct
import zlib

from conftest import windows_path

TOOL = "base/metrics_tool.exe"
INT_MAX = 0x7FFFFFFF


def exponential_boundaries(minimum, maximum, buckets):
    boundaries = [0] * (buckets + 1)
    boundaries[1] = minimum
    boundaries[buckets] = INT_MAX
    current = minimum
    log_max = math.log(maximum)
    for i in range(2, buckets):
        log_current = math.log(current)
        log_next = log_current + (log_max - log_current) / (buckets - i)
        following = math.floor(math.exp(log_next) + 0.5)
        current = following if following > current else current + 1
        boundaries[i] = current
    return boundaries


def linear_boundaries(minimum, maximum, buckets):
    boundaries = [0] * (buckets + 1)
    boundaries[buckets] = INT_MAX
    for i in range(1, buckets):
        boundaries[i] = int(((buckets - 1 - i) * minimum + (i - 1) * maximum) / (buckets - 2) + 0.5)
    return boundaries


def checksum(boundaries):
    """CRC-32 seeded with the boundary count and not inverted: zlib's
    inverts on the way in and out."""
    data = struct.pack(f"<{len(boundaries)}i", *boundaries)
    start = len(boundaries) ^ 0xFFFFFFFF
    return zlib.crc32(data, start) ^ 0xFFFFFFFF


def name_id(name):
    return int.from_bytes(hashlib.md5(name).digest()[:8], "big")


def expected_shape(kind, minimum, maximum, buckets):
    """(minimum, maximum, buckets, flags, boundaries) after the entry
    point's clamps, or None when the request is refused."""
    clamp_max = lambda value: min(value, INT_MAX - 1)
    if kind == "exponential":
        shape = (max(minimum, 1), clamp_max(maximum), min(max(buckets, 0), 16383), 0)
    elif kind == "linear":
        shape = (1, clamp_max(maximum), min(max(buckets, 0), 16383), 1)
    elif kind == "counts":
        shape = (1, clamp_max(maximum), 50, 1)
    else:  # time, in milliseconds
        shape = (max(minimum, 1), clamp_max(maximum), 50, 1)
    low, high, count, flags = shape
    if count < 3 or high <= low:
        return None
    make = linear_boundaries if kind == "linear" else exponential_boundaries
    return low, high, count, flags, make(low, high, count)


def shapes():
    fixed = [
        ("exponential", 1, 1000000, 50), ("exponential", 1, 10000, 50),
        ("exponential", 1, 30, 31), ("exponential", 0, INT_MAX, 20000),
        ("exponential", -7, 100, 10), ("exponential", 1, 10, 50),
        ("exponential", 5, 5, 10), ("exponential", 100, 10, 20),
        ("exponential", 1, 100, 2), ("exponential", 1, 100, 0),
        ("linear", 0, 4, 5), ("linear", 0, 6, 7), ("linear", 0, 2, 3),
        ("linear", 0, 10, 11), ("linear", 0, 100, 101), ("linear", 0, 1000, 20000),
        ("linear", 0, 1, 5), ("linear", 0, 50, 2),
        ("counts", 0, 1000000, 0), ("counts", 0, 1000, 0), ("counts", 0, INT_MAX, 0),
        ("time", 1, 10000, 0), ("time", 0, 10000, 0), ("time", -50, 3000000000, 0),
    ]
    rng = random.Random(6102)
    for _ in range(400):
        kind = rng.choice(["exponential", "linear"])
        minimum = rng.choice([1, rng.randint(-10, 100), rng.randint(1, 1000000)])
        maximum = rng.choice([rng.randint(2, 1000), rng.randint(1000, INT_MAX)])
        buckets = rng.choice([rng.randint(0, 60), rng.randint(60, 400)])
        # Boundaries that step by one from a huge minimum would run past
        # INT32_MAX, which the histogram treats as a broken caller.
        if minimum + buckets < INT_MAX - 1:
            fixed.append((kind, minimum, maximum, buckets))
    return fixed


def test_bucket_boundaries_match_the_formulas(run_exe):
    requests = shapes()
    text = "".join(f"{k} {a} {b} {n}\n" for k, a, b, n in requests)
    lines = run_exe(TOOL, "ranges", input=text.encode(), check=True).stdout.decode().splitlines()
    assert len(lines) == len(requests)
    for request, line in zip(requests, lines):
        expected = expected_shape(*request)
        if expected is None:
            assert line == "refused", request
            continue
        low, high, count, flags, boundaries = expected
        fields = [int(field) for field in line.split()]
        assert fields[:4] == [low, high, count, flags], request
        assert fields[5:] == boundaries, request
        assert fields[4] == checksum(boundaries), request


def test_name_ids_are_md5_prefixes(run_exe):
    names = [b"", b"a", b"PlatformFile.UnknownErrors.Windows", b"Lustra.MessageLoopProblem",
             "Settings.JsonDataWriteCount.caf\u00e9.json".encode(), bytes(range(1, 256))]
    text = "".join(name.hex() + "\n" for name in names)
    lines = run_exe(TOOL, "hash", input=text.encode(), check=True).stdout.decode().split()
    assert [int(line, 16) for line in lines] == [name_id(name) for name in names]


class Fields:
    """A reader of the 4-byte-padded fields of a binary message payload."""

    def __init__(self, data):
        self.data = data
        self.offset = 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.offset)
        self.offset += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def string(self):
        length = self.take("i")
        text = self.data[self.offset:self.offset + length]
        self.offset += (length + 3) // 4 * 4
        return text

    def done(self):
        return self.offset == len(self.data)


def decode_samples(payload):
    fields = Fields(payload)
    total, count = fields.take("qi")
    triples = []
    while not fields.done():
        triples.append(fields.take("iIi"))
    return total, count, triples


def bucketed(boundaries, values):
    counts = {}
    for value in values:
        value = min(max(value, 0), INT_MAX - 1)
        index = bisect.bisect_right(boundaries, value) - 1
        counts[index] = counts.get(index, 0) + 1
    return counts


def test_serialised_identity_and_samples_decode(run_exe):
    lines = run_exe(TOOL, "pickle", check=True).stdout.decode().split("\n")
    dumps = {what: bytes.fromhex(hex_text) for what, hex_text in
             (line.split() for line in lines if line)}

    boundaries = exponential_boundaries(1, 1000, 10)
    fields = Fields(dumps["exponential-info"])
    assert fields.string() == b"Tool.Pickle"
    assert fields.take("IiiII") == (0x3, 1, 1000, 10, checksum(boundaries))
    assert fields.done()
    values = [-3, 0, 1, 5, 5, 999, 1000, INT_MAX, 50, 50, 50]
    total, count, triples = decode_samples(dumps["exponential-samples"])
    assert (total, count) == (sum(min(max(v, 0), INT_MAX - 1) for v in values), len(values))
    assert triples == [(boundaries[i], boundaries[i + 1], n)
                       for i, n in sorted(bucketed(boundaries, values).items())]

    fields = Fields(dumps["sparse-info"])
    assert fields.string() == b"Tool.PickleSparse"
    assert fields.take("I") == 0x1 and fields.done()
    total, count, triples = decode_samples(dumps["sparse-samples"])
    # INT32_MAX's entry ends at 2^31, which travels as its low 32 bits.
    assert (total, count) == (-5 + INT_MAX, 4)
    assert triples == [(-5, 0xFFFFFFFC, 1), (0, 1, 2), (INT_MAX, 0x80000000, 1)]

    custom = [0, 1, 10, 100, INT_MAX]
    fields = Fields(dumps["custom-info"])
    assert fields.string() == b"Tool.PickleCustom"
    assert fields.take("IiiII") == (0, 1, 100, 4, checksum(custom))
    assert fields.take("iii") == (1, 10, 100) and fields.done()


class Segment:
    """A persistent memory segment as written to a file."""

    HEAD = 40

    def __init__(self, data):
        self.data = data
        self.flags, self.free, self.tail = struct.unpack_from("<III", data, 28)

    def block(self, ref):
        size, cookie, type_id, following = struct.unpack_from("<IIII", self.data, ref)
        return size, cookie, type_id, following, self.data[ref + 16:ref + size]

    def queue(self):
        """(reference, type, payload) of every iterable block, in order."""
        ref = self.block(self.HEAD)[3]
        seen = []
        while ref != self.HEAD:
            size, cookie, type_id, following, payload = self.block(ref)
            assert cookie == 0xC8799269 and size % 8 == 0 and ref + size <= self.free
            assert ref not in [r for r, _, _ in seen]
            seen.append((ref, type_id, payload))
            ref = following
        assert not seen or self.tail == seen[-1][0]
        return seen

    def payload(self, ref, type_id):
        size, cookie, found_type, _, payload = self.block(ref)
        assert cookie == 0xC8799269 and found_type == type_id
        return payload


HISTOGRAM, COUNTS, RANGES, SPARSE_RECORD = 0xF1645913, 0x53215531, 0xBCEA225B, 0x8FE6A6A0


def decode_histograms(segment):
    """{name: record fields} of every histogram record in the queue."""
    records = {}
    for ref, type_id, payload in segment.queue():
        if type_id != HISTOGRAM:
            continue
        kind, flags, low, high, buckets, ranges_ref, crc, counts_ref = struct.unpack_from("<IIiiIIII", payload)
        live = struct.unpack_from("<QqiI", payload, 32)
        logged = struct.unpack_from("<QqiI", payload, 56)
        name = payload[80:payload.index(b"\0", 80)]
        assert flags & 0x40, name
        assert live[0] == name_id(name)
        record = {"kind": kind, "flags": flags, "live": live[1:3], "logged": logged[1:3],
                  "id": live[0], "logged_id": logged[0]}
        if kind != 4:
            boundaries = list(struct.unpack_from(f"<{buckets + 1}i", segment.payload(ranges_ref, RANGES)))
            assert crc == checksum(boundaries), name
            counts = struct.unpack_from(f"<{2 * buckets}i", segment.payload(counts_ref, COUNTS))
            record.update(shape=(low, high, buckets), boundaries=boundaries,
                          counts=counts[:buckets], logged_counts=counts[buckets:])
            assert sum(record["counts"]) == live[2], name
            assert sum(record["logged_counts"]) == logged[2], name
        records[name.decode()] = record
    return records


def nonzero(counts):
    return {i: n for i, n in enumerate(counts) if n}


def test_persistent_histograms_and_activities_decode(run_exe, tmp_path):
    histograms = tmp_path / "histograms.bin"
    activities = tmp_path / "activities.bin"
    out = run_exe(TOOL, "segment", windows_path(histograms), windows_path(activities),
                  check=True).stdout.decode()
    facts = dict(line.split() for line in out.splitlines())

    segment = Segment(histograms.read_bytes())
    assert segment.flags == 0
    records = decode_histograms(segment)

    exponential = records["Tool.Exponential"]
    boundaries = exponential_boundaries(1, 1000, 10)
    assert exponential["shape"] == (1, 1000, 10) and exponential["boundaries"] == boundaries
    assert nonzero(exponential["counts"]) == bucketed(boundaries, [0, 1, 2, 7, 7, 500, 1000, 5000])
    assert exponential["live"] == (6517, 8)
    assert nonzero(exponential["logged_counts"]) == bucketed(boundaries, [0, 1, 2, 7, 7, 500])
    assert exponential["logged"] == (517, 6)

    linear = records["Tool.Linear"]
    assert linear["kind"] == 1 and linear["boundaries"] == linear_boundaries(1, 6, 7)
    assert linear["counts"] == (1, 2, 3, 4, 5, 6, 7 + 8)

    sparse = records["Tool.Sparse"]
    assert sparse["kind"] == 4 and sparse["live"] == (INT_MAX - 5, 4)
    # The logged samples keep records of their own under the next id.
    assert sparse["logged_id"] == sparse["id"] + 1
    samples = {}
    for _, type_id, payload in segment.queue():
        if type_id == SPARSE_RECORD:
            record_id, value, count = struct.unpack_from("<Qii", payload)
            if record_id == sparse["id"]:
                samples[value] = samples.get(value, 0) + count
    assert samples == {-5: 1, 0: 2, INT_MAX: 1}

    segment = Segment(activities.read_bytes())
    blocks = segment.queue()
    trackers = [(ref, payload) for ref, type_id, payload in blocks if type_id == 0x5D7381B2]
    assert len(trackers) == 1
    ref, tracker = trackers[0]
    (cookie, slots, pid, tid, start_time, start_ticks, depth, unchanged,
     name) = struct.unpack_from("<IIQQqqII32s", tracker)
    assert (cookie, slots, pid, tid) == (0xC0029B26, (len(tracker) - 80) // 128,
                                         int(facts["pid"]), int(facts["tid"]))
    assert slots == 4 and start_time and start_ticks
    assert name.rstrip(b"\0") == b"ToolMainThread"
    # Five activities deep: the fifth is counted but has no slot.
    assert depth == 5
    expected = [(0x1000, 0x7000, 0x10, 77), (0x2000, 0, 0x20, int(facts["lock"], 16)),
                (0x3000, 0, 0x30, 0x1234), (0x4000, 0, 0x41, int(facts["tid"]))]
    for index, (pc, origin, kind, data) in enumerate(expected):
        slot = tracker[80 + 128 * index:80 + 128 * (index + 1)]
        ticks, calling, found_origin, word = struct.unpack_from("<qQQQ", slot)
        user_data, = struct.unpack_from("<I", slot, 104)
        assert ticks and (calling, found_origin, word, user_data) == (pc, origin, 0, 0), index
        assert (slot[112], struct.unpack_from("<Q", slot, 120)[0]) == (kind, data), index
    # The block right after the tracker was not overwritten.
    following = ref + 16 + len(tracker)
    assert segment.payload(following, 0x4CF434FA) == b"tool message\0" + b"\0" * 3
