"""Interactive installations from real installer files: installer.exe
without --silent shows its window under the test display, and
window_driver_tool, a second process, works it as a user would. The package
comes from the installer's payload or, for an online installer, from the
tests' update server, which can hold the package's body back until the test
lets it go (so that a page of the download stays on screen). Every page is
kept as a screenshot in the build folder (screenshots/interactive_install)."""

import struct
import subprocess
import threading
import time

import pytest

import installer_files as files
from conftest import Logs, tree_runner_as, windows_path
from test_installer_window import (ACCEPT, BACK, FAILED_HEADING, FULL_PACKAGE, IDYES, OPTIONS, PAGES, PHASE,
                                   PROGRESS_BAR, Window, page_sequence)
from test_silent_installation import (HANG_GUARD, TREE_RUNNER, VERSIONS, downloads,  # noqa: F401
                                      installed_tree, machine, package_tree, packages, pki,
                                      server)
from test_installer_payload import make_installer
from test_held_installer_objects import HELD_STRING, HELD_TEXT, hold_interrupted_event
from update_server import FEEDBACK, PACKAGE
from http_test_server import SILENT_BEFORE_HEADERS, Resource
from wine_process import WineProcess

# The custom message box's buttons.
BOX_ACCEPT, BOX_CANCEL = 1036, 1037
SWITCHES = ["--allusers=0", "--desktopshortcut=0", "--startmenushortcut=0",
            "--quicklaunchshortcut=0", "--pintotaskbar=0", "--launchtarvo=0"]


class Installer(Window):
    """installer.exe run to the end of its process tree, its window found
    by its process id."""

    def __init__(self, build_dir, machine, screenshots, installer, *extra):
        arguments = [*SWITCHES, f"--installfolder={windows_path(machine.folder)}",
                     f"--temp-folder={windows_path(machine.temp)}", *extra]
        WineProcess.__init__(self, build_dir, TREE_RUNNER, machine.tmp_path / "installer.stderr",
                             *tree_runner_as(arguments), windows_path(installer), *arguments)
        self.build_dir = build_dir
        self.screenshots = screenshots
        first = self.read_line()
        assert first and first.startswith("pid "), first
        self.pid = first.split()[1]
        self.handle = None

    def find_window(self):
        found = subprocess.run([str(self.build_dir / "wine-run"),
                                str(self.build_dir / "desktop/windows/installer/window_driver_tool.exe"),
                                "find", self.pid], capture_output=True, timeout=HANG_GUARD)
        self.handle = found.stdout.decode().strip()
        return self

    def wait_for_page(self, page, without=()):
        """Polls until the page shows; only the hang guard ends the wait."""
        while True:
            state = self.state()
            if self.visible_main_controls(state) == PAGES[page] - set(without):
                return state

    def cancel(self):
        self.drive("close")
        self.drive("answer", IDYES)

    def exit_code(self):
        while True:
            line = self.read_line()
            assert line is not None
            if line.startswith("exit "):
                return int(line.split()[1])


@pytest.fixture
def screenshots(build_dir):
    folder = build_dir / "screenshots" / "interactive_install"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


@pytest.fixture
def start(build_dir, machine, screenshots):
    started = []

    def run(installer, *extra):
        installer = Installer(build_dir, machine, screenshots, installer, *extra)
        started.append(installer)
        return installer

    yield run
    for installer in started:
        installer.stop()


@pytest.fixture
def gate():
    """Holds the package's body back until set."""
    event = threading.Event()
    yield event
    event.set()


def wait_for_logged(logs, marker, line):
    """Polls the run's log until it holds the line; only the hang guard ends
    the wait."""
    while not any(line in text for text in logs.of(marker).values()):
        time.sleep(0.2)


def hold_package(server, package, gate):
    server.offer(package)
    server.http.add(PACKAGE, Resource(package, drop_at=lambda number, first: gate.wait(HANG_GUARD)
                                      and None))


