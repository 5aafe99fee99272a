"""wine-run reports a program's own exit code even when the Linux side of
its process is slow to leave after the program ended: wineserver kills such
a process with SIGKILL after a short grace, and its caller would see a
program killed that did all it had to. A program killed while it runs is
still reported killed."""

import os
import signal
import subprocess

from wine_process import HANG_GUARD

# Gives the Wine loader's process an exit handler that never returns: it
# leaves only when something kills it. Only Wine's programs: wineserver
# must leave as it does.
STUCK_EXIT = r"""
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
static void never_return(void) { for (;;) pause(); }
__attribute__((constructor)) static void install(void) {
  char exe[4096];
  const ssize_t size = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (size > 7 && memcmp(exe + size - 7, "/wine64", 7) == 0)
    atexit(never_return);
}
"""


def stuck_exit_library(tmp_path):
    source = tmp_path / "stuck_exit.c"
    source.write_text(STUCK_EXIT)
    library = tmp_path / "stuck_exit.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-o", str(library), str(source)], check=True,
                   timeout=HANG_GUARD)
    return library


def test_a_program_that_ended_keeps_its_exit_code_and_a_killed_one_reads_killed(
        build_dir, tmp_path):
    env = dict(os.environ, LD_PRELOAD=str(stuck_exit_library(tmp_path)),
               WINEPREFIX=os.environ.get("WINEPREFIX", str(build_dir / "wineprefix")),
               WINEDEBUG="-all")
    exit_3 = ["cmd", "/c", "exit", "3"]
    # Without wine-run's own library the stuck exit handler runs, and only
    # wineserver's SIGKILL ends the process.
    plain = subprocess.run(["setarch", "-R", "/usr/lib/wine/wine64", *exit_3], env=env,
                           capture_output=True, timeout=HANG_GUARD)
    assert plain.returncode == -signal.SIGKILL

    through_wine_run = subprocess.run([str(build_dir / "wine-run"), *exit_3], env=env,
                                      capture_output=True, timeout=HANG_GUARD)
    assert through_wine_run.returncode == 3

    # A program killed while it still runs (cmd waits for its input).
    running = subprocess.Popen([str(build_dir / "wine-run"), "cmd"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    running.stdin.write(b"echo ready\r\n")
    running.stdin.flush()
    while b"ready" not in running.stdout.readline():
        pass
    running.kill()
    assert running.wait(timeout=HANG_GUARD) == -signal.SIGKILL
