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
import uuid

from conftest import windows_path, wine
from test_silent_installation import (HANG_GUARD, SWITCHES, TREE_RUNNER, exit_code_of,  # noqa: F401
                                      machine)
from test_user_starts import linux_path

# Wine gives out process ids as multiples of 4 and soon again; a run of this
# group stays far below this.
HIGHEST_PID = 4096
# A silent installation of the demo package takes a few seconds here.
SECONDS_AHEAD = 90
INSTALLER = "installer_files/full/installer.exe"


def planted_names(start):
    for second in range(-2, SECONDS_AHEAD):
        stamp = (start + datetime.timedelta(seconds=second)).strftime("%Y%m%d%H%M%S")
        for pid in range(4, HIGHEST_PID + 1, 4):
            yield f"tarvo_installer_{stamp}_{pid}.log"


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
    planted = set()
    for name in planted_names(datetime.datetime.utcnow()):
        (logs / name).symlink_to(outside / name)
        planted.add(name)
    batch = tmp_path / "start.bat"
    switches = " ".join([*SWITCHES, "--enable-installer-stats=0",
                         f'"--installfolder={windows_path(machine.folder)}"',
                         f'"--temp-folder={windows_path(machine.temp)}"'])
    batch.write_bytes(f'@set "TMP={temp_windows}"\r\n@set "TEMP={temp_windows}"\r\n'
                      f'@start "" /wait "{windows_path(build_dir / INSTALLER)}" {switches}\r\n'
                      f'@exit /b %ERRORLEVEL%\r\n'.encode())
    try:
        result = subprocess.run([str(build_dir / "wine-run"), str(build_dir / TREE_RUNNER),
                                 windows_path(batch)],
                                capture_output=True, timeout=HANG_GUARD)

        assert exit_code_of(result.stdout) == 0
        assert (machine.folder / "launcher.exe").is_file()
        # Nothing was made or written through a link.
        assert os.listdir(outside) == []
        assert all((logs / name).is_symlink() for name in planted)
        made = {name: (logs / name).read_text(errors="replace")
                for name in os.listdir(logs) if name not in planted}
        assert not any((logs / name).is_symlink() for name in made)
        starts = [text for text in made.values() if "installer starting" in text]
        # The front end, the backend and the package's backend, each under
        # the first free name beside the link that took its own.
        assert len(starts) >= 3, sorted(made)
        assert any(name.endswith("_2.log") for name in made), sorted(made)
    finally:
        shutil.rmtree(temp)
