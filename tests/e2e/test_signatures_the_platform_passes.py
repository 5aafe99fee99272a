"""Signed files that Wine's WinVerifyTrust passes and Windows refuses, served
by the tests' update server to the shipped online installer, silent, per
user: a forged one (other content under the genuine signature, the digest
it states rewritten to that content, the signature over it stale) and a
self-signed one (a certificate of its maker's with the product's names,
chaining to a root of his own that no machine trusts). osslsigncode, with
the root the machine trusts, refuses each too. As the package, the run
installs nothing; as a partner program, it is not placed; as a
self-extracting partner item, it never runs. A genuine partner program and
self-extracting item in the same run are taken; the genuine package
installs in the other tests of the group."""

import hashlib
import subprocess

import pytest

import installer_files as files
import test_installation as installation
from conftest import Logs
from test_signature import with_stale_signature
from test_silent_installation import (VERSIONS, installed_tree, machine,  # noqa: F401
                                      package_tree, packages, pki, server)

# The forgery, the line of our signature report that refuses it.
FORGERIES = {
    "forged-digest": "Level 0: Signature does not cover the content",
    "self-signed": "Level 0: Certificate chain is not trusted: chain status 0x20",
}
SELF_SIGNER = "rogue"  # the product's names, its own "Tarvo Test Root"
PARTNER_DLL = "desktop/windows/installer/load_check_test_library.dll"
ATTACKER_DLL = "desktop/windows/installer/planted_library.dll"
ATTACKER_EXE = "base/argv_echo.exe"
REFUSED_PACKAGE = "Signature incorrect for the downloaded package"
RAN_SFX = "Component version didn't pass check"  # what follows its exit 0


def forge(kind, pki, genuine, source, folder):
    """The attacker's `source` (unsigned) as `kind` makes it, with
    `genuine`, a file signed by the product, at hand."""
    folder.mkdir(parents=True, exist_ok=True)
    if kind == "self-signed":
        forged = pki.sign(SELF_SIGNER, source, folder / "self_signed.bin")
    else:
        # Signed by another only to have the image's own digest computed.
        own_digest = pki.sign("other", source, folder / "own_digest.bin")
        forged = with_stale_signature(genuine, own_digest, folder / "forged.bin")
    peer = subprocess.run(["osslsigncode", "verify", "-CAfile", "ca.pem", "-in", str(forged)],
                          cwd=pki.folder, capture_output=True, text=True)
    assert peer.returncode != 0, peer.stdout
    return forged


def forged_package(build_dir, pki, genuine, folder, kind):
    """The package's files, its browser an attacker's program, as a full
    installer made `kind` beside `genuine` (the product's)."""
    listed = {**installation.FILES, "tarvo.exe": (build_dir / installation.LAUNCHER).read_bytes()}
    package = files.make_package(build_dir, folder / "package", files=listed, pki=pki)
    archive = files.pack(package, folder / "package.7z", level=1)
    unsigned = files.installer_file(build_dir, folder / "unsigned", None, archive)
    return forge(kind, pki, genuine, unsigned, folder / "forged").read_bytes()


def item(server, name, data, **fields):
    path = "/files/" + hashlib.sha256(name.encode()).hexdigest()
    return {"archive": 0, "filename": name, **fields, "location": server.add_file(path, data),
            "checksum": hashlib.sha256(data).hexdigest()}


def online(build_dir, machine, pki, server):
    return files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                  autoupdate_url=server.autoupdate_url)


@pytest.mark.parametrize("kind", list(FORGERIES))
def test_package_the_platform_passes_installs_nothing(build_dir, pki, packages, machine, server,
                                                      tmp_path, kind):
    package, archive = packages["current"]
    genuine = files.full_installer(build_dir, tmp_path / "genuine", pki, archive)
    server.offer(forged_package(build_dir, pki, genuine, tmp_path, kind))
    before = machine.registry()

    assert machine.run(online(build_dir, machine, pki, server)) == 1

    assert not machine.folder.exists()
    assert machine.registry() == before
    assert not machine.download_folder.exists()
    (report,) = server.reports()
    assert report["failure_reason"] == "Fetcher error"
    for fetch in report["fetches"]:
        assert fetch["result"] == "download_failed"
        assert fetch["failure_reason"] == REFUSED_PACKAGE
        assert FORGERIES[kind] in fetch["signature_check_error"].splitlines()
        assert "Cannot WinVerifyTrust" not in fetch["signature_check_error"]
    assert len(report["fetches"]) == 3


@pytest.mark.parametrize("kind", list(FORGERIES))
def test_partner_items_the_platform_passes_are_neither_placed_nor_run(
        build_dir, pki, packages, machine, server, tmp_path, logs, kind):
    # The package installs; its partner items come from the server beside it.
    server_package = files.full_installer(build_dir, tmp_path / "package", pki,
                                          packages["current"][1]).read_bytes()
    genuine_dll = pki.sign(files.GOOD_SIGNER, build_dir / PARTNER_DLL, tmp_path / "genuine.dll")
    # A self-extracting item is a program run to unpack itself: one that
    # ends with 0 stands in for it.
    genuine_sfx = pki.sign(files.GOOD_SIGNER, build_dir / installation.LAUNCHER,
                           tmp_path / "genuine_sfx.exe")
    forged_dll = forge(kind, pki, genuine_dll, build_dir / ATTACKER_DLL, tmp_path / "dll")
    forged_sfx = forge(kind, pki, genuine_sfx, build_dir / ATTACKER_EXE, tmp_path / "sfx")
    placed = {"genuine.dll": genuine_dll.read_bytes()}
    # The refused self-extracting item first: the genuine one takes its name.
    server.offer(server_package, components=[
        item(server, "partner.dll", forged_dll.read_bytes(), type="partner_content"),
        item(server, "genuine.dll", placed["genuine.dll"], type="partner_content"),
        item(server, "forged_sfx", forged_sfx.read_bytes(), type="suite", archive=1),
        item(server, "genuine_sfx", genuine_sfx.read_bytes(), type="suite", archive=1)])
    marker = Logs.marker()

    assert machine.run(online(build_dir, machine, pki, server), "--install-assistant",
                       marker) == 0

    assert installed_tree(machine.folder) == package_tree(
        packages["current"][0], VERSIONS["current"], extra=placed, online=True)
    log = logs.one(marker)[1]
    assert "Refusing unsigned executable additional file partner.dll" in log
    assert "Refusing self-extracting additional item suite: its signature does not hold" in log
    # Only the genuine one ran (and then lacked its component's installer).
    assert log.count(RAN_SFX) == 1
    (report,) = server.reports()
    items = report["fetches"][0]["addtional_files"]
    assert [entry["download_succeeded"] for entry in items] == [0, 1, 0, 0]
    for refused in (items[0], items[2]):
        assert FORGERIES[kind] in refused["signature_check_error"].splitlines()
    assert "signature_check_error" not in items[3]
    assert not machine.download_folder.exists()
