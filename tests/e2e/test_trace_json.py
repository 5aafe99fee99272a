"""The trace side's JSON read back by Python's json module: trace events
with every combination of their flags (members, values and member order as
the event record says), doubles of random bit patterns compared by value,
awkward strings, traced values, the type-name and stack-frame tables, and
memory-dump attributes, whose GUIDs are checked against hashlib's SHA-1.
Everything comes from one process of the trace JSON tool."""

import hashlib
import json
import math
import random
import struct

import pytest

TOOL = "base/trace_json_tool.exe"

EVENT_NAME = 'ev"nt\\<>'
ID_FLAGS = {2: ("id", "0x1234abcd"),
            4096: ("id2", {"local": "0x1234abcd"}),
            8192: ("id2", {"global": "0x1234abcd"})}
INSTANT_SCOPES = {0: "g", 8: "p", 16: "t", 24: "?"}


@pytest.fixture(scope="module")
def answers(run_exe):
    """{kind: [the tool's answer lines split after the kind]}, and the
    process id the tool's events carry."""
    rng = random.Random(25)
    doubles = [0.0, -0.0, 1.0, 3.0, -3.0, 0.5, -0.5, 1e21, 1e-7, 5e-324,
               1.7976931348623157e308, float("inf"), float("-inf"), float("nan"),
               123456789012.0, 0.1]
    patterns = [struct.unpack("<Q", struct.pack("<d", value))[0] for value in doubles]
    patterns += [rng.getrandbits(64) for _ in range(2000)]
    commands = ["dump tracing/main_trace_log", "dump malloc/allocated_objects",
                "dump x/\u00e9 with space", "events", "strings", "traced",
                "deduplicators", "overhead"]
    commands += [f"double {pattern:016x}" for pattern in patterns]
    result = run_exe(TOOL, input=("\n".join(commands) + "\n").encode("utf-8"))
    assert result.returncode == 0, result.stderr
    lines = {}
    for line in result.stdout.decode("utf-8").splitlines():
        kind, _, rest = line.partition(" ")
        lines.setdefault(kind, []).append(rest)
    assert "unknown" not in lines
    pid = int(lines["dump"][0].split(" ")[0])
    return lines, pid


def expected_event(phase, flags, argument_count, thread_timestamp, completed, thread_id,
                   pid):
    """The event object, members in the order the record writes them."""
    event = {}
    if flags & 2048 and thread_id != 0:
        event["pid"], event["tid"] = thread_id, -1
    else:
        event["pid"], event["tid"] = pid, thread_id
    event.update({"ts": 123456, "ph": phase, "cat": "cat1,cat2", "name": EVENT_NAME})
    arguments = {}
    if argument_count >= 1:
        arguments["a1"] = -5
    if argument_count >= 2:
        arguments["a2"] = 'x"y'
    event["args"] = arguments
    if phase == "X":
        if completed:
            event["dur"] = 42
        if thread_timestamp:
            event["tdur"] = 7 if completed else 0
    if thread_timestamp:
        event["tts"] = thread_timestamp
    if flags & 64:
        event["use_async_tts"] = 1
    id_flags = flags & (2 | 4096 | 8192)
    if id_flags:
        event["scope"] = "sc"
        if id_flags in ID_FLAGS:
            key, value = ID_FLAGS[id_flags]
            event[key] = value
    if flags & 128:
        event["bp"] = "e"
    if flags & (256 | 512):
        event["bind_id"] = "0xfeed"
        if flags & 256:
            event["flow_in"] = True
        if flags & 512:
            event["flow_out"] = True
    if phase == "I":
        event["s"] = INSTANT_SCOPES[flags & 24]
    return event


def test_every_flag_combination_reads_back(answers):
    lines, pid = answers
    events = lines["event"]
    assert len(events) == 5 * 4096
    for line in events:
        phase, flags, count, tts, completed, thread_id, text = line.split(" ", 6)
        parsed = json.loads(text)
        expected = expected_event(phase, int(flags), int(count), int(tts),
                                  completed == "1", int(thread_id), pid)
        assert parsed == expected, line
        assert list(parsed) == list(expected), line


