"""The installer's settings as a backend process rebuilds them: the folders
remembered in the registry (seeded with Wine's `reg`) and the statistics
they write (loaded with Python's json), read from
desktop/windows/installer/settings_probe.exe."""

import ipaddress
import json
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import wine, windows_path

PROBE = "desktop/windows/installer/settings_probe.exe"
COMPANY_KEY = "HKCU\\Software\\Tarvo Software"
# This build's stream is "developer".
STANDARD_VALUE = "Last developer Install Path"
LEGACY_X64_VALUE = "Last developer Install Path x64"
LEAF = "Tarvo developer"

# Non-ASCII arguments reach Wine programs through the Unix locale.
UTF8_ENV = {**os.environ, "LC_ALL": "C.UTF-8"}


def reg(build_dir, *args):
    return subprocess.run([str(build_dir / "wine-run"), "reg", *args],
                          capture_output=True, timeout=600, env=UTF8_ENV)


def probe(build_dir, *args, exe=None):
    """-> {name: value} of the probe's lines, "flag NAME" keys for flags."""
    program = exe or build_dir / PROBE
    result = subprocess.run([str(build_dir / "wine-run"), str(program), *args],
                            capture_output=True, timeout=600, env=UTF8_ENV)
    assert result.returncode == 0, result.stderr
    fields = {}
    for line in result.stdout.decode("utf-8").splitlines():
        words = line.split(" ", 2 if line.startswith("flag ") else 1)
        name = " ".join(words[:-1]) if len(words) > 1 else words[0]
        fields[name] = words[-1] if len(words) > 1 else ""
    return fields


@pytest.fixture
def install_path_values(build_dir):
    """set(name, data): writes a value under the company key; every value
    written is removed afterwards, and the key when this test made it."""
    key_existed = reg(build_dir, "query", COMPANY_KEY).returncode == 0
    written = []

    def set_value(name, data):
        result = reg(build_dir, "add", COMPANY_KEY, "/v", name, "/t", "REG_SZ", "/d", data, "/f")
        assert result.returncode == 0, result.stderr
        written.append(name)

    yield set_value
    for name in written:
        reg(build_dir, "delete", COMPANY_KEY, "/v", name, "/f")
    if not key_existed:
        reg(build_dir, "delete", COMPANY_KEY, "/f")


def test_folders_remembered_in_the_registry(build_dir, install_path_values, tmp_path):
    standard = tmp_path / "Tärvö folder 日本"
    legacy = tmp_path / "legacy x64 folder"
    standard.mkdir()
    legacy.mkdir()
    install_path_values(STANDARD_VALUE, windows_path(standard))
    install_path_values(LEGACY_X64_VALUE, windows_path(legacy))

    fields = probe(build_dir)
    assert fields["registry_folder_x86"] == windows_path(standard)
    assert fields["registry_folder_x64"] == windows_path(legacy)
    # Without a folder on the command line the remembered one is taken.
    assert fields["default_folder"] == windows_path(standard)
    assert fields["install_folder"] == windows_path(standard)
    assert probe(build_dir, "--probe-x64")["install_folder"] == windows_path(legacy)


@pytest.mark.parametrize("data", ["relative\\folder", "C:\\no such folder\\x", ""],
                         ids=["relative", "missing", "empty"])
def test_unusable_remembered_folder_is_ignored(build_dir, install_path_values, data):
    install_path_values(STANDARD_VALUE, data)
    fields = probe(build_dir, "--allusers=0")
    assert fields["registry_folder_x86"] == ""
    assert fields["default_folder"].endswith("\\Programs\\" + LEAF)


