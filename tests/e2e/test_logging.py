"""Log files written by a real process (base/log_writer.exe): the header of
every line read back with a regular expression and checked against the
child's process and thread ids and the clock, the end of a process on a
FATAL line, and threads that race to write the first lines."""

import datetime
import os
import re
import shutil
import subprocess

import pytest

from conftest import run_tool, windows_path

TOOL = "base/log_writer.exe"

HEADER = re.compile(
    r"\[(?P<pid>\d+):(?P<tid>\d+):"
    r"(?P<month>\d\d)(?P<day>\d\d)/(?P<hour>\d\d)(?P<minute>\d\d)(?P<second>\d\d)"
    r"\.(?P<millisecond>\d{3}):(?P<ticks>\d+):"
    r"(?P<severity>INFO|WARNING|ERROR|FATAL):(?P<file>log_writer\.cc)\((?P<line>\d+)\)\] "
    r"(?P<text>.*)")


def parse_ids(stdout):
    match = re.match(r"pid (\d+) tid (\d+)\r?\n", stdout.decode())
    assert match, stdout
    return int(match.group(1)), int(match.group(2))


def read_lines(path):
    text = path.read_text()
    assert text.endswith("\n")
    return text[:-1].split("\n")


def stamp_of(match, now):
    stamp = datetime.datetime(now.year, int(match["month"]), int(match["day"]),
                              int(match["hour"]), int(match["minute"]), int(match["second"]),
                              int(match["millisecond"]) * 1000)
    # A run across New Year's Eve.
    if stamp - now > datetime.timedelta(days=180):
        stamp = stamp.replace(year=now.year - 1)
    return stamp


def test_every_header_names_process_thread_time_and_site(run_exe, tmp_path):
    log = tmp_path / "lines.log"
    log.write_text("left from an earlier run\n")
    before = datetime.datetime.now()
    result = run_exe(TOOL, "--mode=lines", f"--file={windows_path(log)}", "--count=50")
    after = datetime.datetime.now()
    assert result.returncode == 0, result.stderr
    pid, tid = parse_ids(result.stdout)

    lines = read_lines(log)
    assert len(lines) == 52
    matches = [HEADER.fullmatch(line) for line in lines]
    assert all(matches), [line for line, m in zip(lines, matches) if not m]
    ticks = []
    for match in matches:
        assert int(match["pid"]) == pid
        assert int(match["tid"]) == tid
        stamp = stamp_of(match, after)
        slack = datetime.timedelta(seconds=2)
        assert before - slack <= stamp <= after + slack, match.group(0)
        ticks.append(int(match["ticks"]))
    assert ticks == sorted(ticks)

    assert [m["text"] for m in matches[:50]] == [f"line {i}" for i in range(50)]
    assert [(m["severity"], m["text"]) for m in matches[50:]] == [
        ("WARNING", "warning line"), ("ERROR", "error line")]
    assert len({m["line"] for m in matches}) == 3
    # ERROR and above also reach the standard error stream.
    assert b"ERROR:log_writer.cc(" in result.stderr
    assert b"WARNING" not in result.stderr


def test_fatal_line_is_written_and_ends_the_process(run_exe, tmp_path):
    log = tmp_path / "fatal.log"
    result = run_exe(TOOL, "--mode=fatal", f"--file={windows_path(log)}")
    assert result.returncode != 0
    assert b"survived" not in result.stdout
    pid, _ = parse_ids(result.stdout)
    lines = read_lines(log)
    assert len(lines) == 2
    last = HEADER.fullmatch(lines[-1])
    assert last and last["severity"] == "FATAL" and last["text"] == "fatal line"
    assert int(last["pid"]) == pid


def run_race(build_dir, folder, threads, count):
    # The first lines go to "debug.log" beside the program, so it runs from a
    # copy in a folder of its own.
    program = folder / "log_writer.exe"
    shutil.copy(build_dir / TOOL, program)
    result = subprocess.run([str(build_dir / "wine-run"), str(program), "--mode=race",
                             f"--threads={threads}", f"--count={count}"],
                            capture_output=True, timeout=600)
    assert result.returncode == 0, (result.returncode, result.stdout, result.stderr)
    return result.stdout.decode(), folder / "debug.log"


