#!/usr/bin/env python3
"""Makes the package-unpacking benchmark's archive: 300 files of 188 MB in
all, every other file random bytes and the rest zeros, packed by 7zz into
one solid LZMA block at -mx=5 (about 95 MB). The same bytes every time.
    bench/make_unpack_archive.py WORK_FOLDER [FILES BYTES]
leaves WORK_FOLDER/tree (the files) and WORK_FOLDER/package.7z; FILES and
BYTES (an even count, 300 and 188,000,000 by default) make a smaller one for
a smoke run. A tree of other sizes left there is made again."""

import random
import shutil
import subprocess
import sys
from pathlib import Path

FILES = 300
TOTAL = 188_000_000


def sizes(files, total):
    """Pairs of equal sizes, so that random and zero bytes are half each."""
    rng = random.Random(188)
    weights = [rng.uniform(0.2, 1.8) for _ in range(files // 2)]
    scale = total / 2 / sum(weights)
    pairs = [int(w * scale) for w in weights]
    pairs[-1] += total // 2 - sum(pairs)
    return [size for size in pairs for _ in range(2)]


def main():
    work = Path(sys.argv[1])
    files, total = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (FILES, TOTAL)
    tree = work / "tree"
    archive = work / "package.7z"
    stamp = work / "made_of.txt"
    made_of = f"{files} files, {total} bytes"
    if archive.exists() and stamp.is_file() and stamp.read_text() == made_of:
        return
    shutil.rmtree(tree, ignore_errors=True)
    archive.unlink(missing_ok=True)
    rng = random.Random(95)
    for index, size in enumerate(sizes(files, total)):
        path = tree / f"folder{index % 10}" / f"file{index:03}.bin"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(rng.randbytes(size) if index % 2 == 0 else bytes(size))
    subprocess.run(["7zz", "a", "-bso0", "-bsp0", "-m0=LZMA", "-mx=5", "-ms=on",
                    str(archive.resolve()), "."], cwd=tree, check=True)
    stamp.write_text(made_of)


if __name__ == "__main__":
    main()
