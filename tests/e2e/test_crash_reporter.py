"""The crash reporter as real processes under Wine, against the tests' own
crash server on 127.0.0.1: an installer process (crash_child, which runs
RunInstaller as its reporter) hands a child installer process to its
reporter; the child crashes, the reporter offers the crash to the server,
uploads the zipped crash log, and ends after its parent. A reporter that
crashes itself is captured by the reporter it relaunches, which uploads
the report and notes it in the registry, also when another process made
the events named after its process id first. The zip and the multipart body are
taken apart with Python's zipfile and email parser."""

import io
import os
import re
import subprocess
import time
import uuid
import zipfile

import pytest

from conftest import as_standard_user, wine, windows_path
from http_test_server import HttpTestServer, Resource
from test_crash_upload import parse_multipart
from wine_process import WineProcess

CRASH_CHILD = "desktop/windows/crash_child.exe"
TEST_SERVER = "desktop/windows/crash_test_server.exe"
# Wine gives out process ids as multiples of 4 and soon again; a run of this
# group stays far below this.
HIGHEST_PID = 4096
# Only guards against a hang: a slow machine must never fail a test.
HANG_GUARD = 600
REPORT_ID = "4242abcd"
LAST_OWN_CRASH = "Last crash in crash reporter"
FILETIME_UNIX_EPOCH = 116444736000000000


@pytest.fixture
def server():
    with HttpTestServer() as running:
        yield running


@pytest.fixture
def registry_root(build_dir):
    """A key of its own that stands in for HKEY_CURRENT_USER."""
    key = f"Software\\TarvoTest\\{uuid.uuid4()}"
    yield key
    wine(build_dir, "reg", "delete", f"HKCU\\{key}", "/f")


@pytest.fixture
def run_child(build_dir, server, registry_root, tmp_path):
    """run_child(*args) -> lines printed by crash_child and its processes."""
    # A folder no ANSI code page holds whole: the crash log is written and
    # zipped by its wide name.
    crash_folder = tmp_path / "Abstürze 崩溃 ✓"

    def run(*args):
        env = {name: value for name, value in os.environ.items()
               if name.lower() not in ("http_proxy", "https_proxy", "no_proxy")
               and not name.startswith("TARVO_")}
        env.update(TARVO_CRASH_SERVER_URL=server.url("/crash"),
                   TARVO_CRASH_LOG_DIR=windows_path(crash_folder),
                   TARVO_TEST_HKCU=registry_root)
        # Returns once every process that holds the output has ended.
        completed = subprocess.run([str(build_dir / "wine-run"),
                                    *as_standard_user(build_dir, build_dir / CRASH_CHILD, *args)],
                                   env=env, capture_output=True, timeout=HANG_GUARD)
        return completed.stdout.decode().splitlines()

    run.crash_folder = crash_folder
    return run


def value_of(lines, key):
    """The value of the first line "KEY VALUE" (the child says "reporter" too)."""
    values = [line[len(key) + 1:] for line in lines
              if line.startswith(key + " ") and " " not in line[len(key) + 1:]]
    assert values, lines
    return values[0]


def crash_log_of(upload):
    """The crash log in the zip of an upload, and the upload's other fields."""
    parts = parse_multipart(upload.headers["Content-Type"], upload.body)
    file_name, _, data = parts.pop("file")
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        assert archive.namelist() == ["crashlog.txt"]
        log = archive.read("crashlog.txt").decode("latin-1")
    fields = {name: value.decode() for name, (_, _, value) in parts.items()}
    return file_name, log, fields


def thread_section(log, thread_id):
    match = re.search(rf"\r\nThreadInfo: {thread_id:08X}\r\nPriority=[0-9A-F]{{8}}\r\n"
                      r"Crashed=(\d)\r\n", log)
    assert match, log[:3000]
    return match.group(1)


@pytest.mark.parametrize("answer", ["accepted", "refused"])
def test_crashed_child_is_reported_and_the_reporter_ends_after_its_parent(
        server, run_child, answer):
    statuses = [303] if answer == "accepted" else [503]
    server.add("/crash", Resource(b"thanks", statuses=statuses,
                                  location=f"http://127.0.0.1/report?id={REPORT_ID}&c=1"))

    lines = run_child("--crash-child=access-violation")

    reporter = int(value_of(lines, "reporter"))
    thread = int(value_of(lines, "thread"))
    assert value_of(lines, "child") == "c0000005"
    # The reporter ended only once its parent had, and the upload was done.
    assert value_of(lines, "reporter ended") == "1"
    requests = server.requests
    assert [request.method for request in requests] == (
        ["GET", "POST"] if answer == "accepted" else ["GET"])
    # Neither the crash log nor its zip is left behind.
    assert os.listdir(run_child.crash_folder) == []
    if answer == "refused":
        return

    file_name, log, fields = crash_log_of(requests[1])
    assert file_name == f"tarvo-crashlog-{reporter}-1.zip"
    assert log.startswith("TARVO-CRASHLOG V1 desktop")
    assert re.match(r"[^\r\n]*\r\ncrash_child\.exe caused exception C0000005 at address "
                    r"[0-9A-F]{12} \(Base: [0-9A-F]{12}\)\r\n", log), log[:300]
    assert thread_section(log, thread) == "1"
    assert '\r\nprocess_type="installer"\r\n' in log
    assert re.search(r"\r\nUsed DLLs:\r\ncrash_child\.exe ", log, re.IGNORECASE)
    # What the reporter logged while it processed the crash follows the log:
    # crash_child has no version resource.
    logger = log.index("\r\nCrash Logger:\r\n")
    assert re.search(r"\r\nmodule_file_info\.cc:\d+:Could not find version resource in "
                     r"crash_child\.exe\r\n", log[logger:], re.IGNORECASE), log[logger:]
    assert fields["stacktraceId"] == REPORT_ID
    assert fields["Version"] and fields["build_number"] and fields["prod"] == "Tarvo"
    assert int(fields["CrashUptime"]) >= 0


