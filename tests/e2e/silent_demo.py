"""The demo's main part: what the installer is for, on a fresh machine (the
Wine prefix that WINEPREFIX names). The full installer installs Tarvo
silently; the online installer updates it to the next patch release from
the update server; the installed installer uninstalls it. Each stage prints
one line while it runs, then what it did: exit code, installed tree,
registry rows, shortcuts, install log and the statistics report as the
update server received it.
    silent_demo.py BUILD_DIR DEMO_FOLDER"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import installer_files as files
from conftest import windows_path
from update_server import UpdateServer

TREE_RUNNER = "desktop/windows/installer/process_tree_runner.exe"
SWITCHES = ["--silent", "--allusers=0", "--desktopshortcut=1", "--startmenushortcut=1",
            "--quicklaunchshortcut=0", "--pintotaskbar=0", "--launchtarvo=0"]
REGISTRY_KEYS = ["HKCU\\Software\\Tarvo Software",
                 "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"]
# What the reports tell of a run.
REPORT_KEYS = ["installation_success", "failure_reason", "payload_type", "tracking_data",
               "download_url", "operation", "installation_start_time", "stats_sending_time"]
FETCH_KEYS = ["try_number", "result", "download_url", "internal_version", "stream"]


class Demo:
    def __init__(self, build, folder, server):
        self.build = build
        self.folder = folder
        self.server = server
        self.target = folder / "Tarvo"
        self.temp = folder / "temp"
        self.temp.mkdir()
        self.reports_seen = 0
        self.shortcuts_before = self.shortcuts()

    def wine(self, *args, **kwargs):
        return subprocess.run([str(self.build / "wine-run"), *map(str, args)],
                              capture_output=True, **kwargs)

    def linux(self, variable):
        value = self.wine("cmd", "/c", f"echo %{variable}%").stdout.decode().strip()
        return Path(self.wine("winepath", "-u", value).stdout.decode().strip())

    def run(self, installer, *extra):
        """installer.exe --silent; its exit code once all it started ended."""
        result = self.wine(self.build / TREE_RUNNER, windows_path(installer), *SWITCHES,
                           f"--installfolder={windows_path(self.target)}",
                           f"--temp-folder={windows_path(self.temp)}", *extra)
        words = result.stdout.decode(errors="replace").split()
        return int(words[-1]) if words[-2:-1] == ["exit"] else None

    def show_tree(self):
        print(f"\n$ find {self.target.name}")
        if not self.target.exists():
            print("(no such folder)")
            return
        for path in sorted(self.target.rglob("*")):
            relative = path.relative_to(self.folder).as_posix()
            print(relative + ("/" if path.is_dir() else f"  ({path.stat().st_size} bytes)"))

    def show_registry(self):
        for key in REGISTRY_KEYS:
            exported = self.folder / "key.reg"
            self.wine("reg", "export", key, windows_path(exported), "/y")
            text = exported.read_bytes().decode("utf-16") if exported.exists() else ""
            exported.unlink(missing_ok=True)
            lines = [line for line in text.replace("\r", "").splitlines()
                     if line and not line.startswith("Windows Registry")]
            if key.endswith("Uninstall"):
                lines = uninstall_entries(lines)
            print(f"\n$ reg export \"{key}\"" + ("  (the product's entries)"
                                                  if key.endswith("Uninstall") else ""))
            print("\n".join(lines) if lines else "(nothing)")

    def shortcuts(self):
        """The product's shortcuts on the desktop and in the start menu."""
        found = set()
        for label, folder in (
                ("Desktop", self.linux("USERPROFILE") / "Desktop"),
                ("Start Menu", self.linux("APPDATA") / "Microsoft/Windows/Start Menu")):
            if folder.exists():
                found |= {f"{label}\\{p.relative_to(folder)}".replace("/", "\\")
                          for p in folder.rglob("Tarvo*.lnk")}
        return found

    def show_shortcuts(self):
        # Wine's desktop is the Unix home folder, which other programs share.
        made = sorted(self.shortcuts() - self.shortcuts_before)
        print("\nshortcuts made:", ", ".join(made) or "none")

    def show_install_log(self):
        log = self.target / "installation_status.xml"
        if not log.exists():
            return
        root = ElementTree.parse(log).getroot()
        print(f"\ninstallation_status.xml: version {root.get('version')}, "
              f"{len(list(root.find('files')))} files, shortcuts "
              + ", ".join(s.get("type") for s in root.iter("shortcut")))

    def show_report(self):
        reports = self.server.reports()
        for report in reports[self.reports_seen:]:
            shown = {key: report[key] for key in REPORT_KEYS if key in report}
            shown["fetches"] = [{key: fetch[key] for key in FETCH_KEYS if key in fetch}
                                for fetch in report.get("fetches", [])]
            print("\nstatistics report (received by the update server):")
            print(json.dumps(shown, indent=2))
        self.reports_seen = len(reports)


