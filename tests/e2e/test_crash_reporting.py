"""Crash reporting of installer processes: the installer registers with the
crash reporter it is given, where it may run elevated only with one that
runs elevated as its user, and, with
alternative crash logging on, the reporter's minidump of a crashed
installer process, read with Python's struct as any minidump reader
would."""

import os
import shutil
import struct

from conftest import is_standard_users_run, run_installer, windows_path
from wine_process import WineProcess

CRASH_CHILD = "desktop/windows/crash_child.exe"
TEST_SERVER = "desktop/windows/crash_test_server.exe"

EXCEPTION_STREAM = 6
VERSION_STREAM = 0x10000
ASSERTION_STREAM = 0x10001


def read_streams(path):
    """{stream type: bytes} of a minidump."""
    data = open(path, "rb").read()
    signature, _, count, directory = struct.unpack_from("<4sIII", data, 0)
    assert signature == b"MDMP"
    streams = {}
    for index in range(count):
        kind, size, offset = struct.unpack_from("<III", data, directory + 12 * index)
        streams[kind] = data[offset:offset + size]
    return streams


def utf16_field(data, offset, units):
    text = data[offset:offset + 2 * units].decode("utf-16-le")
    return text.split("\0", 1)[0]


def test_a_run_that_may_be_elevated_takes_the_reporter_it_is_given_only_when_that_runs_elevated(
        build_dir, installer_folder, tmp_path):
    # The same program from a folder of its own, to tell the runs apart by
    # the program the reporter sees registering.
    all_users_folder = tmp_path / "all-users"
    all_users_folder.mkdir()
    for name in os.listdir(installer_folder):
        shutil.copy(installer_folder / name, all_users_folder)
    # Roles that end at once: no user to grant the folder to. The all-users
    # run first: a server it registers with has served it alone. One run as
    # a standard user would start it is refused, and a standard user's run,
    # which takes any, then registers instead.
    for server_as_standard_user, registered_folder in ((True, installer_folder),
                                                       (False, all_users_folder)):
        server = WineProcess(build_dir, TEST_SERVER,
                             tmp_path / f"server-{server_as_standard_user}.log",
                             "--clients=1", standard_user=server_as_standard_user)
        try:
            ready = server.read_line()
            assert ready.startswith("ready ")
            reporter_pid = ready.split()[1]
            runs = [(all_users_folder, ["--allusers=1"])]
            if server_as_standard_user:
                runs.append((installer_folder, []))
            for folder, switches in runs:
                run_installer(build_dir, folder / "installer.exe", *switches,
                              f"--crash-reporter-pid={reporter_pid}",
                              f"--set-folder-permission={windows_path(tmp_path)}",
                              standard_user=is_standard_users_run(switches))
            assert server.wait() == 0
            lines = server.read_rest()
        finally:
            server.stop()
        assert len(lines) == 2, lines
        connected, exited = lines
        assert connected.startswith("connected ")
        expected_program = "\\" + registered_folder.name + "\\installer.exe"
        assert connected.lower().endswith(expected_program), connected
        assert exited == "exit " + connected.split()[1]


def test_reporter_dumps_a_runtime_report_with_its_assertion(build_dir, run_exe, tmp_path):
    dumps = tmp_path / "dumps"
    variables = {"TARVO_CRASH_LOG_DIR": windows_path(dumps), "TARVO_CRASH_KEEP_LOGS": "1"}
    os.environ.update(variables)
    try:
        # The reporter is given the installer's command line, switch and all.
        result = run_exe(CRASH_CHILD, "--crash=invalid-parameter",
                         "--with-feature:alternative-crash-logging=on", standard_user=True)
    finally:
        for name in variables:
            del os.environ[name]
    assert result.returncode != 0
    lines = result.stdout.decode().splitlines()
    thread = next(int(line.split()[1]) for line in lines if line.startswith("thread "))
    reporter = next(line.split()[1] for line in lines if line.startswith("reporter "))
    # No collector takes it, and it is kept.
    [dump] = list(dumps.glob("*.dmp"))
    assert dump.name == f"tarvo-crashlog-{reporter}-1.dmp"
    streams = read_streams(dump)

    thread_id, _, code = struct.unpack_from("<III", streams[EXCEPTION_STREAM], 0)
    assert (thread_id, code) == (thread, 0xC000000D)
    version, build = streams[VERSION_STREAM].decode("ascii").split(" ")
    assert version.count(".") == 3 and build.isdigit()
    assertion = streams[ASSERTION_STREAM]
    assert len(assertion) == 776
    assert utf16_field(assertion, 0, 128) == "buffer != nullptr"
    assert utf16_field(assertion, 256, 128) == "CopyText"
    assert utf16_field(assertion, 512, 128) == "copy.cc"
    assert struct.unpack_from("<II", assertion, 768) == (42, 1)
