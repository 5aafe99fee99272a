"""Registry values, the Windows version record and the UI language list of
base/registry_tool.exe, checked against Wine's own `reg` program (query, add
and export) and the prefix's version settings. Every write goes to a fresh
key under Software\\TarvoTest that is deleted afterwards."""

import os
import re
import shutil
import subprocess
import uuid

import pytest

from conftest import windows_path

TOOL = "base/registry_tool.exe"

ERROR_FILE_NOT_FOUND = 2
ERROR_MORE_DATA = 234
ERROR_CANTREAD = 1012

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11

# Non-ASCII arguments reach Wine programs through the Unix locale.
UTF8_ENV = {**os.environ, "LC_ALL": "C.UTF-8"}


@pytest.fixture(scope="module")
def reg(build_dir):
    """reg(*args) -> CompletedProcess of Wine's `reg` in the build's prefix."""

    def run(*args, env=UTF8_ENV):
        return subprocess.run([str(build_dir / "wine-run"), "reg", *args],
                              capture_output=True, timeout=600, env=env)

    return run


def delete_key(reg, key, view_args=()):
    # The shared parent stays: deleted "while empty", it took with it the key
    # a unit test running beside made below it in that moment.
    reg("delete", key, "/f", *view_args)


@pytest.fixture
def user_key(reg):
    key = f"HKCU\\Software\\TarvoTest\\{uuid.uuid4()}"
    yield key
    delete_key(reg, key)


@pytest.fixture
def machine_key(reg):
    key = f"HKLM\\Software\\TarvoTest\\{uuid.uuid4()}"
    yield key
    for view in ("32", "64"):
        delete_key(reg, key, (f"/reg:{view}",))


def tool(run_exe, op, key=None, name=None, view=None, input=None):
    args = [f"--op={op}"]
    if key is not None:
        args.append(f"--key={key}")
    if name is not None:
        args.append(f"--name={name}")
    if view is not None:
        args.append(f"--view={view}")
    result = run_exe(TOOL, *args, input=input)
    assert result.returncode == 0, (result.stdout, result.stderr)
    return result.stdout


def write_string(run_exe, key, name, text, view=None):
    out = tool(run_exe, "write-string", key, name, view, input=text.encode())
    assert out == b"result 0\n"


def read_string(run_exe, key, name, view=None):
    """-> (error code, text)"""
    head, _, text = tool(run_exe, "read-string", key, name, view).partition(b"\n")
    return int(head.split()[1]), text.decode()


def read_dword(run_exe, key, name, view=None):
    """-> (error code, value)"""
    _, code, value = tool(run_exe, "read-dword", key, name, view).split()
    return int(code), int(value)


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def export_values(reg, key, folder, view_args=()):
    """The values of a key as `reg export` writes them: {name: (type, data)}
    with the data as text for strings, an int for DWORDs, else bytes; the
    default value is named None."""
    path = folder / f"export-{uuid.uuid4()}.reg"
    result = reg("export", key, windows_path(path), "/y", *view_args)
    assert result.returncode == 0, result.stderr
    text = re.sub(r"\\\r?\n\s*", "", path.read_bytes().decode("utf-16"))
    values = {}
    for line in text.splitlines():
        match = re.fullmatch(r'(@|"(?:[^"\\]|\\.)*")=(.*)', line)
        if not match:
            continue
        name = None if match[1] == "@" else unescape(match[1][1:-1])
        data = match[2]
        if data.startswith('"'):
            values[name] = (REG_SZ, unescape(data[1:-1]))
        elif data.startswith("dword:"):
            values[name] = (REG_DWORD, int(data[6:], 16))
        else:
            kind, _, hex_bytes = data.partition(":")
            kind = REG_BINARY if kind == "hex" else int(kind[4:-1], 16)
            values[name] = (kind, bytes.fromhex(hex_bytes.replace(",", "")))
    return values


def query_value(reg, key, name, view_args=()):
    """-> (type name, data text) from `reg query`, or None when missing."""
    result = reg("query", key, "/v", name, *view_args)
    if result.returncode != 0:
        return None
    for line in result.stdout.decode(errors="replace").splitlines():
        match = re.fullmatch(r"    (.+?)    (REG_\w+)    (.*)", line)
        if match and match[1] == name:
            return match[2], match[3]
    return None


TEXTS = [
    ("plain", "hello world"),
    ("empty", ""),
    ("path", "C:\\Program Files\\Tarvo\\"),
    ("quotes", 'say "hi" \\ bye'),
    ("unexpanded", "%SystemRoot%\\x"),
    ("unicode", "Gr\u00fc\u00dfe \u20ac \u65e5\u672c \U0001D11E"),
    ("longest", "x" * 1023),
]


