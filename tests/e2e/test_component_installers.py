"""Component installers that --components names ("name:subfolder"), found
beside the package's folder and run by the backend: a signed full installer
run silently, each component a signed program that records its start beside
itself. A run for one user runs the one it finds below the package folder's
parent; a subfolder or name that leads elsewhere is refused; a run for all
users (which stands for an elevated one under Wine) runs none, not even one
signed as the product: its package folder's parent is the system's
temporary folder, where every user may make folders."""

import subprocess
import uuid
from pathlib import Path

import pytest

import installer_files as files
import test_installation as installation
from conftest import windows_path
from test_silent_installation import (HANG_GUARD, exit_code_of, machine, packages,  # noqa: F401
                                      pki)
from test_user_starts import SYSTEM_TEMP, linux_path

NAME = "extra"
RECORD = "launcher_started.txt"
NOT_INSTALLED = "Components are not installed by a run that may be elevated"
REFUSED = "Refusing component"

# The run's scope, where the component lies ("package-parent": the parent
# of a run's package folder for one user, that run's download folder), the
# --components value, and whether the component runs.
CASES = {
    "one-user": ("--allusers=0", "package-parent", f"{NAME}:{{tag}}", True),
    "one-user-dots": ("--allusers=0", "user-temp", f"{NAME}:..\\{{tag}}", False),
    "one-user-absolute": ("--allusers=0", "user-temp", f"{NAME}:{{folder}}", False),
    "one-user-name-with-dots": ("--allusers=0", "user-temp", f"..\\{{tag}}\\{NAME}", False),
    "all-users": ("--allusers=1", "system-temp", f"{NAME}:{{tag}}", False),
}


def logs_since(folder, before):
    """The text of the installer logs in `folder` not among `before`."""
    return "".join(path.read_text(errors="replace") for path in sorted(folder.glob("*.log"))
                   if path not in before)


@pytest.mark.parametrize("case", list(CASES))
def test_component_installers_run_only_from_below_a_users_own_package(
        build_dir, pki, packages, machine, tmp_path, log_folder, case):
    scope, place, value, runs = CASES[case]
    tag = f"component {uuid.uuid4().hex[:8]}"
    folder = {"package-parent": machine.download_folder / tag,
              "user-temp": machine.temp / tag,
              "system-temp": linux_path(build_dir, SYSTEM_TEMP) / tag}[place]
    folder.mkdir(parents=True)
    component = pki.sign(files.GOOD_SIGNER, build_dir / installation.LAUNCHER,
                         folder / f"{NAME}_installer.exe")
    installer = files.full_installer(build_dir, tmp_path / "full", pki, packages["current"][1])
    # A run for all users is an administrator's, one for this user a
    # standard user's (machine.command starts it so).
    command = [part for part in machine.command(installer, scope)
               if part not in ("--allusers=0", scope)] + [scope]
    command += ["--enable-installer-stats=0",
                "--components=" + value.format(tag=tag, folder=windows_path(folder))]
    # The backend's log, where the components are judged, is a file of its
    # own that the front end's switches do not name.
    logs = Path(log_folder)
    before = set(logs.glob("*.log"))
    try:
        result = subprocess.run(command, capture_output=True, timeout=HANG_GUARD)

        assert exit_code_of(result.stdout) == 0
        record = folder / RECORD
        assert record.exists() == runs
        logged = logs_since(logs, before)
        if runs:
            target = windows_path(machine.folder / NAME)
            assert f'--installfolder="{target}"' in record.read_text()
        else:
            assert (NOT_INSTALLED if scope == "--allusers=1" else REFUSED) in logged
    finally:
        for path in (component, folder / RECORD):
            path.unlink(missing_ok=True)
        folder.rmdir()
