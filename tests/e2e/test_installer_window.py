"""The installer window as a user meets it: installer_window_tool shows the
real window (the host's dialogs, images and strings) with a stand-in for the
interactive controller, and window_driver_tool, a second process, reads its
controls and presses its buttons as a user would. Every page is kept as a
screenshot in the build folder (screenshots/installer_window), cut from the
display of this test group alone (scripts/e2e-group), where no other test's
window can cover it."""

import json
import shutil
import subprocess
import time
import uuid
from pathlib import Path

import pytest

from conftest import windows_path
from wine_process import HANG_GUARD, WineProcess

TOOL = "desktop/windows/installer/installer_window_tool.exe"
DRIVER = "desktop/windows/installer/window_driver_tool.exe"
HOST = Path(__file__).resolve().parents[2] / "desktop" / "windows" / "host"

# Controls of the main dialog and the options page.
LOGO, OPTIONS, CANCEL, ACCEPT, FULL_PACKAGE, TRY_AGAIN, UNINSTALL = range(1000, 1007)
TITLE, AGREEMENT, PROGRESS_HEADING, FAILED_HEADING, PHASE, TERMS, BACK = range(1007, 1014)
LANGUAGES, MODES, FOLDERS = 1014, 1015, 1016
MAIN_FOLDERS, MAIN_BROWSE, RED_TEXT = 1017, 1019, 1028
PROGRESS_BAR, QUESTION, DELETE_DATA, UNINSTALL_FAILED = 1025, 1029, 1030, 1038
IDYES, IDNO, IDOK = 6, 7, 1

# What each page shows of the main dialog (the options page is a dialog of
# its own, shown on OPTIONS only).
PAGES = {
    "WELCOME": {LOGO, TITLE, AGREEMENT, OPTIONS, ACCEPT, MAIN_FOLDERS, MAIN_BROWSE},
    "OPTIONS": {BACK, ACCEPT},
    "TOS": {TERMS, BACK, ACCEPT},
    "PROGRESS": {LOGO, PROGRESS_HEADING, PROGRESS_BAR, PHASE},
    "ERROR": {LOGO, BACK, PHASE, FAILED_HEADING, TRY_AGAIN, FULL_PACKAGE},
    "UNINSTALL": {LOGO, QUESTION, DELETE_DATA, UNINSTALL, CANCEL},
}
# The red notice shows on the welcome page only while the folder cannot be
# used.
MAIN_CONTROLS = set().union(*PAGES.values()) | {UNINSTALL_FAILED, RED_TEXT}
# The folder browser's OK button.
BROWSER_OK = IDOK
# Fewer colours than this make a blank frame (a bare background or an
# unpainted window), not a page: a blank frame has one to three, the
# plainest page and box (the options page, the corrupted installer's box)
# 34 with their anti-aliased text.
BLANK_FRAME_COLOURS = 16


