"""A test program running under Wine, talked to line by line: its standard
output read on a thread of its own, its standard input written, its standard
error kept in a log file."""

import os
import queue
import signal
import subprocess
import threading

from conftest import as_standard_user

# Only guards against a hang: a slow machine must never fail a test.
HANG_GUARD = 600


def kill_if_still(pid, marker):
    """SIGKILL to the Linux process `pid` only while its command line holds
    `marker`: a process that ended may have passed its id on to anyone's
    (two whole suites on one machine reuse ids fast). The pidfd pins the
    process that was looked at. False when it is gone or another's."""
    try:
        pidfd = os.pidfd_open(pid)
    except OSError:
        return False
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            if marker.encode() not in cmdline.read():
                return False
        signal.pidfd_send_signal(pidfd, signal.SIGKILL)
        return True
    except OSError:
        return False
    finally:
        os.close(pidfd)


class WineProcess:
    def __init__(self, build_dir, tool, log_path, *args, standard_user=False):
        self._command = [str(build_dir / "wine-run"),
                         *(as_standard_user(build_dir, build_dir / tool, *args) if standard_user
                           else [str(build_dir / tool), *args])]
        self._log_path = log_path
        self._said = []
        self._heard = False
        self._started_again = False
        self._start()

    def _start(self):
        self.log = open(self._log_path, "wb")
        self.process = subprocess.Popen(self._command, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=self.log)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, args=(self.process, self.lines),
                         daemon=True).start()

    @staticmethod
    def _read(process, lines):
        for line in process.stdout:
            lines.put(line.decode().rstrip("\r\n"))
        lines.put(None)

    def _unstarted(self):
        # Under heavy load Wine now and then fails to start a program: exit
        # code 1 before a word on either stream. The test tools never end so.
        return (not self._heard and self.process.wait(timeout=HANG_GUARD) == 1 and
                os.path.getsize(self._log_path) == 0)

    def read_line(self):
        line = self.lines.get(timeout=HANG_GUARD)
        if line is None and not self._started_again and self._unstarted():
            self._started_again = True
            self.log.close()
            self._start()
            for said in self._said:
                self._write(said)
            return self.read_line()
        self._heard |= line is not None
        return line

    def read_rest(self):
        """Every line still to come, once all writers of the output are gone."""
        rest = []
        while (line := self.read_line()) is not None:
            rest.append(line)
        return rest

    def say(self, line):
        self._said.append(line)
        self._write(line)

    def _write(self, line):
        self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()

    def wait(self):
        return self.process.wait(timeout=HANG_GUARD)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()
