"""The shipped installer files, run silently, against another process of the
session that made one of the front end's named objects first: the mailslot
through which the backend reports (the peer reads what lands in it), or the
event that interrupts the installation, left signalled. The run is refused at
once with a message that names the object, and nothing is installed. The
peers are the test tools that make these objects as the installer does."""

import pytest

import installer_files as files
from conftest import Logs, windows_path
from test_silent_installation import Machine, packages, pki  # noqa: F401
from update_server import UpdateServer
from wine_process import WineProcess

IPC_TOOL = "desktop/windows/installer/installer_ipc_tool.exe"
RUNNER_TOOL = "desktop/windows/installer/installer_runner_tool.exe"
HELD_STRING = 37079
HELD_TEXT = "Another program holds {}, which the Tarvo installer needs for this folder."


@pytest.fixture
def server():
    with UpdateServer() as running:
        yield running


@pytest.fixture
def machine(build_dir, tmp_path, monkeypatch):
    return Machine(build_dir, tmp_path, monkeypatch)


@pytest.fixture
def peers(tmp_path):
    started = []
    yield started
    for peer in started:
        peer.stop()


def object_folder(folder):
    """The folder as every installer process spells it in object names."""
    return windows_path(folder).upper()


def hold_mailslot(build_dir, tmp_path, folder):
    """A foreign receiver on the folder's channel: it would read the
    backend's reports."""
    peer = WineProcess(build_dir, IPC_TOOL, tmp_path / "mailslot_peer.log", "receive",
                       object_folder(folder), "1")
    assert peer.read_line() == "ready"
    return peer, "\\\\.\\mailslot\\tarvo_installer\\" + object_folder(folder)


def hold_interrupted_event(build_dir, tmp_path, folder):
    """The interruption event, made first and signalled."""
    name = "Global\\TarvoInstaller/InstallationInterrupted/" + \
        object_folder(folder).replace("\\", "/")
    peer = WineProcess(build_dir, RUNNER_TOOL, tmp_path / "event_peer.log",
                       f"--hold-event={name}")
    assert peer.read_line() == "holding"
    return peer, name


HOLDERS = {
    "mailslot": (hold_mailslot, "Installer mailslot made by another process"),
    "interrupted-event": (hold_interrupted_event,
                          "Installation interruption event made by another process"),
}


@pytest.mark.parametrize("held", list(HOLDERS))
def test_object_made_first_by_another_process_refuses_the_run(build_dir, pki, packages,  # noqa: F811
                                                              machine, server, peers, logs,
                                                              held):
    hold, diagnostic = HOLDERS[held]
    peer, name = hold(build_dir, machine.tmp_path, machine.folder)
    peers.append(peer)
    installer = files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                     packages["current"][1],
                                     autoupdate_url=server.autoupdate_url)
    marker = Logs.marker()

    # Before: the foreign mailslot took the reports and the run waited for
    # ever; the signalled event stopped the installation.
    assert machine.run(installer, marker) == 1

    assert not machine.folder.exists()
    log = logs.one(marker)[1]
    assert f'The run failed with error {HELD_STRING}: "{HELD_TEXT.format(name)}' in log, log
    assert "launching installer backend" not in log
    (report,) = server.reports()
    assert report["installation_success"] == 0
    assert report["failure_reason"] == diagnostic
    # No backend reported to the peer.
    assert peer.lines.empty()