class Window(WineProcess):
    """One installer_window_tool and the driver that works its window."""

    # The pixels of the last screenshot, which the next page's must not
    # repeat.
    last_picture = None

    def __init__(self, build_dir, tmp_path, screenshots, *switches):
        super().__init__(build_dir, TOOL, tmp_path / "window_tool.stderr", *switches)
        self.build_dir = build_dir
        self.screenshots = screenshots
        first = self.read_line()
        assert first and first.startswith("window "), first
        self.handle = first.split()[1]

    def expect(self, line):
        got = self.read_line()
        assert got == line, got

    def command(self, line):
        self.say(line)
        self.expect("done " + line)

    def drive(self, *args, check=True):
        result = subprocess.run(
            [str(self.build_dir / "wine-run"), str(self.build_dir / DRIVER), args[0],
             self.handle, *map(str, args[1:])],
            capture_output=True, timeout=HANG_GUARD)
        if check:
            assert result.returncode == 0, result.stdout
        return result

    def state(self):
        state = json.loads(self.drive("state").stdout)
        state["by_id"] = {control["id"]: control for control in state["controls"]}
        return state

    def visible_main_controls(self, state):
        return {c["id"] for c in state["controls"] if c["visible"] and c["id"] in MAIN_CONTROLS}

    def options_page_visible(self, state):
        return any(c["class"] == "#32770" and c["visible"] for c in state["controls"])

    def text(self, state, control):
        return state["by_id"][control]["text"]

    def wait_for_state(self, condition):
        """Polls until the window's state meets the condition; only the hang
        guard ends the wait."""
        deadline = time.monotonic() + HANG_GUARD
        while time.monotonic() < deadline:
            state = self.state()
            if condition(state):
                return state
        pytest.fail("the window never reached the awaited state")

    def screenshot(self, name):
        """The window as the display shows it, cut from the whole screen.
        Each is taken on a new page: a picture that is the whole window,
        not a blank frame and not the last page's picture again."""
        self.drive("redraw")
        x, y, width, height = self.state()["rect"]
        path = self.screenshots / f"{name}.png"
        subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                        "+repage", str(path)], check=True, timeout=HANG_GUARD)
        size, colours = picture_size_and_colours(path)
        assert size == (width, height), f"{name}: {size}, window {width}x{height}"
        assert colours >= BLANK_FRAME_COLOURS, f"{name}: a blank frame ({colours} colours)"
        picture = picture_pixels(path)
        assert picture != self.last_picture, f"{name}: the same picture as the last page's"
        self.last_picture = picture

    def finish(self):
        """The statistics and settings printed at the end of the run."""
        lines = {}
        for _ in range(2):
            line = self.read_line()
            assert line is not None
            key, _, value = line.partition(" ")
            lines[key] = value
        self.process.stdin.close()
        assert self.wait() == 0
        return json.loads(lines["stats"]), lines["settings"]


def picture_size_and_colours(path):
    """(width, height) and the number of distinct colours of a picture."""
    said = subprocess.run(["identify", "-format", "%w %h %k", str(path)], check=True,
                          capture_output=True, timeout=HANG_GUARD).stdout.split()
    width, height, colours = map(int, said)
    return (width, height), colours


def picture_pixels(path):
    return subprocess.run(["convert", str(path), "-depth", "8", "rgb:-"], check=True,
                          capture_output=True, timeout=HANG_GUARD).stdout


@pytest.fixture
def screenshots(build_dir):
    folder = build_dir / "screenshots" / "installer_window"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


@pytest.fixture
def own_folder(build_dir):
    """Folders of this test alone, in the build folder, where the folder
    browser reaches them."""
    folder = build_dir / "test_folders" / f"window-{uuid.uuid4().hex[:12]}"
    folder.mkdir(parents=True)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def open_window(build_dir, tmp_path, screenshots):
    windows = []

    def start(*switches):
        window = Window(build_dir, tmp_path, screenshots, *switches)
        windows.append(window)
        return window

    yield start
    for window in windows:
        window.stop()


def page_sequence(stats):
    return [(entry["page_type"], entry.get("navigation_action"))
            for entry in stats["ui"]["page_sequence"]]


def assert_page(window, page):
    state = window.state()
    assert window.visible_main_controls(state) == PAGES[page]
    assert window.options_page_visible(state) == (page == "OPTIONS")
    return state


