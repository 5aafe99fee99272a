"""The installer runner and its backend as real processes: a front end that
runs the runner, and the backend it launches ("installer.exe" copied into the
package folder, or the front end's own program while it waits for the
package), whose step machine plays a script. The kernel objects are opened
by name from a third process; the names are built here from the folder as
the installer spells it for them: full, and upper-cased."""

import os
import re
import shutil
import subprocess
import time

import pytest

from conftest import windows_path
from wine_process import HANG_GUARD, WineProcess

TOOL = "desktop/windows/installer/installer_runner_tool.exe"
IPC_TOOL = "desktop/windows/installer/installer_ipc_tool.exe"


class Process(WineProcess):
    """One running installer_runner_tool, read line by line."""

    def __init__(self, build_dir, log_path, *args, standard_user=False):
        super().__init__(build_dir, TOOL, log_path, *args, standard_user=standard_user)

    def read_until(self, last_prefix):
        lines = []
        while not lines or not lines[-1].startswith(last_prefix):
            line = self.read_line()
            assert line is not None, f"ended after {lines}"
            lines.append(line)
        return lines


def wait_for_log_line(log, text):
    deadline = time.monotonic() + HANG_GUARD
    while not (log.exists() and text in log.read_text(encoding="utf-8", errors="replace")):
        assert time.monotonic() < deadline, f"{log.name} never said: {text}"
        time.sleep(0.05)


class Installation:
    """One installation folder and one package folder for a test."""

    def __init__(self, build_dir, tmp_path, folder):
        self.build_dir = build_dir
        self.tmp_path = tmp_path
        self.folder = folder
        self.package = tmp_path / "package"
        self.package.mkdir()
        shutil.copy(build_dir / TOOL, self.package / "installer.exe")
        self.started = []

    def script(self, *lines):
        (self.package / "test_installer_script.txt").write_text("\n".join(lines) + "\n",
                                                               encoding="utf-8")

    def front_end(self, *extra, folder=None):
        log = self.tmp_path / f"frontend{len(self.started)}.stderr"
        process = Process(self.build_dir, log, "--frontend",
                          f"--installfolder={folder or self.folder}",
                          f"--package-folder={windows_path(self.package)}", "--v=1", *extra)
        self.started.append(process)
        return process

    def hold(self, switch, name):
        log = self.tmp_path / f"holder{len(self.started)}.stderr"
        holder = Process(self.build_dir, log, f"--{switch}={name}")
        self.started.append(holder)
        assert holder.read_line() == "holding"
        return holder

    def hold_event(self, name):
        return self.hold("hold-event", name)

    def hold_abandoned_mutex(self, name):
        return self.hold("hold-abandoned-mutex", name)

    def probe(self, kind, name):
        result = subprocess.run(
            [str(self.build_dir / "wine-run"), str(self.build_dir / TOOL), f"--probe={kind}",
             f"--name={name}"], capture_output=True, timeout=HANG_GUARD, check=True)
        return result.stdout.decode().strip()

    def backend_record(self):
        """The backend's command line and, once it has ended, its result."""
        path = self.package / "backend_result.txt"
        return path.read_text(encoding="utf-8").splitlines() if path.exists() else []

    def wait_for_backend_result(self):
        deadline = time.monotonic() + HANG_GUARD
        while not any(line.startswith("result") for line in self.backend_record()):
            assert time.monotonic() < deadline, "the backend did not end"
            time.sleep(0.1)
        return self.backend_record()

    # The names another process must use, from the folder as spelled for
    # them: every letter upper-case.
    def canonical_folder(self):
        return self.folder.upper()

    def mutex_name(self):
        return "Global\\Tarvo/Installer/" + self.canonical_folder().replace("\\", "/")

    def mailslot_path(self):
        return "\\\\.\\mailslot\\tarvo_installer\\" + self.canonical_folder()

    def event_name(self, base):
        return "Global\\TarvoInstaller/" + base + "/" + self.canonical_folder().replace("\\", "/")


@pytest.fixture
def installation(build_dir, tmp_path, request):
    # A folder of its own per test: other test programs may run at once.
    name = re.sub(r"[^A-Za-z0-9 ]", " ", request.node.name).strip()
    folder = f"C:\\Program Files\\Tarvo Runner {os.getpid()} {name}"
    result = Installation(build_dir, tmp_path, folder)
    yield result
    for process in result.started:
        process.stop()


def command_line_of(record):
    """The backend's program and its switches, as it was started."""
    line = next(line for line in record if line.startswith("command-line "))
    program, _, switches = line[len("command-line "):].partition(" --")
    return program.strip('"'), " --" + switches


