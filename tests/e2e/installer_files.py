"""Installer files as a release ships them, made from this build: the demo
browser package (test_installation's) packed by 7zz into one 7z archive and
carried as the payload of a copy of installer.exe (the full installer), or
tracking data alone (the online installer, which downloads the package),
each signed by osslsigncode with the test certificate (the build's
installer_files/pki, made before the library was compiled: build_pki.py),
the library beside it signed alike, as are the package's installer.exe and
library. The build's own files are time-stamped as a release's are, by the
test time-stamping authority (timestamp_server.py) that it starts on
127.0.0.1 for their signing: their signatures hold after the certificate's
end.

The package's library may be a build of another release or stream (the
next patch release, an older release, another stream's: the build makes
them), and each comes with its own installer.exe, the one host that runs
it. An installer file may be made for another update
server: its branding's "autoupdate" URL is rewritten in place, at the same
length, before signing.

Files made with `hooks` carry the library built with the test hooks in
(testing/test_hooks.h), as only the tests that make a run fail, end or
crash at a point they choose need it; what ships never does.

    python3 installer_files.py BUILD_DIR OUT_FOLDER [TESTING_OUT_FOLDER]
makes the build's own: OUT_FOLDER/package.7z (the demo package),
OUT_FOLDER/full and OUT_FOLDER/online; and the same in TESTING_OUT_FOLDER
with the hooks in, signed and stamped alike."""

import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from test_signature import Pki  # noqa: E402
from timestamp_server import TimestampServer  # noqa: E402

SOURCE_ROOT = Path(__file__).resolve().parents[2]
BRANDING = SOURCE_ROOT / "desktop/windows/host/branding.json"
INSTALLER = "desktop/windows/installer/installer.exe"
LIBRARIES = {
    "current": "desktop/windows/installer/tarvo_installer.dll",
    "next": "desktop/windows/installer/next/tarvo_installer.dll",
    "older": "desktop/windows/installer/older/tarvo_installer.dll",
    "other_stream": "desktop/windows/installer/other_stream/tarvo_installer.dll",
}
# The builds above that have a twin with the test hooks in.
TESTING_LIBRARIES = {
    "current": "desktop/windows/installer/testing/tarvo_installer.dll",
    "next": "desktop/windows/installer/testing/next/tarvo_installer.dll",
}
SEVEN_ZIP_SIGNATURE = b"7z\xbc\xaf\x27\x1c"
GOOD_SIGNER = "good"
ONLINE_TRACKING = {"uuid": "online-installer"}


def trailer(payload):
    """The payload as installer.exe looks for it: "TRV", the bytes, their
    length as 32-bit little-endian."""
    return b"TRV" + payload + struct.pack("<I", len(payload))


def tracking_data(fields):
    return base64.b64encode(json.dumps(fields).encode())


def rebrand(image, autoupdate_url):
    """`image` with the branding resource's "autoupdate" URL replaced: the
    JSON is written compactly and padded with blanks to its old length."""
    original = BRANDING.read_bytes()
    start = image.find(original)
    assert start >= 0 and image.find(original, start + 1) < 0, "branding not found once"
    branding = json.loads(original)
    branding["urls"]["autoupdate"] = autoupdate_url
    text = json.dumps(branding, separators=(",", ":")).encode()
    assert len(text) <= len(original), "the new branding does not fit"
    return image[:start] + text + b" " * (len(original) - len(text)) + image[start + len(original):]


# The installed copy of the installer is what uninstalls: the package lists
# it with its library among the files it installs.
INSTALLER_FILES = ["installer.exe", "tarvo_installer.dll"]


def library_file(build_dir, library, hooks=False):
    """The library of the build `library`, with the test hooks in or not."""
    return build_dir / (TESTING_LIBRARIES if hooks else LIBRARIES)[library]


def host_file(build_dir, library="current", hooks=False):
    """The installer.exe of that build: it runs that library and no other."""
    return library_file(build_dir, library, hooks).with_name("installer.exe")


def sign_in_place(pki, signer, path):
    """`path` signed by `signer`, as a release signs every program it ships."""
    unsigned = path.with_name("unsigned_" + path.name)
    path.rename(unsigned)
    pki.sign(signer, unsigned, path)
    unsigned.unlink()
    return path


def make_package(build_dir, folder, library="current", files=None, autoupdate_url=None,
                 hooks=False, pki=None, signer=GOOD_SIGNER):
    """The demo package in `folder`, its library that of `library`; its
    installer reports to `autoupdate_url` when given. With `pki`, its
    installer.exe and library are signed by `signer`: a signed installer
    runs and loads only programs signed with its own certificate."""
    import test_installation
    listed = dict(test_installation.FILES if files is None else files)
    test_installation.make_package(build_dir, folder, files=listed)
    shutil.copy(library_file(build_dir, library, hooks), folder / "tarvo_installer.dll")
    installer = folder / "installer.exe"
    shutil.copy(host_file(build_dir, library, hooks), installer)
    if autoupdate_url:
        installer.write_bytes(rebrand(installer.read_bytes(), autoupdate_url))
    if pki is not None:
        for program in (installer, folder / "tarvo_installer.dll"):
            sign_in_place(pki, signer, program)
    (folder / "files_list").write_bytes(
        "".join(name + "\r\n" for name in [*listed, *INSTALLER_FILES]).encode())
    return folder