def relaunched_ended_well(lines):
    """crash_child waits for the relaunched reporter when it still runs after
    the crashed one, which it may not: either way it is over now."""
    return all(line == "relaunched ended 1" for line in lines
               if line.startswith("relaunched ended "))


def filetime_now():
    return int(time.time() * 10_000_000) + FILETIME_UNIX_EPOCH


def last_own_crash(build_dir, registry_root, tmp_path):
    """The reporter's note of its last reported crash (a FILETIME), or None.
    Wine's "reg query" prints no REG_QWORD data: the key is exported."""
    exported = tmp_path / "company.reg"
    wine(build_dir, "reg", "export", f"HKCU\\{registry_root}\\Software\\Tarvo Software",
         windows_path(exported), "/y")
    if not exported.exists():
        return None
    text = exported.read_bytes().decode("utf-16")
    match = re.search(rf'"{LAST_OWN_CRASH}"=hex\(b\):((?:[0-9a-f]{{2}},?){{8}})', text)
    return int.from_bytes(bytes.fromhex(match.group(1).replace(",", "")), "little") \
        if match else None


def test_crashed_reporter_is_reported_by_the_reporter_it_relaunches(
        build_dir, server, run_child, registry_root, tmp_path):
    server.add("/crash", Resource(b"thanks"))

    before = filetime_now()
    lines = run_child("--reporter-crashes")
    after = filetime_now()

    crashed = int(value_of(lines, "reporter"))
    assert value_of(lines, "reporter ended") == "c0000005"
    assert relaunched_ended_well(lines)
    # No offer first: the crash log goes at once.
    [upload] = server.requests
    assert upload.method == "POST"
    file_name, log, fields = crash_log_of(upload)
    assert file_name.endswith(".zip") and "-crashlog-" in file_name
    assert fields == {}
    assert re.match(r"[^\r\n]*\r\ncrash_child\.exe caused exception C0000005 ", log), log[:300]
    assert '\r\nmetadata:\r\nprocess_type="crash_reporter"\r\n' in log
    crashed_thread = re.search(r"\r\nThreadInfo: ([0-9A-F]{8})\r\n", log).group(1)
    assert thread_section(log, int(crashed_thread, 16)) == "1"
    noted = last_own_crash(build_dir, registry_root, tmp_path)
    assert noted is not None and before - 10_000_000 <= noted <= after + 10_000_000
    assert crashed != 0

    # Within 3 days another crash of a reporter only lets it end.
    lines = run_child("--reporter-crashes")

    assert value_of(lines, "reporter ended") == "c0000005"
    assert relaunched_ended_well(lines)
    assert len(server.requests) == 1
    assert last_own_crash(build_dir, registry_root, tmp_path) == noted


def test_crashed_reporter_is_reported_although_another_process_made_its_events_first(
        build_dir, server, run_child, tmp_path):
    server.add("/crash", Resource(b"thanks"))
    squatter = WineProcess(build_dir, TEST_SERVER, tmp_path / "squatter.log",
                           f"--squat-own-crash={HIGHEST_PID}")
    try:
        assert squatter.read_line() == "squatting"

        # Before: a reporter whose event was made first crashed without a
        # report, or stopped waiting at once for the one it relaunched.
        lines = run_child("--reporter-crashes")
    finally:
        squatter.stop()

    assert value_of(lines, "reporter ended") == "c0000005"
    assert relaunched_ended_well(lines)
    [upload] = server.requests
    _, log, _ = crash_log_of(upload)
    assert '\r\nmetadata:\r\nprocess_type="crash_reporter"\r\n' in log


@pytest.mark.parametrize("kind, code", [("invalid-parameter", "c000000d"),
                                        ("pure-call", "c0000025")])
def test_runtime_report_of_a_reporter_ends_it_with_its_code(server, run_child, kind, code):
    server.add("/crash", Resource(b"thanks"))

    lines = run_child(f"--reporter-crashes={kind}")

    # Not 0: a reporter that ended on a runtime report has not succeeded.
    assert value_of(lines, "reporter ended") == code
    assert relaunched_ended_well(lines)
    [upload] = server.requests
    _, log, _ = crash_log_of(upload)
    assert re.match(rf"[^\r\n]*\r\ncrash_child\.exe caused exception {code.upper()} ", log), \
        log[:300]