def test_every_page_of_an_installation(open_window, tmp_path):
    folder = windows_path(tmp_path / "Tarvo")
    window = open_window(f"--installfolder={folder}")

    state = assert_page(window, "WELCOME")
    assert state["title"] == "Tarvo Installer"
    assert window.text(state, ACCEPT) == "Accept and Install"
    assert window.text(state, TITLE) == "TARVO. DO MORE."
    assert window.text(state, MAIN_FOLDERS) == folder
    window.screenshot("01_welcome")

    window.drive("click", OPTIONS)
    state = assert_page(window, "OPTIONS")
    languages = state["by_id"][LANGUAGES]
    assert languages["items"] == [
        "English (United States)", "Deutsch", "Français", "Norsk bokmål",
        "Português (Portugal)", "Español (Latinoamérica)", "中文 (繁體)"]
    assert languages["selected"] == 0
    modes = state["by_id"][MODES]["items"]
    assert modes[0] == "All users on this computer"
    assert modes[1].startswith("Current user (")
    assert modes[2] == "Stand-alone installation (USB)"
    assert window.text(state, FOLDERS) == folder
    window.screenshot("02_options")

    window.drive("select", LANGUAGES, 1)
    state = assert_page(window, "OPTIONS")
    assert state["title"] == "Tarvo-Installationsprogramm"
    assert window.text(state, ACCEPT) == "Akzeptieren und installieren"
    assert window.text(state, BACK) == "&Zurück"
    assert state["by_id"][LANGUAGES]["selected"] == 1
    window.screenshot("03_options_in_german")

    window.drive("click", BACK)
    assert_page(window, "WELCOME")
    # Wine's Rich Edit drops the agreement's link, so the terms page is
    # asked for directly.
    window.command("page TOS")
    state = assert_page(window, "TOS")
    terms = (HOST / "terms_of_service.txt").read_text(encoding="utf-8")
    assert window.text(state, TERMS) == terms.replace("\n", "\r\n")
    window.screenshot("04_terms")

    window.drive("click", ACCEPT)
    window.expect("OnAccept")
    state = assert_page(window, "PROGRESS")
    assert state["by_id"][PROGRESS_BAR]["range"] == [0, 100]
    assert window.text(state, PHASE) == "Wird heruntergeladen…"
    window.command("progress 40")
    window.command("phase 2")
    state = window.state()
    assert state["by_id"][PROGRESS_BAR]["position"] == 40
    assert window.text(state, PHASE) == "Wird entpackt…"
    window.screenshot("05_progress")

    window.command("error 1 Das Paket ist beschädigt.")
    state = assert_page(window, "ERROR")
    assert window.text(state, FAILED_HEADING) == "Tarvo konnte nicht installiert werden"
    assert window.text(state, PHASE) == "Das Paket ist beschädigt."
    window.screenshot("06_error")

    # The frame's close button asks first; "No" keeps the window.
    window.drive("close")
    box = json.loads(window.drive("message-box").stdout)
    assert box["title"] == "Tarvo-Installationsprogramm"
    assert "Die Installation von Tarvo ist noch nicht abgeschlossen." in box["texts"][-1]
    assert {b["id"]: b["text"] for b in box["buttons"]} == {IDYES: "&Ja", IDNO: "&Nein"}
    window.screenshot("07_confirm_cancel")
    window.drive("answer", IDNO)
    assert_page(window, "ERROR")
    window.drive("close")
    window.drive("answer", IDYES)
    window.expect("OnCancel")

    stats, settings = window.finish()
    assert page_sequence(stats) == [
        ("WELCOME", "OPTIONS"), ("OPTIONS", "BACK"), ("WELCOME", None), ("TOS", "ACCEPT"),
        ("PROGRESS", None), ("ERROR", "CANCEL")]
    entries = stats["ui"]["page_sequence"]
    assert entries[1]["changed_language"] == 1
    assert entries[5]["failure_reason"] == "Injected failure"
    assert set(entries[0]["navigation_time"]) == {"time", "elapsed"}
    assert settings.split()[0] == "de"


def test_uninstallation_pages(open_window):
    window = open_window("--uninstall")
    state = assert_page(window, "UNINSTALL")
    assert window.text(state, QUESTION).startswith("You are about to uninstall Tarvo")
    assert window.text(state, UNINSTALL) == "&Uninstall"
    window.screenshot("08_uninstall")

    window.drive("click", DELETE_DATA)
    window.drive("click", UNINSTALL)
    window.expect("OnAccept")
    window.command("phase 5")
    state = window.state()
    # No "thank you" heading while uninstalling.
    assert window.visible_main_controls(state) == PAGES["PROGRESS"] - {PROGRESS_HEADING}
    assert window.text(state, PHASE) == "Uninstalling…"
    window.screenshot("09_uninstalling")

    window.command("error 1 Tarvo is still running.")
    state = window.state()
    assert window.visible_main_controls(state) == {
        LOGO, PHASE, UNINSTALL_FAILED, TRY_AGAIN, FULL_PACKAGE}
    assert window.text(state, UNINSTALL_FAILED) == "Tarvo failed to uninstall"
    window.drive("click", FULL_PACKAGE)
    window.expect("OnGetFullPackage")
    stats, settings = window.finish()
    assert page_sequence(stats) == [
        ("UNINSTALL", "UNINSTALL"), ("PROGRESS", None), ("ERROR", "FULL_PACKAGE")]
    assert stats["ui"]["page_sequence"][0]["changed_delete_profile"] == 1
    assert "DELETE_PROFILE" in settings.split()[1].split(",")