# The device namespace names devices and the system's objects, not folders,
# and so do the pipe and mailslot shares, this machine's own shares and a
# redirector's prefix reached as a share's path: such a folder is invalid on
# the command line and ignored when remembered, even one that leads to a
# folder that exists ({folder}, and every share's folder, which Wine keeps
# in the prefix). This machine's shares are refused by its own addresses as
# Wine lists them ({ipv4}, {ipv6}, the link-local {ipv6_link} with its
# scope), past the offline files' suffix and in full-width spellings. Only
# the long-path form of a drive's path and another machine's share name a
# folder.
FOLDER_NAMESPACES = [
    ("\\\\.\\{folder}", False), ("//./{folder}", False), ("\\\\.\\NUL\\x", False),
    ("\\\\.\\pipe\\x", False), ("\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", False),
    ("//./COM1/x", False), ("\\\\localhost\\pipe\\x", False), ("//127.0.0.1/MailSlot/x", False),
    ("\\\\?\\UNC\\.\\pipe\\x", False), ("\\\\127.0.0.1\\C$\\x", False),
    ("\\\\;LanmanRedirector\\localhost\\pipe\\x", False), ("\\\\?\\{folder}", True),
    ("\\\\127.0.0.1\\share\\x", False), ("\\\\{ipv4}\\share\\x", False),
    ("\\\\?\\UNC\\{ipv4}\\DavWWWRoot\\x", False), ("\\\\{ipv4_number}\\share\\x", False),
    ("\\\\{ipv4}$NOCSC$\\share\\x", False), ("\\\\{ipv6}\\share\\x", False),
    ("\\\\{ipv6_link}\\DavWWWRoot\\x", False), ("\\\\localhost$NOCSC$\\share\\x", False),
    ("\\\\ｌｏｃａｌｈｏｓｔ\\share\\x", False), ("\\\\１２７.０.０.１\\share\\x", False),
    ("\\\\fileserver\\share\\x", True),
]


@pytest.fixture(scope="module")
def own_addresses(build_dir):
    """{"ipv4", "ipv4_number", "ipv6", "ipv6_link"}: this machine's first
    addresses that are not loopback ones, as Wine's ipconfig lists them, the
    IPv6 ones as the names Windows reads them from; a kind Wine lists none
    of is missing."""
    listed = wine(build_dir, "ipconfig").stdout.decode(errors="replace")
    addresses = {}
    for family, text in re.findall(r"IPv([46]) address[ .]*: (\S+)", listed):
        address, _, scope = text.partition("%")
        parsed = ipaddress.ip_address(address)
        if parsed.is_loopback:
            continue
        if family == "4":
            addresses.setdefault("ipv4", address)
            addresses.setdefault("ipv4_number", str(int(parsed)))
            continue
        literal = parsed.compressed.replace(":", "-") + (f"s{scope}" if scope else "")
        kind = "ipv6_link" if parsed.is_link_local else "ipv6"
        addresses.setdefault(kind, literal + ".ipv6-literal.net")
    return addresses


@pytest.fixture
def shown_share(build_dir):
    """show(path): makes the folder a share's path names where Wine keeps
    shares once the prefix has a place for them ("dosdevices/unc/SERVER/
    SHARE"), so that only the check of the path refuses it; what it made
    goes afterwards."""
    shares = Path(os.environ.get("WINEPREFIX", build_dir / "wineprefix")) / "dosdevices" / "unc"
    made = []

    def make(folder):
        if not folder.exists():
            folder.mkdir()
            made.append(folder)

    def show(path):
        make(shares)
        unix = wine(build_dir, "winepath", "-u", path, env=UTF8_ENV).stdout.decode().strip()
        prefix, found, rest = unix.partition(f"{shares}/")
        parts = rest.split("/")
        if prefix or not found or any(part in ("", ".", "..") for part in parts):
            return
        folder = shares
        for part in parts:
            folder = folder / part
            make(folder)

    yield show
    for folder in reversed(made):
        folder.rmdir()


@pytest.mark.parametrize("path,valid", FOLDER_NAMESPACES, ids=[p for p, _ in FOLDER_NAMESPACES])
def test_folder_of_the_device_namespace_is_refused(build_dir, install_path_values, tmp_path,
                                                   own_addresses, shown_share, path, valid):
    try:
        folder = path.format(folder=windows_path(tmp_path), **own_addresses)
    except KeyError as missing:
        pytest.skip(f"Wine lists no address of this machine for {missing}")
    shown_share(folder)
    given = probe(build_dir, f"--installfolder={folder}", "--allusers=0")
    assert stats_of(given)["installation_operation"] == ("installing" if valid else "none")

    install_path_values(STANDARD_VALUE, folder)
    remembered = probe(build_dir, "--allusers=0")
    assert remembered["registry_folder_x86"] == (folder if valid else "")
    if valid:
        assert remembered["install_folder"] == folder
    else:
        assert remembered["default_folder"].endswith("\\Programs\\" + LEAF)