def test_two_threads_racing_the_first_line_open_the_file_once(build_dir, tmp_path):
    for attempt in range(6):
        folder = tmp_path / str(attempt)
        folder.mkdir()
        stdout, log = run_race(build_dir, folder, threads=2, count=1)
        # Exclusive opening fails while logging holds the file and succeeds
        # once it has moved on: no second handle leaked.
        assert "exclusive 0 1" in stdout
        texts = sorted(HEADER.fullmatch(line)["text"] for line in read_lines(log))
        assert texts == ["thread 0 line 0", "thread 1 line 0"]


def test_many_threads_lose_no_line_and_leave_one_handle(build_dir, tmp_path):
    stdout, log = run_race(build_dir, tmp_path, threads=8, count=200)
    assert "exclusive 0 1" in stdout
    texts = sorted(HEADER.fullmatch(line)["text"] for line in read_lines(log))
    assert texts == sorted(f"thread {t} line {i}" for t in range(8) for i in range(200))


def snapshot(folder):
    """{name: bytes} of the files in a folder (links followed), so that a
    write or a new file there shows."""
    return {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}


def plant(kind, folder, name, outside):
    """What a less trusted process leaves under a name before the log is made."""
    path = folder / name
    if kind == "file":
        path.write_bytes(b"earlier\n")
    elif kind == "link to a file":
        (outside / "target.txt").write_bytes(b"outside\n")
        path.symlink_to(outside / "target.txt")
    elif kind == "dangling link":
        path.symlink_to(outside / "made.txt")
    elif kind == "folder link":
        path.symlink_to(outside, target_is_directory=True)


# (what the name holds, whether the log folder itself is a link to the
# outside folder, the name in the log folder the lines go to: none when the
# log folder is refused, and then no "debug.log" in the current folder
# either).
NEW_FILE_CASES = [
    ("free", False, "a.log"),
    ("file", False, "a_2.log"),
    ("link to a file", False, "a_2.log"),
    ("dangling link", False, "a_2.log"),
    ("folder link", False, "a_2.log"),
    ("free", True, None),
]


@pytest.mark.parametrize("occupant, folder_is_link, expected", NEW_FILE_CASES)
def test_new_log_file_never_goes_through_a_taken_name_or_a_link(
        build_dir, tmp_path, occupant, folder_is_link, expected):
    outside = tmp_path / "outside"
    outside.mkdir()
    logs = tmp_path / "logs"
    if folder_is_link:
        logs.symlink_to(outside, target_is_directory=True)
    else:
        logs.mkdir()
    plant(occupant, logs if not folder_is_link else outside, "a.log", outside)
    cwd = tmp_path / "cwd"
    cwd.mkdir()
    outside_before = snapshot(outside)
    names_before = set(os.listdir(outside))
    planted = (logs / "a.log").read_bytes() if occupant == "file" else None

    # The folder named as the link, not what it resolves to.
    result = run_tool([str(build_dir / "wine-run"), str(build_dir / TOOL), "--mode=lines",
                       f"--file={windows_path(tmp_path)}\\logs\\a.log", "--count=3", "--new-file-only"],
                      capture_output=True, timeout=600, cwd=cwd)

    assert set(os.listdir(outside)) == names_before
    assert snapshot(outside) == outside_before
    assert os.listdir(cwd) == []
    if planted is not None:
        assert (logs / "a.log").read_bytes() == planted
    if occupant.endswith("link"):
        assert (logs / "a.log").is_symlink()
    if expected is None:
        assert result.stderr.startswith(b"cannot open the log file"), result.stderr
        return
    assert result.returncode == 0, result.stderr
    log = logs / expected
    assert not log.is_symlink()
    assert [HEADER.fullmatch(line)["text"] for line in read_lines(log)] == [
        "line 0", "line 1", "line 2", "warning line", "error line"]