def uninstall_entries(lines):
    """The product's keys of an exported Uninstall key, with their values."""
    kept, keep = [], False
    for line in lines:
        if line.startswith("["):
            keep = "\\Tarvo " in line
        if keep:
            kept.append(line)
    return kept


def stage(number, text):
    print(f"\n\n[{number}/3] {text}", flush=True)


def main():
    build, folder = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    keys = files.BuildKeys(build)
    with UpdateServer() as server:
        demo = Demo(build, folder, server)
        url = server.autoupdate_url

        stage(1, "Installing Tarvo silently from the full installer (the package is its "
                 "payload) ...")
        full = files.full_installer(build, folder / "full", keys,
                                    (build / "installer_files/package.7z").read_bytes(),
                                    autoupdate_url=url)
        code = demo.run(full)
        print(f"installer.exe --silent: exit code {code}")
        demo.show_tree()
        demo.show_registry()
        demo.show_shortcuts()
        demo.show_install_log()
        demo.show_report()

        stage(2, "Updating it to the next patch release through the online installer, "
                 f"from the update server at {url} ...")
        with tempfile.TemporaryDirectory(dir=folder) as work:
            package = files.make_package(build, Path(work) / "package", "next",
                                         autoupdate_url=url, pki=keys)
            archive = files.pack(package, Path(work) / "package.7z")
        download = files.full_installer(build, folder / "next", keys, archive)
        server.offer(download.read_bytes())
        online = files.online_installer(build, folder / "online", keys, autoupdate_url=url)
        code = demo.run(online)
        print(f"installer.exe --silent (online installer, {online.stat().st_size} bytes): "
              f"exit code {code}")
        demo.show_tree()
        demo.show_install_log()
        demo.show_report()

        stage(3, "Uninstalling it with the installed installer ...")
        version = ElementTree.parse(demo.target / "installation_status.xml").getroot().get(
            "version")
        code = demo.run(demo.target / version / "installer.exe", "--uninstall")
        print(f"{version}\\installer.exe --uninstall --silent: exit code {code}")
        # What was in use (the uninstaller's own program and library) goes
        # once the uninstaller has ended: a copy of it deletes that, then the
        # emptied folder.
        deadline = time.monotonic() + 60
        while demo.target.exists() and time.monotonic() < deadline:
            time.sleep(0.2)
        left = sorted(p.relative_to(demo.target).as_posix() for p in demo.target.rglob("*")) \
            if demo.target.exists() else []
        print("\nleft in the installation folder:",
              ", ".join(left) or ("the empty folder" if demo.target.exists() else "nothing"))
        shutil.rmtree(demo.target, ignore_errors=True)
        demo.show_tree()
        demo.show_registry()
        demo.show_shortcuts()
        demo.show_report()
        downloads = demo.temp / "Tarvo Installer"
        print("\ndownload folder:", "gone" if not downloads.exists()
              else ", ".join(p.name for p in downloads.iterdir()) or "empty")


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    main()
