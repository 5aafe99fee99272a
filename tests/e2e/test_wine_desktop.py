"""scripts/wine-desktop, which every test session runs before its tests:
it returns only once its holder keeps Wine's desktop, even when Wine
failed to start the holder the first time, as it now and then does under
load. Otherwise the first test program that touched the desktop would
start the desktop process, which then held that program's output pipes."""

import os
import subprocess
from pathlib import Path

from wine_process import HANG_GUARD, kill_if_still

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "wine-desktop"


def test_holder_that_wine_failed_to_start_is_started_again(build_dir, tmp_path):
    starts = tmp_path / "starts"
    holder_pid = tmp_path / "holder.pid"
    # Fails the first start the way Wine does: exit code 1 without a word.
    loader = tmp_path / "loader"
    loader.write_text("#!/bin/sh\n"
                      f"echo start >> '{starts}'\n"
                      f"[ $(wc -l < '{starts}') -eq 1 ] && exit 1\n"
                      f"echo $$ > '{holder_pid}'\n"
                      'exec /usr/lib/wine/wine64 "$@"\n')
    loader.chmod(0o755)
    env = dict(os.environ, WINELOADER=str(loader),
               WINEPREFIX=os.environ.get("WINEPREFIX", str(build_dir / "wineprefix")))
    try:
        subprocess.run([str(SCRIPT), str(build_dir)], env=env, check=True,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=HANG_GUARD)

        # The desktop of the build's prefix already runs, so the second
        # holder keeps it at once; the script waited for it to say so.
        assert starts.read_text().splitlines() == ["start", "start"]
        os.kill(int(holder_pid.read_text()), 0)
    finally:
        if holder_pid.exists():
            kill_if_still(int(holder_pid.read_text()), "window_driver_tool")
