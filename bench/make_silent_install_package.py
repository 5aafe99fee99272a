#!/usr/bin/env python3
"""Makes the silent-install benchmark's full installer: the demo package of
the end-to-end tests with the package-unpacking benchmark's 300 files (188 MB,
half random and half zero bytes; bench/make_unpack_archive.py) added to it and
to its file list, packed by 7zz into one solid LZMA block at -mx=5, and
carried as the payload of a copy of installer.exe (unsigned: a payload is
never checked against a signature).
    bench/make_silent_install_package.py BUILD_DIR WORK_FOLDER
leaves WORK_FOLDER/installer/installer.exe (with the library beside it) and
WORK_FOLDER/package.7z, the same archive, for the native unpack; the files
themselves stay in WORK_FOLDER/source for later runs."""

import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

import installer_files  # noqa: E402


def main():
    build, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    installer = work / "installer" / "installer.exe"
    if installer.exists():
        return
    # The unpacking benchmark's files, made in a folder of their own.
    source = work / "source"
    subprocess.run([sys.executable, str(ROOT / "bench" / "make_unpack_archive.py"),
                    str(source)], check=True)
    package = work / "package"
    shutil.rmtree(package, ignore_errors=True)
    installer_files.make_package(build, package)
    shutil.copytree(source / "tree", package, dirs_exist_ok=True)
    added = sorted(str(p.relative_to(source / "tree")).replace("/", "\\")
                   for p in (source / "tree").rglob("*") if p.is_file())
    with open(package / "files_list", "ab") as files_list:
        files_list.write("".join(name + "\r\n" for name in added).encode())
    archive = work / "package.7z"
    archive.unlink(missing_ok=True)
    subprocess.run(["7zz", "a", "-bso0", "-bsp0", "-m0=LZMA", "-mx=5", "-ms=on",
                    str(archive), "."], cwd=package, check=True)
    shutil.rmtree(package)
    installer_files.full_installer(build, installer.parent, None, archive.read_bytes())


if __name__ == "__main__":
    main()