@pytest.mark.parametrize("script, calls, success, backend_success", [
    (["folder-created", "total 3", "step", "step", "step", "success"],
     ["OnInstallFolderCreated", "OnTotalSteps 3", "OnStep", "OnStep", "OnStep", "OnSuccess"],
     True, True),
    # The package's installer returned without a word, as a killed one does
    # (its exit code reads 0 to the backend that waits for it): the waiting
    # backend's success is no proof.
    (["folder-created", "total 3", "step", "new-process 1", "returned", "step", "step",
      "success"],
     ["OnInstallFolderCreated", "OnTotalSteps 3", "OnStep", "OnStartingNewMainProcess 1",
      "OnReturnedToPreviousMainProcess", "OnStep", "OnStep", "OnSuccess",
      "OnError 37055 |Package installer ended without reporting success"], False, True),
    # The run ends at the error: nothing after it is reported.
    (["total 2", "step", "error 37062 C:\\Tarv\u00f6\\tarvo.exe|Failed copying tarvo.exe",
      "step", "success"],
     ["OnTotalSteps 2", "OnStep", "OnError 37062 C:\\Tarv\u00f6\\tarvo.exe|Failed copying tarvo.exe"],
     False, False),
], ids=["success", "handover-without-report", "error"])
def test_front_end_observes_the_backend_in_order(installation, script, calls, success,
                                                 backend_success):
    installation.script(*script)
    component = installation.tmp_path / "tarvo_component"
    front = installation.front_end("--have-package", f"--component={windows_path(component)}")
    lines = front.read_until("OnInstallerTerminated")
    # Its end comes from the backend's exit code, after its last report.
    assert lines == ["started 1", *calls, f"OnInstallerTerminated {int(success)}"]
    front.say("exit")
    assert front.wait() == 0

    record = installation.wait_for_backend_result()
    assert record[-1] == f"result {int(backend_success)}"
    program, command_line = command_line_of(record)
    assert program == windows_path(installation.package) + "\\installer.exe"
    assert " --backend" in command_line
    assert re.search(r" --initial-proc-handle=[0-9A-F]{16}( |$)", command_line)
    assert re.search(r" --initial-pid=[0-9]+( |$)", command_line)
    assert " --server-tracking-data=server_tracking_data" in command_line
    assert " --components=suite:tarvo_component" in command_line
    assert "--wait-for-package" not in command_line
    # No crash reporter serves the front end: nothing to hand on.
    assert "--crash-reporter-pid" not in command_line


@pytest.mark.parametrize("script, calls", [
    # Ended without a word, as a killed backend does: its exit code reads 0
    # under Wine, and after TerminateProcess(h, 0) on Windows.
    (["exit 0"], ["OnError 37055 |Installer backend ended without reporting success"]),
    # A nonzero code speaks for itself, as it did.
    (["exit 5"], []),
], ids=["exit-0", "exit-5"])
def test_backend_ending_without_success_report_fails_the_run(installation, script, calls):
    installation.script(*script)
    front = installation.front_end("--have-package")

    lines = front.read_until("OnInstallerTerminated")

    assert lines == ["started 1", *calls, "OnInstallerTerminated 0"]
    front.say("exit")
    assert front.wait() == 0


def test_kernel_objects_have_their_names_for_another_process(installation):
    installation.script("wait-package", "total 1", "step", "success")
    front = installation.front_end()
    assert front.read_line() == "started 1"

    assert installation.probe("mutex", installation.mutex_name()) == "busy"
    assert installation.probe("mailslot", installation.mailslot_path()) == "opened"
    assert installation.probe("event", installation.event_name("PackageReady")) == "unsignalled"
    assert installation.probe(
        "event", installation.event_name("InstallationInterrupted")) == "unsignalled"
    # The folder as typed names nothing: every process uses the one spelling.
    typed = "Global\\Tarvo/Installer/" + installation.folder.replace("\\", "/")
    assert installation.probe("mutex", typed).startswith("missing")

    # The backend waits for the package until the front end has it.
    front.say("package-ready")
    assert front.read_until("OnInstallerTerminated") == [
        "ok package-ready", "OnTotalSteps 1", "OnStep", "OnSuccess", "OnInstallerTerminated 1"]
    assert installation.probe("event", installation.event_name("PackageReady")) == "signalled"
    program, command_line = command_line_of(installation.wait_for_backend_result())
    assert program == windows_path(installation.build_dir / TOOL)
    assert re.search(f' --wait-for-package="?{re.escape(windows_path(installation.package))}"?( |$)',
                     command_line)


# Any process may write into the mailslot: a success report before the
# package was handed over comes from no backend, and is dropped; the
# backend's own, after it, counts.
def test_success_report_before_the_hand_over_is_dropped(installation):
    installation.script("wait-package", "total 1", "step", "success")
    front = installation.front_end()
    assert front.read_line() == "started 1"
    forger = subprocess.run(
        [str(installation.build_dir / "wine-run"), str(installation.build_dir / IPC_TOOL),
         "send", installation.folder], input=b"success\n", capture_output=True,
        timeout=HANG_GUARD)
    assert forger.stdout.decode().split() == ["ok", "closed"]
    # The runner reads the mailslot on a thread of its own: the forged
    # report must have reached it, and been dropped, before the package is.
    wait_for_log_line(installation.package / "frontend.log",
                      "Dropping a success report that came before the package")

    front.say("package-ready")
    assert front.read_until("OnInstallerTerminated") == [
        "ok package-ready", "OnTotalSteps 1", "OnStep", "OnSuccess", "OnInstallerTerminated 1"]


