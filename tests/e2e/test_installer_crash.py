"""installer.exe itself crashing: the silent front end crashes at a point
the tests name once its crash handler and reporter are up, ends with the
crash's code, and its reporter writes the crash log, or with alternative
crash logging the minidump, and uploads it to the tests' own crash server
on 127.0.0.1. The upload is taken apart with Python's zipfile, email parser
and struct, and compared with the file the reporter kept. The library with
the test hooks waits for the reporter to serve and for the dump as long as
a hang guard, not the shipped 2 s and 15 s that a busy machine may outlast:
the tests judge the crash path, not the machine's speed."""

import os
import re
import shutil
import struct
import subprocess

import pytest

import installer_files as files
from conftest import Logs, tree_runner_as, windows_path
from http_test_server import HttpTestServer, Resource
from test_crash_reporter import crash_log_of
from test_crash_reporting import EXCEPTION_STREAM, read_streams

TREE_RUNNER = "desktop/windows/installer/process_tree_runner.exe"
# Only guards against a hang: a slow machine must never fail a test.
HANG_GUARD = 600
ACCESS_VIOLATION = 0xC0000005
REPORT_ID = "77crash01"


@pytest.fixture
def hooked_installer_folder(build_dir, tmp_path):
    """A folder of its own holding installer.exe and the library with the
    test hooks in."""
    folder = tmp_path / "installer"
    folder.mkdir()
    shutil.copy(files.host_file(build_dir, hooks=True), folder)
    shutil.copy(files.library_file(build_dir, "current", hooks=True), folder)
    return folder


@pytest.fixture
def server():
    with HttpTestServer() as running:
        yield running


def run_crashing_installer(build_dir, installer_folder, tmp_path, server, logs, *switches):
    """installer.exe --silent told to crash; (its exit code, the crash
    folder) once it and its reporter have ended. Its log is removed after
    the test."""
    crash_folder = tmp_path / "crashes"
    env = {name: value for name, value in os.environ.items()
           if name.lower() not in ("http_proxy", "https_proxy", "no_proxy")
           and not name.startswith("TARVO_")}
    env.update(TARVO_TEST_FAULT="at=silent-front-end;action=crash",
               TARVO_CRASH_SERVER_URL=server.url("/crash"),
               TARVO_ALTERNATIVE_CRASH_SERVER_URL=server.url("/collector"),
               TARVO_CRASH_LOG_DIR=windows_path(crash_folder),
               TARVO_CRASH_KEEP_LOGS="1")
    (tmp_path / "temp").mkdir()
    marker = Logs.marker()
    # The reporter is given the installer's command line: its counter file
    # goes to this test's profile folder.
    completed = subprocess.run(
        [str(build_dir / "wine-run"), str(build_dir / TREE_RUNNER), *tree_runner_as(switches),
         windows_path(installer_folder / "installer.exe"), "--silent",
         f"--temp-folder={windows_path(tmp_path / 'temp')}",
         f"--user-data-dir={windows_path(tmp_path / 'profile')}", marker, *switches],
        env=env, capture_output=True, timeout=HANG_GUARD)
    # The crash came in the silent front end.
    assert "Silent: true" in logs.one(marker)[1]
    lines = completed.stdout.decode(errors="replace").split()
    assert len(lines) >= 2 and lines[-2] == "exit", completed
    return int(lines[-1]) & 0xFFFFFFFF, crash_folder


def test_crashed_installer_sends_its_crash_log(build_dir, hooked_installer_folder, tmp_path,
                                              server, logs):
    server.add("/crash", Resource(b"thanks", statuses=[303],
                                  location=f"http://127.0.0.1/report?id={REPORT_ID}&c=1"))

    code, crash_folder = run_crashing_installer(build_dir, hooked_installer_folder, tmp_path,
                                                server, logs)

    assert code == ACCESS_VIOLATION
    [kept] = crash_folder.glob("*.txt")
    assert re.fullmatch(r"tarvo-crashlog-\d+-1\.txt", kept.name)
    server.wait_for(lambda requests: all(request.outcome for request in requests))
    offer, upload = server.requests
    assert (offer.method, upload.method) == ("GET", "POST")
    file_name, log, fields = crash_log_of(upload)
    assert file_name == kept.with_suffix(".zip").name
    assert log == kept.read_bytes().decode("latin-1")
    crash = re.match(r"TARVO-CRASHLOG V1 desktop[^\r\n]*\r\ninstaller\.exe caused exception "
                     r"C0000005 at address ([0-9A-F]{12}) \(Base: [0-9A-F]{12}\)\r\n", log)
    assert crash, log[:300]
    # The fault is the library's.
    library = re.search(r"\r\ntarvo_installer\.dll +Base: ([0-9A-F]{12}) Size: ([0-9A-F]{8}) ",
                        log, re.IGNORECASE)
    assert library, log[log.find("Used DLLs"):][:2000]
    base, size = int(library.group(1), 16), int(library.group(2), 16)
    assert base <= int(crash.group(1), 16) < base + size
    assert '\r\nprocess_type="installer"\r\n' in log
    assert fields["stacktraceId"] == REPORT_ID
    assert fields["prod"] == "Tarvo" and fields["Version"] and fields["build_number"]
    assert int(fields["CrashUptime"]) >= 0


def test_crashed_installer_sends_its_minidump(build_dir, hooked_installer_folder, tmp_path,
                                             server, logs):
    server.add("/collector", Resource(b"ok"))

    code, crash_folder = run_crashing_installer(
        build_dir, hooked_installer_folder, tmp_path, server, logs,
        "--with-feature:alternative-crash-logging=on")

    assert code == ACCESS_VIOLATION
    [kept] = crash_folder.glob("*.dmp")
    assert re.fullmatch(r"tarvo-crashlog-\d+-1\.dmp", kept.name)
    server.wait_for(lambda requests: all(request.outcome for request in requests))
    _, _, exception_code = struct.unpack_from("<III", read_streams(kept)[EXCEPTION_STREAM], 0)
    assert exception_code == ACCESS_VIOLATION
    # The body goes chunked, which Wine's WinHTTP loses (it sends
    # "Content-Length: 0"): only its arrival can be seen here.
    [upload] = server.requests
    assert (upload.method, upload.path) == ("POST", "/collector")
    assert upload.headers["Content-Type"].startswith("multipart/form-data; boundary=")
