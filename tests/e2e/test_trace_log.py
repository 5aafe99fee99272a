"""The trace log and the memory-dump manager in processes of their own (the
trace log tool), read back with Python's json module: first use from
several threads at once, with and without the heap-profiling switch; the
event-tracing export's registration and its unregistration at exit; the
category table filling up; a recording session whose trace, dump GUID and
process-unique ids are checked against Python's own arithmetic."""

import json
import os

import pytest

TOOL = "base/trace_log_tool.exe"
PRESET = ["tracing categories exhausted; must increase kMaxCategories",
          "tracing already shutdown", "__metadata", "toplevel"]
ETW_CATEGORIES = ["benchmark", "layout", "browser", "compositor", "evdev", "gpu", "input",
                  "netlog", "renderer.scheduler", "toplevel", "script",
                  "disabled-by-default-compositor.debug",
                  "disabled-by-default-compositor.debug.picture",
                  "disabled-by-default-toplevel.flow", "startup", "__OTHER_EVENTS",
                  "__DISABLED_OTHER_EVENTS"]


def lines_of(result):
    """{kind: parsed json} of the tool's "<kind> <json>" lines."""
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    parsed = {}
    for line in result.stdout.decode("utf-8").splitlines():
        kind, _, rest = line.partition(" ")
        parsed[kind] = rest if kind == "guid" else json.loads(rest)
    return parsed


def pid_hash(pid):
    """One step of 64-bit FNV-1a over the process id."""
    return ((14695981039346656037 ^ pid) * 1099511628211) % 2**64


@pytest.mark.parametrize("switch, heap_profiling, capture_mode, hooks", [
    (None, False, 0, False),
    ("--enable-heap-profiling", True, 1, False),
    ("--enable-heap-profiling=task-profiler", True, 0, True),
    # Any other value is refused: the switch is ignored.
    ("--enable-heap-profiling=bogus", False, 0, False),
])
def test_first_use_from_several_threads(run_exe, switch, heap_profiling, capture_mode, hooks):
    result = run_exe(TOOL, "startup", *([switch] if switch else []))
    output = lines_of(result)
    report, at_exit = output["report"], output["exit"]

    assert report["tasks_run"] == 10000
    names = [category["name"] for category in report["categories"]]
    assert names[:4] == PRESET
    # Each group has one record, however many threads asked for it at once.
    assert len(names) == len(set(names))
    assert report["same_shared_record"]
    assert set(names[4:]) == {"startup.shared", "disabled-by-default-toplevel.flow",
                              *(f"startup.thread{i}" for i in range(8))}
    # Nothing records: every byte and every filter bitmap is 0.
    assert all(c["state"] == 0 and c["filters"] == 0 for c in report["categories"])

    assert report["providers"] == [{"name": "TraceLog", "whitelisted": False,
                                    "task_runner": False}]
    assert report["heap_profiling"] is heap_profiling
    assert report["capture_mode"] == capture_mode
    assert report["heap_usage_hooks"] is hooks

    etw = report["etw"]
    # Wine's EventRegister hands out a handle without registering anything.
    assert etw["handle"] != 0
    assert etw["categories"] == {name: False for name in ETW_CATEGORIES}
    # The exit callback unregistered that handle, once, while other threads
    # kept reading the export; a lookup after it makes no new export.
    assert at_exit == {"unregister_calls": 1, "unregistered_handle": etw["handle"],
                       "etw_after_exit": False, "late_state": 0}


def test_table_full_falls_back_to_its_first_record(run_exe):
    fill = lines_of(run_exe(TOOL, "fill"))["fill"]
    assert fill["preset"] == 4
    # The 196 new groups fill records 4 to 199; the next gets record 0.
    assert fill["indices"] == list(range(4, 200)) + [0]
    assert fill["count"] == 200
    assert fill["overflow_is_record0"]


@pytest.fixture(scope="module")
def recording(run_exe):
    output = lines_of(run_exe(TOOL, "record"))
    return output, output["trace"]


def test_recording_switches_states_on_and_off(recording):
    output, _ = recording
    states = {c["name"]: c["state"] for c in output["states"]["recording"]}
    assert states["toplevel"] == 1
    assert states["record"] == 1
    assert states["__metadata"] == 1
    # Named by a disabled pattern of the configuration.
    assert states["disabled-by-default-memory-infra"] == 1
    assert states["disabled-by-default-toplevel.flow"] == 0
    assert all(c["state"] == 0 for c in output["states"]["after"])


def test_recorded_trace_reads_back(recording):
    output, trace = recording
    pid = trace[0]["pid"]
    assert all(event["pid"] == pid for event in trace)

    complete = next(e for e in trace if e["name"] == "main.complete")
    assert complete["ph"] == "X" and complete["cat"] == "record"
    assert complete["args"] == {"count": -7, "text": 'tab\there "quoted"'}
    assert complete["dur"] >= 0
    # Wine cannot tell thread CPU time.
    assert "tts" not in complete and "tdur" not in complete

    flow = next(e for e in trace if e["name"] == "main.flow")
    assert int(flow["id"], 16) == 0x1234 ^ pid_hash(pid)
    assert int(flow["bind_id"], 16) == pid_hash(pid)

    metadata = {(e["name"], e["tid"]): e["args"] for e in trace if e["ph"] == "M"}
    assert metadata[("num_cpus", 0)] == {"number": os.cpu_count()}
    names = {tid: args["name"] for (name, tid), args in metadata.items()
             if name == "thread_name"}
    worker = next(tid for tid, name in names.items() if name == "RecordWorker")
    runs = [e for e in trace if e["name"] == "MessageLoop::RunTask" and e["tid"] == worker]
    # Three posted tasks and the loop's own quit, each a complete event.
    assert len(runs) == 4
    assert all(e["cat"] == "toplevel" and e["dur"] >= 0 for e in runs)
    assert [e["args"]["src_func"] for e in runs[:3]] == ["Record"] * 3
    assert all(e["args"]["src_file"].endswith("trace_log_tool.cc") for e in runs[:3])


def test_peak_dump_carries_the_first_guid(recording):
    output, trace = recording
    pid = trace[0]["pid"]
    # The manager's creation counted 1; the first request takes it.
    assert int(output["guid"], 16) == 1 ^ pid_hash(pid)

    infra = [e for e in trace if e["cat"] == "disabled-by-default-memory-infra"]
    names = {tid: e["args"]["name"] for e in trace if e["name"] == "thread_name"
             for tid in [e["tid"]]}
    assert all(names[e["tid"]] == "MemoryInfra" for e in infra)
    peak = next(e for e in infra if e["name"] == "Peak memory dump Triggered")
    assert peak["ph"] == "I" and peak["s"] == "p"
    assert peak["args"] == {"total_usage_MB": 64}
    begin, end = [e for e in infra if e["name"] == "GlobalMemoryDump"]
    # The id is the GUID made unique once more, which gives the count back.
    assert (begin["ph"], begin["id"], begin["args"]) == ("b", "0x1", {})
    assert (end["ph"], end["id"], end["args"]) == ("e", "0x1", {"success": True})
