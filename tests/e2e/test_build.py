"""Properties of the build itself: every program carries the Windows 10
manifest (so version queries answer truthfully) and needs no runtime DLL
beside it; the installer files it ships hold no test hook, and their programs
bind at load only libraries that Windows never takes from their folder."""

import os
import re
import queue
import subprocess
import threading
from pathlib import Path

import installer_files as files

WIN10_ID = b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
SYSTEM_DLL = re.compile(r"^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|"
                        r"msvcrt|ws2_32|shlwapi|comctl32|comdlg32|version|winmm|"
                        r"bcrypt|crypt32|wintrust|wininet|winhttp|dbghelp|psapi|"
                        r"userenv|rpcrt4|uxtheme|gdiplus|msimg32|ntdll|secur32|"
                        r"api-ms-win-[a-z0-9-]+)\.dll$", re.IGNORECASE)
# The known DLLs: Windows maps these from the system folder whatever folder
# the program runs from, and ntdll before any import is read. Any other
# import at load is looked for first in the program's own folder (a user's
# downloads folder, say), before its code can restrict the search.
KNOWN_DLLS = {"advapi32", "clbcatq", "combase", "comdlg32", "gdi32", "imagehlp", "imm32",
              "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ntdll", "ole32", "oleaut32",
              "psapi", "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi",
              "user32", "wldap32", "ws2_32"}


SHIPPED_FOLDERS = ("installer_files/full", "installer_files/online")
# The variable the test hooks read, and what they log: in a file, the hooks'
# code is in it.
HOOK_TEXTS = ("TARVO_TEST", "Test fault injection")


def hook_texts_in(path):
    """The hook texts found in the file, as `strings -a` and `strings -el`
    would see them."""
    data = path.read_bytes()
    return [text for text in HOOK_TEXTS
            if text.encode() in data or text.encode("utf-16-le") in data]


