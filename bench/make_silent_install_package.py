#!/usr/bin/env python3
"""Makes the silent-install benchmark's full installer as the build makes its
release files (tests/e2e/installer_files.py): the demo package of the
end-to-end tests with a benchmark payload added to it and to its file list,
packed as releases are (level 5, the stream in independent parts, 7zz's filters),
carried as the payload of a copy of installer.exe signed with the build's
test certificate (installer_files/pki), the library beside it; the package's
own installer.exe and library are signed alike, as releases sign them: a
signed installer hands over only to programs signed with its certificate.
    bench/make_silent_install_package.py BUILD_DIR WORK_FOLDER PAYLOAD_ARGS...
PAYLOAD_ARGS go to the install-speed anchor's make-payload-scaled.py
("--scale 1.0": 300 files, 188 MB; "--small 20000": 20,000 files of 2 KiB).
Leaves WORK_FOLDER/installer/installer.exe, WORK_FOLDER/package.7z (the same
archive) and WORK_FOLDER/tree, the tree the installer installs (7zz x of the
archive), for the peers. They are made again, and whatever else the folder
held removed, once anything they are made from changed: the build's
programs and test certificate, the payload's arguments or the makers."""

import hashlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

import installer_files  # noqa: E402
import test_installation  # noqa: E402

# The build's files that go into the made files, besides its certificate.
BUILD_INPUTS = [installer_files.INSTALLER, installer_files.LIBRARIES["current"],
                test_installation.LAUNCHER]


ANCHOR_MISSING = 77


def anchor_folder():
    """The shared install-speed anchor: $TARVO_BENCH_ANCHOR, else
    ../shared/bench beside the checkout, else /work/shared/bench."""
    candidates = [os.environ.get("TARVO_BENCH_ANCHOR"), ROOT.parent / "shared" / "bench",
                  Path("/work/shared/bench")]
    for candidate in candidates:
        if candidate and (Path(candidate) / "make-payload-scaled.py").is_file():
            return Path(candidate)
    # A machine without the anchor cannot run the benchmark at all: the
    # suite's smoke run reports it skipped (77), not failed.
    print("The install-speed anchor (make-payload-scaled.py, nsis-build-x64.sh, "
          "tree-bench.py) was not found: set TARVO_BENCH_ANCHOR to its folder",
          file=sys.stderr)
    sys.exit(ANCHOR_MISSING)


def inputs_digest(build, payload_args):
    """SHA-256 over everything the made files are made from."""
    digest = hashlib.sha256()
    makers = [Path(__file__), Path(installer_files.__file__), Path(test_installation.__file__)]
    certificate = installer_files.BuildKeys(build).folder
    signer = [certificate / f"{installer_files.GOOD_SIGNER}{suffix}"
              for suffix in ("_chain.pem", ".key")]
    for path in [*(build / name for name in BUILD_INPUTS), *signer, *makers]:
        digest.update(path.read_bytes())
    digest.update("\0".join(payload_args).encode())
    return digest.hexdigest()


def main():
    build, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    payload_args = sys.argv[3:]
    installer = work / "installer" / "installer.exe"
    stamp = work / "made_from.sha256"
    made_from = inputs_digest(build, payload_args)
    if stamp.is_file() and stamp.read_text() == made_from:
        return
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    keys = installer_files.BuildKeys(build)
    source = work / "source"
    subprocess.run([sys.executable, str(anchor_folder() / "make-payload-scaled.py"),
                    str(source), *payload_args], check=True, stdout=subprocess.DEVNULL)
    package = work / "package"
    installer_files.make_package(build, package, pki=keys)
    shutil.copytree(source, package, dirs_exist_ok=True)
    added = sorted(str(p.relative_to(source)).replace("/", "\\")
                   for p in source.rglob("*") if p.is_file())
    with open(package / "files_list", "ab") as files_list:
        files_list.write("".join(name + "\r\n" for name in added).encode())
    shutil.rmtree(source)
    archive = installer_files.pack(package, work / "package.7z")
    shutil.rmtree(package)
    tree = work / "tree"
    subprocess.run(["7zz", "x", "-bso0", "-bsp0", f"-o{tree}", str(work / "package.7z")],
                   check=True)
    installer_files.full_installer(build, installer.parent, keys, archive)
    stamp.write_text(made_from)


if __name__ == "__main__":
    main()