def test_doubles_read_back_as_the_same_double(answers):
    lines, _ = answers
    assert len(lines["double"]) == 2016
    for line in lines["double"]:
        pattern, text = line.split(" ", 1)
        value = struct.unpack("<d", struct.pack("<Q", int(pattern, 16)))[0]
        written = json.loads(text)["args"]["v"]
        if math.isnan(value):
            assert written == "NaN", line
        elif math.isinf(value):
            assert written == ("Infinity" if value > 0 else "-Infinity"), line
        else:
            # Always a JSON number that reads as a double, never as an int.
            assert isinstance(written, float), line
            assert written == value and math.copysign(1, written) == math.copysign(1, value), line


def test_strings_are_escaped_and_invalid_text_replaced(answers):
    lines, _ = answers
    texts = ["plain", 'quote" back\\ slash', "ctrl\x01\x1f\t\n",
             "\u00e9\u4e2d\U0001F600", "bad\ufffd", "cut\ufffd"]
    strings = [json.loads(line.split(" ", 1)[1]) for line in lines["string"]]
    for text, event in zip(texts, strings):
        assert event["name"] == text
        assert event["args"] == {"s": text, "p": "0xabc0"}
    assert strings[6]["args"] == {"n": "NULL", "b": True}
    assert strings[7]["args"] == {"u": 2**64 - 1, "c": {"convertable": [1, 2]}}


def test_traced_values(answers):
    lines, _ = answers
    traced = dict(line.split(" ", 1) for line in lines["traced"])
    assert json.loads(traced["empty"]) == {}
    assert traced["nested"] == '{"a":1,"b":{"c":"x"}}'
    everything = json.loads(traced["all"])
    assert everything == {
        "int": -2**31, "double": 0.1, "true": True, "false": False,
        "text": 't"\\\u00e9', 'copied "name"': 7, "copied double": -2.5e-300,
        "copied bool": True, "copied string": "",
        "list": [3, 1e300, False, "item", {"in_list": 4}, []],
        "copied dict": {"copied list": [5]},
    }


def test_type_names_and_stack_frames(answers):
    lines, _ = answers
    text = lines["typenames"][0]
    type_names = json.loads(text)
    assert text.startswith('{"0":"[unknown]"')
    assert type_names == {"0": "[unknown]", "1": "base/a", "2": "cat", "3": "plain",
                          "4": "ctrl\x01name", "5": "win\\path", "6": "bad\ufffd",
                          "7": 'quote"type'}
    assert json.loads(lines["typenames_empty"][0]) == {"0": "[unknown]"}
    assert json.loads(lines["frames"][0]) == {
        "0": {"name": "[Thread: Main]"},
        "1": {"name": "RunTask", "parent": "0"},
        "2": {"name": "pc:7ff1234", "parent": "1"},
        "3": {"name": "Other", "parent": "0"},
        "4": {"name": 'Root "2"'},
    }


def scalar(units, value):
    return {"type": "scalar", "units": units, "value": f"{value:x}"}


def test_dump_guids_and_attributes(answers):
    lines, pid = answers
    names = ["tracing/main_trace_log", "malloc/allocated_objects", "x/\u00e9 with space"]
    for name, line in zip(names, lines["dump"]):
        line_pid, guid, attributes = line.split(" ", 2)
        assert int(line_pid) == pid
        digest = hashlib.sha1(f"{pid}:{name}".encode("utf-8")).digest()
        assert int(guid, 16) == int.from_bytes(digest[:8], "little"), name
        assert json.loads(attributes) == {
            "size": scalar("bytes", 0x123456789abcdef0),
            "object_count": scalar("objects", 0),
        }


def test_memory_overhead_dumps(answers):
    lines, _ = answers
    dumps = dict(line.split(" ", 1) for line in lines["overhead"])
    # The string's copy: 40 rounded up to 48, and its 32-byte object.
    expected = {"TraceEvent": (3, 300, 200), "TracedValue": (1, 68, 12),
                "std::string": (1, 80, 80)}
    assert [name.rsplit("/", 1)[1] for name in dumps] == list(expected)
    for name, (count, size, resident) in expected.items():
        assert json.loads(dumps["tracing/main_trace_log/" + name]) == {
            "size": scalar("bytes", size),
            "resident_size": scalar("bytes", resident),
            "object_count": scalar("objects", count),
        }