def test_strings_written_here_read_by_reg(run_exe, reg, user_key, tmp_path):
    for name, text in TEXTS:
        write_string(run_exe, user_key, name, text)
    write_string(run_exe, user_key, None, "default value")

    exported = export_values(reg, user_key, tmp_path)
    for name, text in TEXTS:
        assert exported[name] == (REG_SZ, text), name
    assert exported[None] == (REG_SZ, "default value")
    # `reg query` prints in the console code page, so only ASCII is compared.
    assert query_value(reg, user_key, "plain") == ("REG_SZ", "hello world")
    assert query_value(reg, user_key, "path") == ("REG_SZ", "C:\\Program Files\\Tarvo\\")


def system_root(build_dir):
    result = subprocess.run([str(build_dir / "wine-run"), "cmd", "/c", "echo", "%SystemRoot%"],
                            capture_output=True, timeout=600)
    return result.stdout.decode().strip()


def test_values_added_by_reg_read_here(run_exe, reg, user_key, build_dir):
    # name, type, data for `reg add`, (string code, text), (dword code, value);
    # None where that read is not of interest.
    cases = [
        ("sz", "REG_SZ", "hello", (0, "hello"), (ERROR_MORE_DATA, 0)),
        ("sz empty", "REG_SZ", "", (0, ""), (ERROR_CANTREAD, 0)),
        ("sz unicode", "REG_SZ", "\u00fc\u20ac\U0001D11E", (0, "\u00fc\u20ac\U0001D11E"), None),
        ("sz longest", "REG_SZ", "y" * 1023, (0, "y" * 1023), None),
        ("sz too long", "REG_SZ", "y" * 1024, (ERROR_MORE_DATA, ""), None),
        ("expand", "REG_EXPAND_SZ", "%SystemRoot%\\x",
         (0, system_root(build_dir) + "\\x"), None),
        ("multi", "REG_MULTI_SZ", "a\\0b", (ERROR_CANTREAD, ""), None),
        ("dword", "REG_DWORD", "305419896", (ERROR_CANTREAD, ""), (0, 0x12345678)),
        ("dword max", "REG_DWORD", "4294967295", None, (0, 0xFFFFFFFF)),
        ("binary4", "REG_BINARY", "01020304", (ERROR_CANTREAD, ""), (0, 0x04030201)),
        ("binary2", "REG_BINARY", "0102", None, (ERROR_CANTREAD, 0)),
        # Eight bytes do not fit the four-byte buffer.
        ("binary8", "REG_BINARY", "0102030405060708", None, (ERROR_MORE_DATA, 0)),
        ("qword", "REG_QWORD", "0x1122334455667788", (ERROR_CANTREAD, ""),
         (ERROR_MORE_DATA, 0)),
        ("none", "REG_NONE", "", (ERROR_CANTREAD, ""), None),
    ]
    for name, kind, data, _, _ in cases:
        result = reg("add", user_key, "/v", name, "/t", kind, "/d", data, "/f")
        assert result.returncode == 0, (name, result.stderr)

    for name, _, _, string, dword in cases:
        if string is not None:
            assert read_string(run_exe, user_key, name) == string, name
        if dword is not None:
            assert read_dword(run_exe, user_key, name) == dword, name
    assert read_string(run_exe, user_key, "missing") == (ERROR_FILE_NOT_FOUND, "")
    assert read_dword(run_exe, user_key, "missing") == (ERROR_FILE_NOT_FOUND, 0)


def test_views_are_separate(run_exe, reg, machine_key, tmp_path):
    write_string(run_exe, machine_key, "written", "in the 32-bit view", view="32")
    assert query_value(reg, machine_key, "written", ("/reg:32",)) == \
        ("REG_SZ", "in the 32-bit view")
    assert query_value(reg, machine_key, "written", ("/reg:64",)) is None
    assert export_values(reg, machine_key, tmp_path, ("/reg:32",)) == \
        {"written": (REG_SZ, "in the 32-bit view")}

    result = reg("add", machine_key, "/v", "added", "/d", "in the 64-bit view", "/f", "/reg:64")
    assert result.returncode == 0, result.stderr
    assert read_string(run_exe, machine_key, "added", view="64") == (0, "in the 64-bit view")
    assert read_string(run_exe, machine_key, "added", view="32") == (ERROR_FILE_NOT_FOUND, "")
    assert read_string(run_exe, machine_key, "written", view="32") == (0, "in the 32-bit view")


