"""A test program running under Wine, talked to line by line: its standard
output read on a thread of its own, its standard input written, its standard
error kept in a log file."""

import queue
import subprocess
import threading

# Only guards against a hang: a slow machine must never fail a test.
HANG_GUARD = 600


class WineProcess:
    def __init__(self, build_dir, tool, log_path, *args):
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(
            [str(build_dir / "wine-run"), str(build_dir / tool), *args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.decode().rstrip("\r\n"))
        self.lines.put(None)

    def read_line(self):
        return self.lines.get(timeout=HANG_GUARD)

    def read_rest(self):
        """Every line still to come, once all writers of the output are gone."""
        rest = []
        while (line := self.read_line()) is not None:
            rest.append(line)
        return rest

    def say(self, line):
        self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()

    def wait(self):
        return self.process.wait(timeout=HANG_GUARD)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()