def test_accept_installs_and_reports_the_page_path(build_dir, pki, packages, downloads, machine,
                                                   server, start, gate):
    hold_package(server, downloads["current"], gate)
    installer = start(files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                             autoupdate_url=server.autoupdate_url)).find_window()

    state = installer.wait_for_page("WELCOME")
    assert installer.text(state, ACCEPT) == "Accept and Install"
    installer.screenshot("01_welcome")
    installer.drive("click", OPTIONS)
    installer.wait_for_page("OPTIONS")
    installer.screenshot("02_options")
    installer.drive("click", BACK)
    installer.wait_for_page("WELCOME")
    # The package is on its way while the user decides.
    server.http.wait_for(lambda requests: any(r.path == PACKAGE for r in requests))
    installer.drive("click", ACCEPT)
    state = installer.wait_for_page("PROGRESS")
    assert installer.text(state, PHASE) == "Downloading…"
    # Starts past the location request (weight 1 of 1303).
    assert state["by_id"][PROGRESS_BAR]["range"] == [1, 1303]
    installer.screenshot("03_downloading")
    gate.set()

    assert installer.exit_code() == 0

    assert installed_tree(machine.folder) == package_tree(packages["current"][0],
                                                          VERSIONS["current"], online=True)
    assert not machine.download_folder.exists()
    (report,) = server.reports()
    assert report["installation_success"] == 1 and "failure_reason" not in report
    assert report["run_immediately"] == 0 and "installation_cancelled" not in report
    assert page_sequence(report) == [("WELCOME", "OPTIONS"), ("OPTIONS", "BACK"),
                                     ("WELCOME", "ACCEPT"), ("PROGRESS", None)]
    # The settings as the window first showed them.
    assert any(key.startswith("initial_") for key in report["ui"]), report["ui"]


def test_accept_after_the_background_fetch_gave_up_fetches_again(build_dir, pki, downloads,
                                                                  machine, server, start,
                                                                  logs):
    server.refuse_locations(404)
    marker = Logs.marker()
    installer = start(files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                             autoupdate_url=server.autoupdate_url),
                      marker).find_window()
    installer.wait_for_page("WELCOME")
    wait_for_logged(logs, marker, "we won't retry until user decides to")
    server.offer(downloads["current"])
    installer.drive("click", ACCEPT)

    assert installer.exit_code() == 0

    log = logs.one(marker)[1]
    assert log.count("Restarting fetching after background tries failed.") == 1
    (report,) = server.reports()
    assert report["installation_success"] == 1
    results = [fetch["result"] for fetch in report["fetches"]]
    assert results[:3] == ["download_failed"] * 3 and results[3:] == ["package_ready"], results


def test_backend_failure_shows_the_error_page(build_dir, pki, machine, server, start, tmp_path,
                                              logs):
    package = files.make_package(build_dir, tmp_path / "package", pki=pki)
    (package / "root.dat").unlink()
    archive = files.pack(package, tmp_path / "package.7z", level=1)
    marker = Logs.marker()
    installer = start(files.full_installer(build_dir, machine.tmp_path / "full", pki, archive,
                                           autoupdate_url=server.autoupdate_url),
                      marker).find_window()

    installer.wait_for_page("WELCOME")
    installer.drive("click", ACCEPT)
    # The full installer is offered only when an error comes again.
    state = installer.wait_for_page("ERROR", without={FULL_PACKAGE})
    assert installer.text(state, FAILED_HEADING) == "Tarvo failed to install"
    # The system's own words for the missing source follow the installer's.
    phase = installer.text(state, PHASE)
    copying = f"Error when copying file to {windows_path(machine.folder / 'root.dat')}. "
    assert phase.startswith(copying) and len(phase) > len(copying), phase
    installer.screenshot("04_error")
    installer.cancel()

    assert installer.exit_code() == 1
    # The front end's own log, the one a user opens, says what the window said.
    assert f'The run failed with error 37062: "{phase}"' in logs.one(marker)[1]

    assert not machine.folder.exists()
    assert not machine.download_folder.exists()
    (report,) = server.reports()
    assert report["installation_success"] == 0 and report["installation_cancelled"] == 1
    assert page_sequence(report) == [("WELCOME", "ACCEPT"), ("PROGRESS", None),
                                     ("ERROR", "CANCEL")]
    error_entry = report["ui"]["page_sequence"][2]
    assert error_entry["failure_reason"] == report["failure_reason"]


def test_cancel_during_the_download_leaves_nothing(build_dir, pki, downloads, machine, server,
                                                   start, gate, logs):
    hold_package(server, downloads["current"], gate)
    marker = Logs.marker()
    installer = start(files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                             autoupdate_url=server.autoupdate_url),
                      marker).find_window()
    installer.wait_for_page("WELCOME")
    server.http.wait_for(lambda requests: any(r.path == PACKAGE for r in requests))
    installer.drive("click", ACCEPT)
    installer.wait_for_page("PROGRESS")
    installer.cancel()
    # Under Wine closing the held request waits for its answer to move on.
    gate.set()

    assert installer.exit_code() == 1

    assert not machine.folder.exists()
    # The package folder and the partial download go with the fetcher.
    assert not machine.download_folder.exists()
    (report,) = server.reports()
    assert report["installation_cancelled"] == 1 and report["installation_success"] == 0
    log = logs.one(marker)[1]
    assert "Controller exiting" in log


# The front end's own bound on the report's wait after a quit
# (kReportWaitAfterQuit), as its log states it.
REPORT_WAIT_AFTER_QUIT = "The report was not sent within 5000 ms of the quit; not waiting for it"


