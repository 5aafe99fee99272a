"""What the installation benchmarks share: their command line and the
Windows spelling of a Linux path."""

from pathlib import Path


def winpath(path):
    """`path` as Wine's Z: drive shows it."""
    return "Z:" + str(path).replace("/", "\\")


def parse(argv, root, work_name, default_count, flags=()):
    """[--smoke] [flag ...] [build-dir] [work-folder] [count] [rest ...]:
    (smoke, flags given, build, work, count, rest). A smoke run counts 1."""
    smoke = argv[:1] == ["--smoke"]
    argv = argv[1:] if smoke else list(argv)
    given = set()
    while argv[:1] and argv[0] in flags:
        given.add(argv.pop(0))
    build = Path(argv[0] if argv else root / "out").resolve()
    work = Path(argv[1]).resolve() if len(argv) > 1 and argv[1] else build / work_name
    count = 1 if smoke else int(argv[2]) if len(argv) > 2 and argv[2] else default_count
    return smoke, given, build, work, count, argv[3:]
