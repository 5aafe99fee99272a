"""The installer library as a host sees it: its exports, its imports, and the
one handle verifier it shares with a host that exports its own."""

import re
import subprocess

import pytest

from test_build import SYSTEM_DLL

LIBRARY = "desktop/windows/installer/tarvo_installer.dll"
HOST = "desktop/windows/installer/verifier_host.exe"
PLAIN_HOST = "desktop/windows/installer/verifier_plain_host.exe"
EXPECTED_EXPORTS = ["GetHandleVerifier", "RunInstaller"]
# The verifier's fatal trap is an illegal instruction; the host's exception
# filter exits with its code, of which Wine passes on the low byte.
FATAL_TRAP = 0xC000001D & 0xFF


def objdump(build_dir, relative):
    return subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(build_dir / relative)],
                          capture_output=True, text=True, check=True).stdout


def exported_names(dump):
    table = dump.split("[Ordinal/Name Pointer] Table", 1)[1]
    return sorted(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", table, re.MULTILINE))


def test_library_exports_exactly_the_entry_points(build_dir):
    assert exported_names(objdump(build_dir, LIBRARY)) == sorted(EXPECTED_EXPORTS)


def test_library_is_named_without_prefix_and_needs_only_system_dlls(build_dir):
    dump = objdump(build_dir, LIBRARY)
    assert re.search(r"^Name\s+[0-9a-f]+\s+tarvo_installer\.dll$", dump, re.MULTILINE)
    imports = re.findall(r"DLL Name: (\S+)", dump)
    assert imports
    assert [name for name in imports if not SYSTEM_DLL.match(name)] == []


def report(run_exe, host):
    result = run_exe(host, "report")
    assert result.returncode == 0, result
    return dict(line.split("=", 1) for line in result.stdout.decode().split())


def test_library_uses_the_host_verifier_when_the_host_exports_one(run_exe):
    assert report(run_exe, HOST) == {
        "same": "1", "host_verifier_module": "host", "library_verifier_module": "host"}


def test_library_makes_its_own_verifier_when_the_host_has_none(run_exe):
    assert report(run_exe, PLAIN_HOST) == {
        "same": "0", "host_verifier_module": "host", "library_verifier_module": "library"}


# Only a host that exports its verifier has an active one; the plain host's
# verifier closes handles and stops only when a close fails.
@pytest.mark.parametrize("scenario, host_result, plain_host_result", [
    ("track-across-modules", FATAL_TRAP, 0),
    ("track-twice", FATAL_TRAP, 0),
    ("close-foreign", FATAL_TRAP, 0),
    ("close-twice", FATAL_TRAP, FATAL_TRAP),
])
def test_misuse_stops_the_process(run_exe, scenario, host_result, plain_host_result):
    assert run_exe(HOST, scenario).returncode == host_result
    assert run_exe(PLAIN_HOST, scenario).returncode == plain_host_result


def test_active_verifier_accepts_every_ownership_change(run_exe):
    result = run_exe(HOST, "orderly-life")
    assert (result.returncode, result.stdout.split()) == (0, [b"closed=1"])