def test_package_ready_before_the_start_only_chooses_the_backend(installation):
    installation.script("total 1", "wait")
    front = installation.front_end("--have-package")
    assert front.read_until("OnTotalSteps") == ["started 1", "OnTotalSteps 1"]
    # No event to signal: the backend comes from the package.
    assert installation.probe(
        "event", installation.event_name("PackageReady")).startswith("missing")
    front.say("package-ready")
    assert front.read_line() == "ok package-ready"
    front.say("stop")
    assert front.read_until("OnInstallerTerminated") == ["ok stop", "OnInstallerTerminated 0"]


def test_second_front_end_on_another_spelling_is_refused(installation):
    installation.script("total 1", "wait")
    first = installation.front_end("--have-package")
    assert first.read_until("OnTotalSteps") == ["started 1", "OnTotalSteps 1"]

    other_spelling = installation.folder.lower().replace("\\", "/") + "/"
    second = installation.front_end("--have-package", folder=other_spelling)
    assert second.read_line() == "OnError 37057 |Could not acquire installer mutex"
    assert second.read_line() == "started 0"
    second.say("exit")
    assert second.wait() == 0

    # Stopped, the first run's backend is interrupted; once it has ended the
    # mutex is free again while the first front end still runs.
    first.say("stop")
    assert first.read_until("OnInstallerTerminated") == ["ok stop", "OnInstallerTerminated 0"]
    assert installation.probe("mutex", installation.mutex_name()).startswith("missing")
    installation.script("total 1", "step", "success")
    third = installation.front_end("--have-package", folder=other_spelling)
    assert third.read_until("OnInstallerTerminated") == [
        "started 1", "OnTotalSteps 1", "OnStep", "OnSuccess", "OnInstallerTerminated 1"]


def test_mutex_abandoned_by_a_dead_owner_is_taken_over(installation):
    # Another process keeps it open after the thread that owned it ended.
    installation.hold_abandoned_mutex(installation.mutex_name())
    installation.script("total 1", "step", "success")
    front = installation.front_end("--have-package")
    assert front.read_until("OnInstallerTerminated") == [
        "started 1", "OnTotalSteps 1", "OnStep", "OnSuccess", "OnInstallerTerminated 1"]


def test_killed_front_end_ends_the_backend(installation):
    installation.script("total 1", "wait")
    front = installation.front_end("--have-package")
    assert front.read_until("OnTotalSteps") == ["started 1", "OnTotalSteps 1"]
    front.stop()

    record = installation.wait_for_backend_result()
    assert record[-1] == "result 0"
    log = (installation.package / "backend.log").read_text(encoding="utf-8", errors="replace")
    assert "Installer UI process ended" in log
    assert "Installer backend exiting" in log
    assert "Installation was interrupted" not in log



# Each named object of a run, made first by another process (an event left
# signalled, as an earlier run or anyone else could leave it): the run is
# refused at once, naming the object, before any backend starts.
@pytest.mark.parametrize("held, extra, diagnostic", [
    ("InstallationInterrupted", ["--have-package"],
     "Installation interruption event made by another process"),
    ("PackageReady", [], "Package ready event made by another process"),
    ("mailslot", ["--have-package"], "Installer mailslot made by another process"),
], ids=["interrupted-event", "package-ready-event", "mailslot"])
def test_object_made_first_elsewhere_refuses_the_run(installation, held, extra, diagnostic):
    if held == "mailslot":
        name = installation.mailslot_path()
        holder = WineProcess(installation.build_dir, IPC_TOOL,
                             installation.tmp_path / "holder.stderr", "receive",
                             installation.canonical_folder(), "1")
        installation.started.append(holder)
        assert holder.read_line() == "ready"
    else:
        name = installation.event_name(held)
        holder = installation.hold_event(name)
    installation.script("total 1", "step", "success")

    front = installation.front_end(*extra)
    assert front.read_line() == f"OnError 37079 {name}|{diagnostic}"
    assert front.read_line() == "started 0"
    front.say("exit")
    assert front.wait() == 0
    assert installation.backend_record() == []

    # Once the other process is gone, the folder's next run starts.
    holder.stop()
    again = installation.front_end("--have-package")
    assert again.read_until("OnInstallerTerminated") == [
        "started 1", "OnTotalSteps 1", "OnStep", "OnSuccess", "OnInstallerTerminated 1"]