def test_only_write_access_creates_a_missing_key(run_exe, reg, user_key):
    read_key = user_key + "\\opened for reading"
    write_key = user_key + "\\opened for writing"
    out = run_exe(TOOL, "--op=open", f"--key={read_key}", "--access=read").stdout
    assert out == b"valid 0\n"
    assert reg("query", read_key).returncode == 1
    out = run_exe(TOOL, "--op=open", f"--key={write_key}", "--access=write").stdout
    assert out == b"valid 1\n"
    assert reg("query", write_key).returncode == 0


def parse_version(stdout):
    fields = dict(line.split("=", 1) for line in stdout.decode().splitlines())
    return {key: value if key == "service_pack_text" else int(value)
            for key, value in fields.items()}


def test_version_of_the_windows10_prefix(run_exe, build_dir):
    info = parse_version(run_exe(TOOL, "--op=version").stdout)
    ver = subprocess.run([str(build_dir / "wine-run"), "cmd", "/c", "ver"],
                         capture_output=True, timeout=600).stdout.decode()
    major, minor, build = map(int, re.search(r"(\d+)\.(\d+)\.(\d+)", ver).groups())
    assert (info["major"], info["minor"], info["build"]) == (major, minor, build)
    assert major == 10
    assert info["version"] == (8 if build >= 10586 else 7)
    # Wine keeps no "UBR"; a 64-bit x64 program is not under WOW64.
    assert info["ubr"] == 0
    assert info["architecture"] == 1
    assert info["wow64_status"] == 0
    assert info["processor_count"] == os.cpu_count()
    assert info["allocation_granularity"] == 65536


# Wine's version name -> major, minor, build, index, edition (None: not
# asserted), service pack major and text. Wine 8 reports "win7" as a server
# and "win2008r2" as a workstation, so the edition of 6.1 is left out.
WINE_VERSIONS = [
    ("win81", 6, 3, 9600, 6, 0, 0, ""),
    ("win8", 6, 2, 9200, 5, 0, 0, ""),
    ("win7", 6, 1, 7601, 4, None, 1, "Service Pack 1"),
    ("win2008", 6, 0, 6002, 3, 2, 2, "Service Pack 2"),
    ("vista", 6, 0, 6002, 3, 0, 2, "Service Pack 2"),
    ("win2003", 5, 2, 3790, 2, 2, 2, "Service Pack 2"),
    ("winxp64", 5, 2, 3790, 2, 1, 2, "Service Pack 2"),
    ("winxp", 5, 1, 2600, 1, 1, 3, "Service Pack 3"),
    ("win2k", 5, 0, 2195, 0, 0, 4, "Service Pack 4"),
]


@pytest.mark.parametrize("wine_version,major,minor,build,index,edition,sp_major,sp_text",
                         WINE_VERSIONS, ids=[row[0] for row in WINE_VERSIONS])
def test_version_follows_the_configured_windows(run_exe, reg, build_dir, tmp_path, wine_version,
                                                major, minor, build, index, edition,
                                                sp_major, sp_text):
    # Wine's per-program setting, on a copy with a name of its own, leaves the
    # prefix's Windows 10 untouched for everything else.
    program = tmp_path / f"tarvo_version_{uuid.uuid4().hex[:12]}.exe"
    shutil.copy(build_dir / TOOL, program)
    settings = f"HKCU\\Software\\Wine\\AppDefaults\\{program.name}"
    added = reg("add", settings, "/v", "Version", "/d", wine_version, "/f")
    assert added.returncode == 0, (added.stdout, added.stderr)
    try:
        result = subprocess.run([str(build_dir / "wine-run"), str(program), "--op=version"],
                                capture_output=True, timeout=600)
    finally:
        reg("delete", settings, "/f")
    assert result.returncode == 0, result.stderr
    info = parse_version(result.stdout)
    assert (info["major"], info["minor"], info["build"]) == (major, minor, build)
    assert info["version"] == index
    if edition is not None:
        assert info["edition"] == edition
    assert info["service_pack_major"] == sp_major
    assert info["service_pack_minor"] == 0
    assert info["service_pack_text"] == sp_text


@pytest.mark.parametrize("locale,first", [("C.UTF-8", "en-US"), ("de_DE.UTF-8", "de-DE"),
                                          ("fr_CA.UTF-8", "fr-CA")])
def test_languages_follow_the_user_locale(build_dir, locale, first):
    # Wine takes the user's UI language from the Unix locale variables.
    env = {**os.environ, "LC_ALL": locale, "LANG": locale}
    result = subprocess.run([str(build_dir / "wine-run"), str(build_dir / TOOL), "--op=languages"],
                            capture_output=True, timeout=600, env=env)
    assert result.returncode == 0, result.stderr
    names = result.stdout.decode().split()
    assert names[0] == first
    assert all(re.fullmatch(r"[a-z]{2,3}(-[A-Za-z0-9]+)*", name) for name in names), names
