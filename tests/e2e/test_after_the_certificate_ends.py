"""The shipped full installer at a clock past the end of the certificate
that signed it, as a release is installed years after it was signed: per
user and for all users, silently, in a Wine prefix of this file's own whose
clock alone is shifted (scripts/shifted-clock: its own copy of Wine's
files and its own wineserver, the build's test root trusted there).

A signature time-stamped by an authority the machine trusts is judged at
the stamp's time and holds; the same files signed again without a stamp,
with a stamp of an authority under a root the machine does not trust, or
with a token that vouches for another signature value are judged now, when
the certificate has ended. The re-signed files are installer.exe and the
library beside it; the package inside stays the build's, stamped."""

import calendar
import shutil
import subprocess
import time
from pathlib import Path

import pytest

import installer_files as files
from conftest import run_tool, windows_path
from test_silent_installation import HANG_GUARD, TREE_RUNNER, VERSIONS, exit_code_of
from timestamp_server import TimestampServer

SCRIPTS = Path(__file__).resolve().parents[2] / "scripts"
PREFIX_NAME = "certificate_ended"
# How far past the certificate's end the clock goes.
PAST_THE_END_DAYS = 30
VERSION = VERSIONS["current"]
SWITCHES = ["--silent", "--desktopshortcut=0", "--startmenushortcut=0",
            "--quicklaunchshortcut=0", "--pintotaskbar=0", "--launchtarvo=0",
            "--enable-installer-stats=0"]
UNINSTALL_KEY = f"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo {VERSION}"


def clock_offset(certificate):
    """The faketime offset that puts the clock PAST_THE_END_DAYS after the
    certificate's end."""
    said = subprocess.run(["openssl", "x509", "-in", str(certificate), "-noout", "-enddate"],
                          capture_output=True, text=True, check=True).stdout
    end = calendar.timegm(time.strptime(said.strip().split("=", 1)[1], "%b %d %H:%M:%S %Y GMT"))
    return f"+{(end - int(time.time())) // 86400 + PAST_THE_END_DAYS}d", end


class ShiftedMachine:
    """The prefix under the shifted clock, with a wineserver kept running
    for the module's runs."""

    def __init__(self, build_dir, offset):
        self.build_dir = build_dir
        self.offset = offset
        self.logs = None  # the installer's log folder there, once it runs

    def command(self, *command):
        return [str(SCRIPTS / "shifted-clock"), str(self.build_dir), PREFIX_NAME, self.offset,
                *map(str, command)]

    def wine(self, *args):
        return run_tool(self.command(self.build_dir / "wine-run", *args), capture_output=True,
                        timeout=HANG_GUARD)

    def run_tree(self, *args):
        """The command run to the end of its process tree: its exit code."""
        result = subprocess.run(self.command(self.build_dir / "wine-run",
                                             self.build_dir / TREE_RUNNER, *args),
                                capture_output=True, timeout=HANG_GUARD)
        return exit_code_of(result.stdout)

    def shown(self, *command):
        return self.wine("cmd", "/c", *command).stdout.decode(errors="replace").strip()

    def linux_path(self, path):
        return Path(self.wine("winepath", "-u", path).stdout.decode().strip())

    def uninstall_entries(self):
        """The roots that hold the product's uninstall entry, in either view."""
        return sorted({root for root in ("HKLM", "HKCU") for view in ("/reg:64", "/reg:32")
                       if self.wine("reg", "query", f"{root}\\{UNINSTALL_KEY}",
                                    view).returncode == 0})

    def remove_installation(self, folder):
        """What an installation left: uninstalled by its own installer, the
        rest removed."""
        installer = folder / VERSION / "installer.exe"
        if installer.exists():
            self.run_tree(windows_path(installer), "--uninstall", "--silent")
        shutil.rmtree(folder, ignore_errors=True)
        for root in ("HKLM", "HKCU"):
            for view in ("/reg:64", "/reg:32"):
                self.wine("reg", "delete", f"{root}\\{UNINSTALL_KEY}", "/f", view)