def imported_dlls(program):
    """The DLLs the program binds as it loads, as its import table names them
    (a library bound at first use is not among them)."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(program)],
                          capture_output=True, text=True, check=True).stdout
    return re.findall(r"DLL Name: (\S+)", dump)


def shipped_files(build_dir, unpack_folder):
    """The installer files and, unpacked into `unpack_folder`, the full
    installer's payload: the package it installs, which holds the installer
    that later updates and uninstalls, and the launcher."""
    shipped = [path for folder in SHIPPED_FOLDERS for path in (build_dir / folder).iterdir()]
    subprocess.run(["7zz", "x", "-bso0", "-bsp0", f"-o{unpack_folder}",
                    str(build_dir / "installer_files/package.7z")], check=True)
    return shipped + [path for path in unpack_folder.rglob("*") if path.is_file()]


def built_programs(build_dir):
    # The prefixes, Wine's shared system files and the tests' and
    # benchmarks' folders are pruned before they are entered: tests and
    # benchmark smoke runs beside this one create and delete files there at
    # any moment. They hold Wine's programs, installed packages and installer
    # files, not programs of the build.
    programs = []
    for folder, subfolders, files in os.walk(build_dir):
        subfolders[:] = [name for name in subfolders
                         if not name.startswith(("wineprefix", "wine_system_files"))
                         and not name.endswith("bench_work")
                         and name not in ("CMakeFiles", "demo", "e2e_tmp", "test_folders",
                                         "bench_tmp")]
        programs += [Path(folder) / name for name in files if name.endswith(".exe")]
    assert programs
    return programs


def test_every_program_declares_windows_10(build_dir):
    for program in built_programs(build_dir):
        assert WIN10_ID in program.read_bytes(), program.name


def test_programs_need_only_system_dlls(build_dir):
    for program in built_programs(build_dir):
        imports = imported_dlls(program)
        assert imports, program.name
        foreign = [dll for dll in imports if not SYSTEM_DLL.match(dll)]
        assert not foreign, f"{program.name} needs {foreign}"


def test_windows_version_is_reported_as_10(run_exe):
    result = run_exe("tests/tools/platform_probe.exe", "windows-version", check=True)
    major, minor, _ = result.stdout.decode().strip().split(".")
    assert (major, minor) == ("10", "0")


def test_shipped_installer_files_hold_no_test_hook(build_dir, tmp_path):
    shipped = shipped_files(build_dir, tmp_path)
    assert {path.name for path in shipped} >= {"installer.exe", "tarvo_installer.dll"}
    for path in shipped:
        assert not hook_texts_in(path), path
    # The search does find them where they are: in the testing library and
    # its host.
    assert hook_texts_in(files.library_file(build_dir, "current", hooks=True)) == list(HOOK_TEXTS)
    assert hook_texts_in(files.host_file(build_dir, hooks=True)) == list(HOOK_TEXTS)


def test_shipped_host_imports_at_load_only_what_windows_never_takes_from_its_folder(
        build_dir, tmp_path):
    # The package's stand-ins for the browser's own programs are a few bytes
    # of text, not programs.
    programs = [path for path in shipped_files(build_dir, tmp_path)
                if path.suffix == ".exe" and path.read_bytes()[:2] == b"MZ"]
    assert {path.name for path in programs} >= {"installer.exe", "launcher.exe"}
    for program in programs:
        imports = imported_dlls(program)
        assert imports, program
        unknown = [dll for dll in imports if dll.lower().removesuffix(".dll") not in KNOWN_DLLS]
        assert not unknown, f"{program} binds {unknown} as it loads"


# Stand-ins for apt's source download: they serve the packages the build's
# own fetch already holds, so the check runs offline. The download waits
# for the test's word, so that the other set-up is seen to wait meanwhile.
APT_CACHE_STUB = """#!/bin/sh
for dsc in "$REAL_DOWNLOADS/$2"_*.dsc; do
  v=${dsc##*/}; v=${v#"$2"_}; echo "Version: ${v%.dsc}"
done
"""
APT_GET_STUB = """#!/bin/sh
package=${4%%=*}
while [ ! -e "$GO_FILE" ]; do sleep 0.1; done
cp "$REAL_DOWNLOADS/$package"_* .
"""


def tree_listing(folder):
    return sorted((str(path.relative_to(folder)), path.stat().st_size)
                  for path in folder.rglob("*") if path.is_file())


def test_two_set_ups_at_once_share_one_empty_cache(build_dir, tmp_path):
    cached = re.search(r"^TARVO_DEPS_SRC:PATH=(.*)$",
                       (build_dir / "CMakeCache.txt").read_text(), re.M)
    real_src = Path(cached.group(1))
    stubs = tmp_path / "bin"
    stubs.mkdir()
    for name, text in (("apt-cache", APT_CACHE_STUB), ("apt-get", APT_GET_STUB)):
        (stubs / name).write_text(text)
        (stubs / name).chmod(0o755)
    go_file = tmp_path / "go"
    env = dict(os.environ, PATH=f"{stubs}:{os.environ['PATH']}",
               TARVO_DEPS_CACHE=str(tmp_path / "cache"), GO_FILE=str(go_file),
               REAL_DOWNLOADS=str(real_src.parent / "download"))
    script = Path(__file__).resolve().parents[2] / "scripts" / "fetch-sources"
    runs = [subprocess.Popen([script], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True) for _ in range(2)]
    # Only the run that found the lock taken writes before the download is
    # let go: the first line either run writes says so.
    first_lines = queue.Queue()
    readers = [threading.Thread(target=lambda run=run: first_lines.put(run.stderr.readline()))
               for run in runs]
    try:
        for reader in readers:
            reader.start()
        assert "another set-up is fetching" in first_lines.get(timeout=600)
        go_file.touch()
        for reader in readers:
            reader.join()
        outputs = [run.communicate(timeout=600) for run in runs]
    finally:
        go_file.touch()
        for run in runs:
            run.kill()
    assert [run.returncode for run in runs] == [0, 0], outputs
    src = tmp_path / "cache" / "src"
    assert [out.strip() for out, _ in outputs] == [str(src)] * 2
    assert sorted(path.name for path in src.iterdir()) == ["7zip", "boringssl", "zlib"]
    for tree in src.iterdir():
        assert tree_listing(tree) == tree_listing(real_src / tree.name), tree.name
