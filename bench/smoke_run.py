#!/usr/bin/env python3
"""A benchmark script's smoke run (bench/*.sh --smoke), in a Wine session
of its own (bench/wine-session), as the tests run it. Under load Wine now
and then fails to start a program: exit code 1 and not a word on either
stream, or its launcher's "ShellExecuteEx failed" (tests/e2e/wine_start.py,
which the end-to-end tests ask too). Every program the run starts through the build's wine-run
is watched for that; a run that failed after one was not started runs once
more, in a new session, and any other failure fails at once.
  bench/smoke_run.py BUILD SCRIPT
  bench/smoke_run.py --watch COMMAND...
The second form is wine-run's, while TARVO_UNSTARTED_RECORD names the file
in which an unstarted program is written down."""

import ctypes
import os
import signal
import subprocess
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from wine_start import LAUNCHER_FAILURE, looks_unstarted  # noqa: E402

RECORD_VARIABLE = "TARVO_UNSTARTED_RECORD"
PR_SET_PDEATHSIG = 1


def die_with_parent():
    # A caller that kills wine-run (a runner ending a whole tree) kills the
    # watcher alone: the program must end with it, as it would unwatched.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Relay(threading.Thread):
    """Copies one stream of the program to ours as it comes, noting whether
    it said anything and whether the launcher's failure went by."""

    def __init__(self, source, target):
        super().__init__()
        self.source, self.target = source, target
        self.said = False
        self.launcher_failed = False

    def run(self):
        seen = b""
        open_target = True
        while chunk := os.read(self.source, 65536):
            self.said = True
            seen = seen[-len(LAUNCHER_FAILURE):] + chunk
            self.launcher_failed |= LAUNCHER_FAILURE in seen
            while open_target and chunk:
                try:
                    chunk = chunk[os.write(self.target, chunk):]
                except OSError:
                    # The reader went away; the program is still drained.
                    open_target = False


def watch(command, record):
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             preexec_fn=die_with_parent)
    for sent in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sent, lambda number, frame: child.send_signal(number))
    relays = [Relay(child.stdout.fileno(), 1), Relay(child.stderr.fileno(), 2)]
    for relay in relays:
        relay.start()
    for relay in relays:
        relay.join()
    code = child.wait()
    out, err = relays
    if looks_unstarted(code, out.said or err.said, out.launcher_failed):
        with open(record, "a") as file:
            file.write(" ".join(command) + "\n")
    return code if code >= 0 else 128 - code


def smoke(build, script):
    name = f"bench_{Path(script).stem}"
    record = Path(build) / "bench_tmp" / f"{name}.unstarted"
    record.parent.mkdir(parents=True, exist_ok=True)
    session = Path(__file__).resolve().parent / "wine-session"
    for attempt in range(2):
        record.unlink(missing_ok=True)
        code = subprocess.call([str(session), build, name, script, "--smoke", build],
                               env={**os.environ, RECORD_VARIABLE: str(record)})
        if code == 0 or attempt == 1 or not record.exists():
            return code
        print("--- Wine failed to start:\n" + record.read_text() +
              "--- once more, in a new session", flush=True)


def main(argv):
    if argv[1:2] == ["--watch"]:
        return watch(argv[2:], os.environ[RECORD_VARIABLE])
    if len(argv) != 3:
        sys.exit(__doc__)
    return smoke(argv[1], argv[2])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