@pytest.fixture(scope="module")
def machine(build_dir):
    offset, end = clock_offset(build_dir / "installer_files/pki/good.pem")
    machine = ShiftedMachine(build_dir, offset)
    # Makes the prefix before its server starts.
    subprocess.run(machine.command("true"), check=True, timeout=HANG_GUARD)
    server = subprocess.Popen(machine.command("/usr/bin/wineserver", "-f", "-p"),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        # The prefix's services start with its first program and would
        # inherit its output: start them detached from every later run's.
        subprocess.run(machine.command(build_dir / "wine-run", "cmd", "/c", "exit 0"),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=HANG_GUARD)
        # The premise: Windows programs there see the clock past the end.
        year = time.gmtime(end + PAST_THE_END_DAYS * 86400).tm_year
        assert str(year) in machine.shown("echo %DATE%")
        machine.logs = machine.linux_path(machine.shown("echo %TEMP%")) / "Tarvo Installer"
        yield machine
    finally:
        subprocess.run(machine.command("/usr/bin/wineserver", "-k"), timeout=HANG_GUARD)
        server.wait(timeout=HANG_GUARD)


def resigned(build_dir, folder, **signing):
    """The shipped full installer and its library in `folder`, each signed
    again by the build's signer with `signing` (Pki.sign's options)."""
    folder.mkdir()
    keys = files.BuildKeys(build_dir)
    for name in files.INSTALLER_FILES:
        unsigned = folder / f"unsigned_{name}"
        subprocess.run(["osslsigncode", "remove-signature", "-in",
                        str(build_dir / "installer_files/full" / name), "-out", str(unsigned)],
                       check=True, capture_output=True)
        keys.sign(files.GOOD_SIGNER, unsigned, folder / name, **signing)
        unsigned.unlink()
    return folder / "installer.exe"


@pytest.fixture(scope="module")
def variants(build_dir, tmp_path_factory):
    """{name: installer.exe with its library beside it}"""
    folder = tmp_path_factory.mktemp("variants")
    keys_folder = files.BuildKeys(build_dir).folder
    made = {"shipped": folder / "shipped" / "installer.exe",
            "unstamped": resigned(build_dir, folder / "unstamped")}
    made["shipped"].parent.mkdir()
    for name in files.INSTALLER_FILES:
        shutil.copy(build_dir / "installer_files/full" / name, made["shipped"].parent)
    with TimestampServer(keys_folder, signer="rogue_tsa") as url:
        made["rogue_authority"] = resigned(build_dir, folder / "rogue_authority", timestamp=url)
    with TimestampServer(keys_folder, wrong_imprint=True) as url:
        made["other_imprint"] = resigned(build_dir, folder / "other_imprint", timestamp=url)
    return made


# What a refusal tells the user: the signature, not a change of the files.
EXPIRED = "The signature of the Tarvo package has expired and carries no valid time-stamp"

# variant, for all users, installed, why the chain was judged now (logged)
CASES = [
    ("shipped", False, True, None),
    ("shipped", True, True, None),
    # Per user the installer does not judge the chain of the program the
    # user chose to start, with the user's own rights: it proves the
    # package's files it hands over to, which the build stamped.
    ("unstamped", False, True, None),
    ("unstamped", True, False, "the signature carries no time-stamp"),
    ("rogue_authority", True, False,
     "time-stamp not used: its signer's chain is not trusted: chain status 0x20"),
    ("other_imprint", True, False, "time-stamp not used: it stamps another signature"),
]


@pytest.mark.parametrize("variant,all_users,installs,judged_now", CASES,
                         ids=[f"{c[0]}-{'all_users' if c[1] else 'per_user'}" for c in CASES])
def test_installation_after_the_signing_certificate_ended(
        machine, variants, tmp_path, variant, all_users, installs, judged_now):
    # For all users only an administrators' folder will do.
    windows_folder = ("C:\\Program Files\\Tarvo past the end" if all_users
                      else windows_path(tmp_path / "Tarvo"))
    folder = machine.linux_path(windows_folder)
    # The prefix outlives a run: what a run cut short left goes first.
    machine.remove_installation(folder)
    assert machine.uninstall_entries() == []
    before = set(machine.logs.glob("*.log"))
    try:
        code = machine.run_tree(windows_path(variants[variant]), *SWITCHES,
                                f"--allusers={int(all_users)}", f"--installfolder={windows_folder}")
        logged = "".join(path.read_text(errors="replace")
                         for path in sorted(set(machine.logs.glob("*.log")) - before))

        assert (code == 0) == installs, logged
        assert (folder / VERSION / "installer.exe").is_file() == installs
        assert machine.uninstall_entries() == (["HKLM" if all_users else "HKCU"]
                                               if installs else [])
        if judged_now:
            assert f"Chain judged now: {judged_now}" in logged, logged
        assert (EXPIRED in logged) == (not installs), logged
    finally:
        machine.remove_installation(folder)
