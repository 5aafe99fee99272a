"""The shipped full installer's log files against links planted under the
names its processes would take: every run of a silent installation (front
end, backend, the package's backend) names its log after the UTC second it
starts and its process id, in the user's temporary folder, which the user
can write even where the installer runs elevated. Links planted there for
every process id and the coming seconds, from Linux as a Unix link shows
under Wine, must not take a line or make a file outside; the run still logs,
under another name beside the links."""

import datetime
import os
import shutil
import subprocess
import threading
import uuid

from conftest import windows_path, wine
from test_silent_installation import (HANG_GUARD, SWITCHES, TREE_RUNNER, exit_code_of,  # noqa: F401
                                      machine)
from test_user_starts import linux_path

# Wine gives out process ids as multiples of 4 and soon again; a run of this
# group stays far below this.
HIGHEST_PID = 4096
# How far ahead of the clock the planter keeps: it falls behind only if it
# gets no turn for this long, however slowly the installer runs.
SECONDS_LEAD = 30
INSTALLER = "installer_files/full/installer.exe"


def names_of_second(second):
    stamp = second.strftime("%Y%m%d%H%M%S")
    return [f"tarvo_installer_{stamp}_{pid}.log" for pid in range(4, HIGHEST_PID + 1, 4)]


class Planter:
    """Plants links to `outside` under the log names of every process id,
    from two seconds back to SECONDS_LEAD ahead of the clock, and keeps
    ahead until stopped, whenever the installer's processes start."""

    def __init__(self, logs, outside):
        self.logs, self.outside = logs, outside
        self.planted = set()
        self.next_second = self.now() - datetime.timedelta(seconds=2)
        self.stopped = threading.Event()
        self.error = None
        self.plant_ahead()
        self.thread = threading.Thread(target=self.keep_ahead)

    @staticmethod
    def now():
        return datetime.datetime.utcnow().replace(microsecond=0)

    def plant_ahead(self):
        while self.next_second <= self.now() + datetime.timedelta(seconds=SECONDS_LEAD):
            for name in names_of_second(self.next_second):
                try:
                    (self.logs / name).symlink_to(self.outside / name)
                except FileExistsError:
                    # A process took the name first: it is no link's.
                    continue
                self.planted.add(name)
            self.next_second += datetime.timedelta(seconds=1)

    def keep_ahead(self):
        try:
            while not self.stopped.wait(0.2):
                self.plant_ahead()
        except BaseException as error:  # told on the test's thread
            self.error = error

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopped.set()
        self.thread.join()
        if self.error:
            raise self.error


def test_planted_log_name_links_take_no_line(build_dir, machine, tmp_path):
    # A temporary folder of the test's own inside the prefix's: the shell
    # hands it to the installer as the user's.
    temp_root = wine(build_dir, "cmd", "/c", "echo %TEMP%").stdout.decode().strip()
    temp_windows = f"{temp_root}\\links-{uuid.uuid4().hex[:8]}"
    temp = linux_path(build_dir, temp_root) / temp_windows.rsplit("\\", 1)[1]
    logs = temp / "Tarvo Installer"
    logs.mkdir(parents=True)
    outside = tmp_path / "outside"
    outside.mkdir()
    batch = tmp_path / "start.bat"
    switches = " ".join([*SWITCHES, "--enable-installer-stats=0",
                         f'"--installfolder={windows_path(machine.folder)}"',
                         f'"--temp-folder={windows_path(machine.temp)}"'])
    batch.write_bytes(f'@set "TMP={temp_windows}"\r\n@set "TEMP={temp_windows}"\r\n'
                      f'@start "" /wait "{windows_path(build_dir / INSTALLER)}" {switches}\r\n'
                      f'@exit /b %ERRORLEVEL%\r\n'.encode())
    try:
        with Planter(logs, outside) as planter:
            result = subprocess.run([str(build_dir / "wine-run"), str(build_dir / TREE_RUNNER),
                                     windows_path(batch)],
                                    capture_output=True, timeout=HANG_GUARD)
        planted = planter.planted

        assert exit_code_of(result.stdout) == 0
        assert (machine.folder / "launcher.exe").is_file()
        # Nothing was made or written through a link.
        assert os.listdir(outside) == []
        assert all((logs / name).is_symlink() for name in planted)
        made = {name: (logs / name).read_text(errors="replace")
                for name in os.listdir(logs) if name not in planted}
        assert not any((logs / name).is_symlink() for name in made)
        starts = [name for name, text in made.items() if "installer starting" in text]
        # The front end, the backend and the package's backend, each under
        # the first free name beside the link that took its own: the
        # planter was ahead of every start.
        assert len(starts) >= 3, sorted(made)
        assert all(name.endswith("_2.log") and name.replace("_2.log", ".log") in planted
                   for name in starts), sorted(made)
    finally:
        shutil.rmtree(temp)
