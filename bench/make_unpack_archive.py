#!/usr/bin/env python3
"""Makes the package-unpacking benchmark's archive: 300 files of 188 MB in
all, every other file random bytes and the rest zeros, packed by 7zz into
one solid LZMA block at -mx=5 (about 95 MB). The same bytes every time.
    bench/make_unpack_archive.py WORK_FOLDER
leaves WORK_FOLDER/tree (the files) and WORK_FOLDER/package.7z."""

import random
import subprocess
import sys
from pathlib import Path

FILES = 300
TOTAL = 188_000_000


def sizes():
    """Pairs of equal sizes, so that random and zero bytes are half each."""
    rng = random.Random(188)
    weights = [rng.uniform(0.2, 1.8) for _ in range(FILES // 2)]
    scale = TOTAL / 2 / sum(weights)
    pairs = [int(w * scale) for w in weights]
    pairs[-1] += TOTAL // 2 - sum(pairs)
    return [size for size in pairs for _ in range(2)]


def main():
    work = Path(sys.argv[1])
    tree = work / "tree"
    archive = work / "package.7z"
    if archive.exists():
        return
    rng = random.Random(95)
    for index, size in enumerate(sizes()):
        path = tree / f"folder{index % 10}" / f"file{index:03}.bin"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(rng.randbytes(size) if index % 2 == 0 else bytes(size))
    subprocess.run(["7zz", "a", "-bso0", "-bsp0", "-m0=LZMA", "-mx=5", "-ms=on",
                    str(archive.resolve()), "."], cwd=tree, check=True)


if __name__ == "__main__":
    main()