# The LZMA2 stream starts afresh every this many bytes (a chunk that resets
# the dictionary): the installer decodes such parts on several threads at
# once. Fixed rather than left to 7zz, whose choice depends on the packing
# machine's processors (one solid stream on a single one, 128 MB parts on
# several). Against those parts, 16 MB ones made 200 MB of compiled libraries
# 1.7% bigger (32 MB ones 1%, 8 MB ones 3.4%) and the benchmark's payload
# 0.01%, while spreading its decoding over four threads.
PART_SIZE = "16m"


def pack(folder, archive, level=5):
    """`folder`'s tree as one solid LZMA2 7z archive, names relative to it,
    executables through 7zz's x86 filter as it chooses, the stream cut into
    independent parts of PART_SIZE. Releases pack at level 5; tests that
    only need a package may go faster."""
    archive.unlink(missing_ok=True)
    subprocess.run(["7zz", "a", "-bso0", "-bsp0", f"-mx={level}", f"-m0=LZMA2:c={PART_SIZE}",
                    str(archive.resolve()), "."], cwd=folder, check=True)
    return archive.read_bytes()


def installer_file(build_dir, folder, pki, payload, library="current", autoupdate_url=None,
                   signer=GOOD_SIGNER, hooks=False):
    """installer.exe in `folder` (made) with `payload` inside the signed part,
    the library beside it signed alike; both unsigned when `pki` is None."""
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy(library_file(build_dir, library, hooks), folder / "tarvo_installer.dll")
    if pki is not None:
        sign_in_place(pki, signer, folder / "tarvo_installer.dll")
    image = host_file(build_dir, library, hooks).read_bytes()
    if autoupdate_url:
        image = rebrand(image, autoupdate_url)
    target = folder / "installer.exe"
    if pki is None:
        target.write_bytes(image + trailer(payload))
        return target
    # Signing aligns the certificate table to 8 bytes: zeros go before the
    # trailer, so that it ends right before the table and the payload is
    # exactly what was packed.
    padding = -(len(image) + len(trailer(payload))) % 8
    unsigned = folder / "unsigned.exe"
    unsigned.write_bytes(image + b"\0" * padding + trailer(payload))
    pki.sign(signer, unsigned, target)
    unsigned.unlink()
    return target


def full_installer(build_dir, folder, pki, archive, **options):
    return installer_file(build_dir, folder, pki, archive, **options)


def online_installer(build_dir, folder, pki, tracking=ONLINE_TRACKING, **options):
    return installer_file(build_dir, folder, pki, tracking_data(tracking), **options)


class BuildKeys(Pki):
    """The signers the build made before it compiled the library
    (installer_files/pki, build_pki.py): "good" is the publisher the library
    carries. Only signed with: a test that needs a signer of its own makes
    a Pki of its own."""

    def __init__(self, build_dir):
        self.folder = build_dir / "installer_files" / "pki"


class StampedKeys(BuildKeys):
    """The build's signers, every signature time-stamped by the authority
    at `url`, as a release signs."""

    def __init__(self, build_dir, url):
        super().__init__(build_dir)
        self.url = url

    def sign(self, signer, source, target, **options):
        options.setdefault("timestamp", self.url)
        return super().sign(signer, source, target, **options)


def make_installer_files(build_dir, out, pki, hooks=False):
    """out/package.7z, out/full and out/online."""
    with tempfile.TemporaryDirectory(dir=build_dir) as work:
        package = make_package(build_dir, Path(work) / "package", hooks=hooks, pki=pki)
        archive = pack(package, out / "package.7z")
    full_installer(build_dir, out / "full", pki, archive, hooks=hooks)
    online_installer(build_dir, out / "online", pki, hooks=hooks)


def main():
    build_dir, out = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    testing_out = Path(sys.argv[3]).resolve() if len(sys.argv) > 3 else None
    # The build's keys stay: the library was compiled with their publisher.
    for folder in filter(None, (out, testing_out)):
        for made in ("full", "online", "package.7z"):
            path = folder / made
            if path.is_dir():
                shutil.rmtree(path)
            path.unlink(missing_ok=True)
        folder.mkdir(parents=True, exist_ok=True)
    # The authority is on 127.0.0.1: no proxy may stand between.
    for name in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"):
        os.environ.pop(name, None)
    with TimestampServer(BuildKeys(build_dir).folder) as url:
        keys = StampedKeys(build_dir, url)
        make_installer_files(build_dir, out, keys)
        if testing_out:
            make_installer_files(build_dir, testing_out, keys, hooks=True)


if __name__ == "__main__":
    main()