def test_quit_while_the_server_is_silent_ends_the_process(build_dir, pki, downloads, machine,
                                                          server, start, logs):
    # The package and the report both meet a server that accepts and never
    # answers: neither the download's retries nor the report may keep the
    # process once the user has quit.
    server.offer(downloads["current"])
    silent = Resource(b"", silent_at=lambda number, first: SILENT_BEFORE_HEADERS)
    server.http.add(PACKAGE, silent)
    server.http.add(FEEDBACK, silent)
    marker = Logs.marker()
    installer = start(files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                             autoupdate_url=server.autoupdate_url),
                      marker).find_window()
    installer.wait_for_page("WELCOME")
    server.http.wait_for(lambda requests: any(r.path == PACKAGE for r in requests))
    installer.drive("click", ACCEPT)
    installer.wait_for_page("PROGRESS")
    installer.cancel()

    # How fast it ends is the machine's; that only the report's bound held
    # it is the log's.
    installer.process.wait(timeout=HANG_GUARD)
    log = logs.one(marker)[1]
    quit_at = log.index("The run was cancelled by the user")
    assert log.index(REPORT_WAIT_AFTER_QUIT) > quit_at
    assert log.index("Controller exiting") > log.index(REPORT_WAIT_AFTER_QUIT)


def test_second_front_end_on_the_folder_is_refused(build_dir, pki, packages, machine, server,
                                                    start, logs):
    installer_file = files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                          packages["current"][1],
                                          autoupdate_url=server.autoupdate_url)
    first = start(installer_file).find_window()
    first.wait_for_page("WELCOME")
    marker = Logs.marker()

    second = start(installer_file, marker)

    assert second.exit_code() == 1
    log = logs.one(marker)[1]
    assert "Didn't obtain installer UI lock" in log
    assert "Another instance of the installer UI is running. Switching to it" in log
    # The first one goes on as if nothing happened.
    first.wait_for_page("WELCOME")
    first.cancel()
    assert first.exit_code() == 1
    assert not machine.download_folder.exists()


def test_event_made_first_by_another_process_shows_the_error_page(build_dir, pki, packages,
                                                                  machine, server, start,
                                                                  logs):
    holder, name = hold_interrupted_event(build_dir, machine.tmp_path, machine.folder)
    marker = Logs.marker()
    installer = start(files.full_installer(build_dir, machine.tmp_path / "full", pki,
                                           packages["current"][1],
                                           autoupdate_url=server.autoupdate_url),
                      marker).find_window()
    try:
        installer.wait_for_page("WELCOME")
        installer.drive("click", ACCEPT)
        state = installer.wait_for_page("ERROR", without={FULL_PACKAGE})
        phase = installer.text(state, PHASE)
        assert phase.startswith(HELD_TEXT.format(name)), phase
        installer.screenshot("05_held_event")
        installer.cancel()

        assert installer.exit_code() == 1
    finally:
        holder.stop()
    assert f'The run failed with error {HELD_STRING}: "{phase}"' in logs.one(marker)[1]
    assert not machine.folder.exists()


def corrupted_installer(build_dir, pki, folder):
    installer_file = make_installer(build_dir, folder, pki, inside=b"{}")
    # Cut before its certificate table, which then starts past its end.
    image = installer_file.read_bytes()
    (pe,) = struct.unpack_from("<I", image, 0x3C)
    (table,) = struct.unpack_from("<I", image, pe + 168)
    installer_file.write_bytes(image[:table - 8])
    return installer_file


def test_corrupted_installer_offers_to_download_it_again(build_dir, pki, machine, start, logs,
                                                         tmp_path):
    installer_file = corrupted_installer(build_dir, pki, tmp_path / "corrupted")
    marker = Logs.marker()
    installer = start(installer_file, marker).find_window()

    state = installer.state()
    assert installer.text(state, BOX_ACCEPT) == "Go!"
    installer.screenshot("corrupted_installer")
    installer.drive("click", BOX_CANCEL)

    assert installer.exit_code() == 1
    log = logs.one(marker)[1]
    assert "Corrupted installer box answered 2" in log
    assert "Opening the product's web site" not in log


def test_corrupted_installer_that_may_run_elevated_opens_no_page(build_dir, pki, machine, start,
                                                                 logs, tmp_path):
    # The page would open through the user's own http handler, which would
    # then run elevated; an all-users run stands for an elevated one here.
    installer_file = corrupted_installer(build_dir, pki, tmp_path / "corrupted")
    marker = Logs.marker()
    installer = start(installer_file, marker, "--allusers=1").find_window()

    installer.drive("click", BOX_ACCEPT)

    assert installer.exit_code() == 1
    log = logs.one(marker)[1]
    assert "Corrupted installer box answered" in log
    assert "Opening the product's web site" not in log
    assert "An installer that may run elevated opens no page" in log