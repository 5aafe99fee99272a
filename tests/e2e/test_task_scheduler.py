"""The scheduled autoupdate task on Task Scheduler 1.0 as other readers see
it: the job file that task_scheduler_tool.exe writes is parsed with Python's
struct in the job-file layout and listed by a second process; last-run times
written into the job file come back converted from the zone the tool runs
in, as Python's zoneinfo converts them."""

import datetime
import os
import subprocess
import struct
from pathlib import Path
from zoneinfo import ZoneInfo

import pytest

from conftest import windows_path

TOOL = "desktop/windows/installer/task_scheduler_tool.exe"

# Fixed part of a job file: versions, id, offsets, retry and idle settings,
# priority, maximum run time, exit code, status, flags, last run (SYSTEMTIME).
FIXED = struct.Struct("<HH16sHHHHHHIIIII8H")
TRIGGER = struct.Struct("<HH8HIIII3HHHH")
STATUS_OFFSET = 44
LAST_RUN_OFFSET = 52
SCHED_S_TASK_READY = 0x41300
TASK_FLAG_RUN_ONLY_IF_LOGGED_ON = 0x2000
TRIGGER_DAILY, TRIGGER_AT_LOGON = 1, 7

LAST_RUN = datetime.datetime(2024, 3, 10, 8, 15, 30)
# Zones without daylight saving, east and west of UTC.
ZONES = ["Asia/Kolkata", "America/Bogota"]


def tool(build_dir, *args, zone=None):
    env = dict(os.environ)
    if zone:
        env["TZ"] = zone
    return subprocess.run([str(build_dir / "wine-run"), str(build_dir / TOOL), *args],
                          capture_output=True, text=True, env=env, timeout=600)


def job_file(build_dir, task_name):
    prefix = Path(os.environ.get("WINEPREFIX", build_dir / "wineprefix"))
    return prefix / "drive_c" / "windows" / "tasks" / f"Tarvo scheduled {task_name}.job"


def read_job(path):
    data = path.read_bytes()
    fields = FIXED.unpack_from(data)
    offset = FIXED.size + 2  # running instance count
    texts = []
    for _ in range(5):  # application, parameters, folder, author, comment
        (count,) = struct.unpack_from("<H", data, offset)
        offset += 2
        texts.append(data[offset:offset + 2 * count].decode("utf-16-le").rstrip("\0"))
        offset += 2 * count
    for _ in range(2):  # user data, reserved data
        (size,) = struct.unpack_from("<H", data, offset)
        offset += 2 + size
    (trigger_count,) = struct.unpack_from("<H", data, offset)
    offset += 2
    triggers = [TRIGGER.unpack_from(data, offset + i * TRIGGER.size) for i in range(trigger_count)]
    return {
        "max_run_time": fields[10], "flags": fields[13],
        "application": texts[0], "parameters": texts[1], "author": texts[3], "comment": texts[4],
        # (type, begin date, days interval)
        "triggers": [(t[13], datetime.date(*t[2:5]), t[14]) for t in triggers],
    }


@pytest.fixture
def program(build_dir):
    # A program that exists, so that no concurrent sweep takes the task.
    return windows_path(build_dir / TOOL)


def test_daily_job_file_is_read_by_others_until_deleted(build_dir, program):
    name = "Autoupdate e2e job"
    before = datetime.date.today()
    assert tool(build_dir, "create", name, program).returncode == 0
    after = datetime.date.today()
    try:
        job = read_job(job_file(build_dir, name))
        assert job["application"] == program
        assert job["parameters"] == "--scheduledautoupdate $(Arg0)"
        assert job["comment"] == "Keeps Tarvo up to date."
        assert "\\" in job["author"]  # domain\user
        assert job["flags"] == TASK_FLAG_RUN_ONLY_IF_LOGGED_ON
        assert job["max_run_time"] == 3600 * 1000
        (daily_type, daily_date, interval), (logon_type, logon_date, _) = job["triggers"]
        assert (daily_type, interval, logon_type) == (TRIGGER_DAILY, 1, TRIGGER_AT_LOGON)
        assert daily_date in (before, after) and logon_date == daily_date

        listed = tool(build_dir, "enumerate").stdout.splitlines()
        assert f"Tarvo scheduled {name}.job" in listed
    finally:
        assert tool(build_dir, "delete", name).returncode == 0
    assert not job_file(build_dir, name).exists()
    assert f"Tarvo scheduled {name}.job" not in tool(build_dir, "enumerate").stdout.splitlines()


def expected_utc(zone):
    moment = LAST_RUN.replace(tzinfo=ZoneInfo(zone)).astimezone(datetime.timezone.utc)
    return moment.strftime("%Y-%m-%d %H:%M:%S")


@pytest.mark.parametrize("zone", ZONES)
def test_job_file_last_run_is_local_time(build_dir, program, zone):
    name = f"Autoupdate e2e last run {ZONES.index(zone)}"
    assert tool(build_dir, "create", name, program).returncode == 0
    try:
        path = job_file(build_dir, name)
        data = bytearray(path.read_bytes())
        struct.pack_into("<I", data, STATUS_OFFSET, SCHED_S_TASK_READY)
        struct.pack_into("<8H", data, LAST_RUN_OFFSET, LAST_RUN.year, LAST_RUN.month, 0,
                         LAST_RUN.day, LAST_RUN.hour, LAST_RUN.minute, LAST_RUN.second, 0)
        path.write_bytes(bytes(data))
        result = tool(build_dir, "last-run", name, zone=zone)
        assert result.returncode == 0
        assert result.stdout.strip() == expected_utc(zone)
    finally:
        tool(build_dir, "delete", name)


@pytest.mark.parametrize("zone", ZONES)
def test_task_service_last_run_is_local_time(build_dir, zone):
    # Wine's Task Scheduler 2.0 keeps no run times: the tool's stand-in
    # service answers the date, and the scheduler converts it.
    ole_date = (LAST_RUN - datetime.datetime(1899, 12, 30)) / datetime.timedelta(days=1)
    result = tool(build_dir, "last-run-v2", repr(ole_date), zone=zone)
    assert result.returncode == 0
    assert result.stdout.strip() == expected_utc(zone)