def write_install_log(folder, copy_only=False):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "installation_status.xml").write_text(
        '<?xml version="1.0"?>\n'
        f'<install_log version="45.0.2548.0" copy_only="{copy_only}" all_users="False" '
        'pinned="False" app_id="">\n'
        f' <path subfolder="45.0.2548.0">{windows_path(folder)}</path>\n'
        " <files>\n  <file>tarvo.exe</file>\n </files>\n"
        " <components>\n  <component>\n   <name>a</name>\n   <path>a</path>\n"
        "  </component>\n </components>\n"
        "</install_log>\n", encoding="utf-8")


def stats_of(fields):
    return json.loads(fields["stats"])["settings"]


def test_statistics_of_each_operation(build_dir, tmp_path):
    installed = tmp_path / "installed"
    write_install_log(installed)
    # An uninstalling backend works on the installation it runs from.
    uninstaller = installed / "settings_probe.exe"
    shutil.copy(build_dir / PROBE, uninstaller)
    (installed / "launcher.exe").write_bytes(b"")

    new_folder = windows_path(tmp_path / "new folder")
    runs = {
        "none": probe(build_dir, "--installfolder=Q:\\not mapped"),
        "installing": probe(build_dir, f"--installfolder={new_folder}", "--allusers=0",
                            "--probe-x64", "--setdefaultbrowser=1"),
        "upgrading": probe(build_dir, f"--installfolder={windows_path(installed)}",
                           "--autoupdate"),
        "uninstalling": probe(build_dir, "--uninstall", "--backend", exe=uninstaller),
        "registering_protocol_handler": probe(
            build_dir, f"--installfolder={windows_path(installed)}",
            "--register-tarvo-as-protocol-handler"),
    }
    for operation, fields in runs.items():
        stats = stats_of(fields)
        assert stats["installation_operation"] == operation, operation
        for key in ("autoupdate", "make_default", "using_default_installation_folder",
                    "using_privileged_installation_folder"):
            assert stats[key] in (0, 1), (operation, key)
        assert stats["build_arch"] in ("X86", "X64")
        assert stats["installation_mode"] in ("all_users", "current_user", "standalone")

    installing = stats_of(runs["installing"])
    assert installing["installation_mode"] == "current_user"
    assert installing["build_arch"] == "X64"
    assert installing["make_default"] == 1
    assert installing["autoupdate"] == 0
    # The Wine user is an administrator: no folder needs elevation.
    assert installing["using_privileged_installation_folder"] == 0
    assert "xml_status_parse_error" not in installing
    assert stats_of(runs["upgrading"])["autoupdate"] == 1
    assert stats_of(runs["upgrading"])["build_arch"] == "X86"


def test_statistics_of_a_standalone_default_folder(build_dir, tmp_path):
    stats = stats_of(probe(build_dir, "--copyonly=1"))
    assert stats["installation_mode"] == "standalone"
    # Wine answers no drive's media check: no standalone folder, so none
    # is chosen and nothing can be installed.
    assert stats["installation_operation"] == "none"

    stats = stats_of(probe(build_dir, "--allusers=0"))
    assert stats["using_default_installation_folder"] == 1



def test_statistics_carry_a_faulty_status_file(build_dir, tmp_path):
    folder = tmp_path / "broken"
    folder.mkdir()
    content = "<install_log version=\"1\"><path>unfinished"
    (folder / "installation_status.xml").write_text(content, encoding="utf-8")
    stats = stats_of(probe(build_dir, f"--installfolder={windows_path(folder)}"))
    assert stats["installation_operation"] == "installing"
    assert stats["xml_status_parse_error"].startswith("Tarvo Fennic status file, ")
    assert stats["xml_status_faulty_file"] == content

    empty = tmp_path / "empty"
    empty.mkdir()
    stats = stats_of(probe(build_dir, f"--installfolder={windows_path(empty)}"))
    assert stats["xml_status_parse_error"] == "The status file does not exist"
    assert "xml_status_faulty_file" not in stats