def test_message_box_in_the_chosen_language(open_window, tmp_path):
    window = open_window(f"--installfolder={windows_path(tmp_path / 'Tarvo')}",
                         "--language=es-419")
    window.command("error 1 No se pudo descargar Tarvo.")
    state = assert_page(window, "ERROR")
    assert window.text(state, FULL_PACKAGE) == "Obtener el instalador &completo"
    assert window.text(state, TRY_AGAIN) == "&Reintentar"

    window.say("message Tarvo requiere SSE2.")
    box = json.loads(window.drive("message-box").stdout)
    assert box["title"] == "Instalador de Tarvo"
    assert "Tarvo requiere SSE2." in box["texts"]
    # The system's own text would be "OK".
    assert [b["text"] for b in box["buttons"]] == ["Aceptar"]
    window.screenshot("10_message_box")
    window.drive("answer", IDOK)
    window.expect("OnCancel")
    window.expect("done message Tarvo requiere SSE2.")
    stats, _ = window.finish()
    assert page_sequence(stats) == [("WELCOME", None), ("ERROR", None)]
    assert stats["ui"]["page_sequence"][1]["error_displayed"] == "Tarvo requiere SSE2."


def test_main_page_warns_of_an_unusable_folder_and_browses_to_another(open_window, own_folder):
    # Nothing can be installed below a file.
    (own_folder / "file").write_bytes(b"")
    unusable = windows_path(own_folder / "file" / "Tarvo")
    (own_folder / "Chosen").mkdir()
    chosen = windows_path(own_folder / "Chosen")
    window = open_window(f"--installfolder={unusable}")

    state = window.state()
    assert window.visible_main_controls(state) == PAGES["WELCOME"] | {RED_TEXT}
    assert window.text(state, RED_TEXT) == "The install path is invalid"
    assert window.text(state, MAIN_FOLDERS) == unusable
    assert not state["by_id"][ACCEPT]["enabled"]
    window.screenshot("11_welcome_unusable_folder")

    # The system's own folder browser, worked through its folder tree.
    window.drive("post-click", MAIN_BROWSE)
    browser = json.loads(window.drive("message-box").stdout)
    assert browser["title"] == "Browse for Folder"
    assert "Browse for folder" in browser["texts"]
    window.drive("choose-folder", chosen)
    browser = json.loads(window.drive("message-box").stdout)
    # The browser's "Folder:" field names the selected folder.
    assert browser["texts"][-1] == "Chosen"
    window.screenshot("12_folder_browser")
    window.drive("answer", BROWSER_OK)

    state = window.wait_for_state(lambda state: not state["by_id"][RED_TEXT]["visible"])
    assert window.visible_main_controls(state) == PAGES["WELCOME"]
    assert window.text(state, MAIN_FOLDERS) == chosen
    # The options page shows the settings' folder too.
    assert window.text(state, FOLDERS) == chosen
    assert state["by_id"][ACCEPT]["enabled"]
    window.screenshot("13_welcome_chosen_folder")
    window.drive("click", ACCEPT)
    window.expect("OnAccept")
    window.command("quit")
    stats, _ = window.finish()
    assert page_sequence(stats) == [("WELCOME", "ACCEPT"), ("PROGRESS", None)]


def test_closing_the_window_once_installed_asks_nothing(open_window, tmp_path):
    window = open_window(f"--installfolder={windows_path(tmp_path / 'Tarvo')}")
    window.drive("click", ACCEPT)
    window.expect("OnAccept")
    window.command("phase 5")
    window.command("progress 100")
    # While installing, closing asks first; "No" keeps the window.
    window.drive("close")
    box = json.loads(window.drive("message-box").stdout)
    assert "Tarvo is not finished installing." in box["texts"][-1]
    window.drive("answer", IDNO)
    assert_page(window, "PROGRESS")

    # In the last seconds of a successful installation there is nothing left
    # to quit: the window closes without a question.
    window.command("done")
    window.drive("close")
    window.expect("OnCancel")
    stats, _ = window.finish()
    assert page_sequence(stats) == [("WELCOME", "ACCEPT"), ("PROGRESS", None)]
