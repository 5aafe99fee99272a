"""The online installer, signed by the build's publisher certificate,
against the tests' update server offering the next release signed by
another certificate of the publisher's name: renewed (a new key, the same
test root), that release installs, per user and for every user; from
another root that this machine trusts too, it is refused as another
publisher's, and nothing is installed. The next release's package, its
installer.exe and its library are all signed by that certificate, as a
release signed after the renewal is."""

import hashlib
import ssl
import struct

import pytest

import installer_files as files
from conftest import Logs, wine
from test_older_packages_and_forged_reports import machine_uninstall_entries  # noqa: F401
from test_silent_installation import (VERSIONS, installed_tree, machine,  # noqa: F401
                                      package_tree, pki, server)

ROOT_STORE = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates"
OTHER_PUBLISHER = 37092
OTHER_PUBLISHER_TEXT = ("The Tarvo package is not signed by the publisher of Tarvo, so it was "
                        "not installed. Please download Tarvo again.")
REFUSED_BY_ROOT = "it is not signed by the publisher (no signer of the expected name"
ATTEMPTS = 3

# signer of the next release, scope, installed
CASES = {
    "renewed-peruser": ("renewed", "--allusers=0", True),
    "renewed-allusers": ("renewed", "--allusers=1", True),
    # Refused by the front end, before the scope plays a part.
    "rogue-allusers": ("rogue", "--allusers=1", False),
}


@pytest.fixture(scope="module")
def next_release(build_dir, pki, tmp_path_factory):
    """{signer: (package folder, the package file the server offers)}"""
    made = {}
    for signer in {signer for signer, _, _ in CASES.values()}:
        folder = tmp_path_factory.mktemp(f"next_{signer}")
        package = files.make_package(build_dir, folder / "package", "next", pki=pki,
                                     signer=signer)
        archive = files.pack(package, folder / "package.7z", level=1)
        download = files.full_installer(build_dir, folder / "download", pki, archive,
                                        library="next", signer=signer)
        made[signer] = (package, download.read_bytes())
    return made


@pytest.fixture
def trusted_rogue_root(build_dir, pki):
    """The rogue CA, which names itself as the test root does, trusted by the
    machine as scripts/trust-test-root trusts the test root: its signature
    is then refused for its root, not for trust."""
    der = ssl.PEM_cert_to_DER_cert((pki.folder / "rogue_ca.pem").read_text())
    key = f"{ROOT_STORE}\\{hashlib.sha1(der).hexdigest().upper()}"
    blob = struct.pack("<III", 32, 1, len(der)) + der
    wine(build_dir, "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(),
         "/f", check=True)
    yield
    wine(build_dir, "reg", "delete", key, "/f", check=True)


@pytest.mark.parametrize("case", list(CASES))
def test_next_release_is_judged_by_its_publisher_root(
        build_dir, pki, next_release, machine, server, logs, machine_uninstall_entries,  # noqa: F811
        request, case):
    signer, scope, installed = CASES[case]
    if signer == "rogue":
        request.getfixturevalue("trusted_rogue_root")
    package, download = next_release[signer]
    server.offer(download)
    installer = files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                       autoupdate_url=server.autoupdate_url)
    marker = Logs.marker()

    code = machine.run(installer, scope, marker)

    log = logs.one(marker)[1]
    (report,) = server.reports()
    if installed:
        assert code == 0, log[-3000:]
        assert installed_tree(machine.folder) == package_tree(package, VERSIONS["next"],
                                                              online=True)
        assert report["installation_success"] == 1
        return
    assert code == 1
    assert not machine.folder.exists()
    assert REFUSED_BY_ROOT in log, log[-3000:]
    assert f'The run failed with error {OTHER_PUBLISHER}: "{OTHER_PUBLISHER_TEXT}"' in log
    assert report["installation_success"] == 0
    fetches = report["fetches"]
    assert [fetch["failure_reason"] for fetch in fetches] == \
        ["Signature incorrect for the downloaded package"] * ATTEMPTS
    assert all("Certificate chain does not end in a root of the publisher"
               in fetch["signature_check_error"] for fetch in fetches)
