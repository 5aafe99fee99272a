"""A command's clock set elsewhere, for making certificates and time-stamps
dated in the past: libfaketime preloaded into the command itself. Not the
faketime program: it leaves a shared-memory segment and a semaphore in
/dev/shm behind each run, outside the build folder, and fails outright
("sem_open: File exists") when a later run gets a process id one of them
names."""

import glob
import os

LIBRARY_PATTERN = "/usr/lib/*/faketime/libfaketime.so.1"


def clock_environment(when, base=None):
    """The environment (`base`, or this process's) with the clock at `when`:
    a libfaketime offset such as "-100d" or an absolute "@2025-01-01
    00:00:00"; `base` unchanged when `when` is None."""
    environment = dict(os.environ if base is None else base)
    if not when:
        return environment
    libraries = glob.glob(LIBRARY_PATTERN)
    assert libraries, "libfaketime is not installed (scripts/setup installs it)"
    environment.update(LD_PRELOAD=libraries[0], FAKETIME=when, FAKETIME_DONT_FAKE_MONOTONIC="1")
    return environment
