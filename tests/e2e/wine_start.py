"""How a program that Wine failed to start looks from outside: under heavy
load Wine now and then exits 1 without a word on either stream, or its
launcher says "ShellExecuteEx failed". None of the test tools ends that way.
The end-to-end tests and the benchmarks' smoke runs both ask this."""

LAUNCHER_FAILURE = b"ShellExecuteEx failed"


def looks_unstarted(returncode, said_anything, launcher_failed):
    return returncode == 1 and (not said_anything or launcher_failed)
