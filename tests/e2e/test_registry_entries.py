"""The installation's registry entries as registry_table_tool.exe writes them
under a test key. The rows come from data/registry_entry_tables.json, a
transcription of the entry tables kept apart from the C++ source, so that a
wrong row in the source shows as a difference; Python expands their
placeholders itself, writes the golden .reg file and the install-log
registry data it expects, and compares them with Wine's `reg export` of the
key and with what the tool noted. Run in the Windows 10 prefix and, through
Wine's per-program version setting, as Windows 7 and XP, where the rows for
later versions drop out."""

import json
import os
import re
import shutil
import subprocess
import uuid
from pathlib import Path

import pytest

from conftest import windows_path

TOOL = "desktop/windows/installer/registry_table_tool.exe"
TABLES = Path(__file__).resolve().parent / "data" / "registry_entry_tables.json"

UTF8_ENV = {**os.environ, "LC_ALL": "C.UTF-8"}

REG_NONE, REG_SZ, REG_DWORD = 0, 1, 4
REMOVE_VALUE, DELETE_KEY = -1, -2
KEY_WOW64_32KEY = 0x200
TYPE_NAMES = {REG_NONE: "REG_NONE", REG_SZ: "REG_SZ", REG_DWORD: "REG_DWORD"}
# The words the data file writes its rows with.
KINDS = {"REG_NONE": REG_NONE, "REG_SZ": REG_SZ, "REG_DWORD": REG_DWORD,
         "remove value": REMOVE_VALUE, "delete key": DELETE_KEY}
ROOTS = {"any": None, "HKLM": "machine", "HKCU": "user"}
VIEWS = {"": 0, "KEY_WOW64_32KEY": KEY_WOW64_32KEY}
# The document class's rows are the first rows of the installation's.
DOCUMENT_CLASS_ROWS = 8

# The placeholders of the installer core, with a folder that holds braces
# and a placeholder's name, which must come through as they stand.
FOLDER = "C:\\Apps\\{InstallFolder} {Stream}\\T\u00e4rv\u00f6"
PLACEHOLDERS = {
    "InstallFolder": FOLDER, "Product": "Tarvo", "Stream": "developer",
    "Version": "45.0.1.2", "Executable": "tarvo.exe", "Company": "Tarvo Software",
    "CompanyRegistryKey": "Software\\Tarvo Software",
    "Uninstall": "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo 45.0.1.2",
    "HelpURL": "https://help.example/{x}", "CompanyURL": "https://company.example",
    "DownloadsURL": "https://company.example/downloads",
}


def unescape_c(text):
    return re.sub(r"\\(.)", r"\1", text)


def table_rows(table):
    """The rows of one table of the data file ("installation",
    "document_class", "protocol", "extension", "start_menu_internet") as
    dictionaries: key and value name (None for the default value) with their
    placeholders, kind and data, the minimum Windows version index, the root
    the row is kept to (None for any), the minimum release channel, the
    clean depth noted in the install log and the registry view."""
    tables = json.loads(TABLES.read_text(encoding="utf-8"))
    if table == "document_class":
        return table_rows("installation")[:DOCUMENT_CLASS_ROWS]
    return [{**row, "kind": KINDS[row["kind"]], "root": ROOTS[row["root"]],
             "view": VIEWS[row["view"]]} for row in tables[table]]


def expand(text):
    """One pass, left to right; an unknown name stands for itself."""
    return re.sub(r"\{([^}]*)\}", lambda m: PLACEHOLDERS.get(m[1], m[1]), text or "")


def applies(row, root, windows_version, channel):
    return (windows_version >= row["min_version"] and row["root"] in (None, root)
            and channel >= row["min_channel"])


def written_key(row):
    key = expand(row["key"])
    if row["view"] == KEY_WOW64_32KEY:
        # A 64-bit system keeps the 32-bit view of "Software" here.
        key = key.replace("Software\\", "Software\\Wow6432Node\\", 1)
    return key


def expected_effects(rows, root, windows_version, channel, registry):
    """Applies the rows to `registry` ({key: {name: (type, data)}}, keys
    lower-cased as the registry compares them) and returns the install-log
    registry data the installer notes for them."""
    record = []
    for row in rows:
        if not applies(row, root, windows_version, channel):
            continue
        key = written_key(row)
        name = expand(row["name"])
        kind = row["kind"]
        if kind == DELETE_KEY:
            for other in [k for k in registry if k == key.lower() or
                          k.startswith(key.lower() + "\\")]:
                del registry[other]
            continue
        if kind == REMOVE_VALUE:
            registry.get(key.lower(), {}).pop(name, None)
            continue
        data = expand(row["data"]) if kind == REG_SZ else row["data"]
        registry.setdefault(key.lower(), {})[name] = (kind, data)
        text = data if kind == REG_SZ else f"{data:08x}" if kind == REG_DWORD else ""
        logged = expand(row["key"])
        entry = next((e for e in record if (e["path"], e["view"]) == (logged, row["view"])),
                     None)
        if entry is None:
            entry = {"path": logged, "clean": row["clean"], "view": row["view"], "values": []}
            record.append(entry)
        entry["clean"] = max(entry["clean"], row["clean"])
        entry["values"].append([TYPE_NAMES[kind], name, text])
    return record


def reg_text(registry, prefix):
    """The golden .reg file of `registry`, as `reg export` writes one."""
    def quote(text):
        return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key in sorted(registry):
        lines.append(f"[{prefix}\\{key}]")
        for name, (kind, data) in registry[key].items():
            shown = "@" if name == "" else quote(name)
            if kind == REG_SZ:
                lines.append(f"{shown}={quote(data)}")
            elif kind == REG_DWORD:
                lines.append(f"{shown}=dword:{data:08x}")
            else:
                lines.append(f"{shown}=hex(0):")
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def parse_reg(text, prefix):
    """{key: {name: (type, data)}} of a .reg text, keys below `prefix`
    lower-cased; keys without values are left out."""
    text = re.sub(r"\\\r?\n\s*", "", text)
    registry, values = {}, None
    for line in text.splitlines():
        header = re.fullmatch(r"\[(.*)\]", line)
        if header:
            values = {}
            path = header[1]
            assert path.lower().startswith(prefix.lower()), path
            registry[path[len(prefix) + 1:].lower()] = values
            continue
        match = re.fullmatch(r'(@|"(?:[^"\\]|\\.)*")=(.*)', line)
        if not match:
            continue
        name = "" if match[1] == "@" else unescape_c(match[1][1:-1])
        data = match[2]
        if data.startswith('"'):
            values[name] = (REG_SZ, unescape_c(data[1:-1]))
        elif data.startswith("dword:"):
            values[name] = (REG_DWORD, int(data[6:], 16))
        elif data == "hex(0):":
            values[name] = (REG_NONE, None)
        else:
            values[name] = (None, data)
    return {key: values for key, values in registry.items() if values}


def reg(build_dir, *args):
    return subprocess.run([str(build_dir / "wine-run"), "reg", *args],
                          capture_output=True, timeout=600, env=UTF8_ENV)


# Wine's version name -> the version index the tool must report (Windows 10
# and its later builds report 7 or more).
VERSIONS = [(None, 7), ("win7", 4), ("winxp", 1)]


@pytest.mark.parametrize("wine_version,version_index", VERSIONS,
                         ids=[v or "win10" for v, _ in VERSIONS])
@pytest.mark.parametrize("root", ["machine", "user"])
def test_installation_entries_match_the_golden_file(build_dir, tmp_path, root,
                                                     wine_version, version_index):
    rows = table_rows("installation")
    assert len(rows) == 60
    test_key = f"Software\\TarvoTest\\{uuid.uuid4()}"
    full_key = f"HKEY_CURRENT_USER\\{test_key}"
    # What the installation finds: an old DDE key of the document class and
    # a value the entries remove.
    old = {"Software\\Classes\\Tarvodeveloper\\shell\\open\\ddeexec\\Topic": ("", "old"),
           "Software\\Tarvo Software": ("Last developer Install Path x64", "C:\\x64")}
    existing = {}
    for key, (name, data) in old.items():
        value = ["/v", name] if name else ["/ve"]
        added = reg(build_dir, "add", f"{full_key}\\{key}", *value, "/d", data, "/f")
        assert added.returncode == 0, added.stderr
        existing[key.lower()] = {name: (REG_SZ, data)}

    placeholders = tmp_path / "placeholders.json"
    placeholders.write_text(json.dumps(PLACEHOLDERS), encoding="utf-8")
    program = build_dir / TOOL
    settings = None
    if wine_version:
        # A copy with a name of its own leaves the prefix's Windows 10 to
        # everything else.
        program = tmp_path / f"tarvo_entries_{uuid.uuid4().hex[:12]}.exe"
        shutil.copy(build_dir / TOOL, program)
        settings = f"HKCU\\Software\\Wine\\AppDefaults\\{program.name}"
        assert reg(build_dir, "add", settings, "/v", "Version", "/d", wine_version,
                   "/f").returncode == 0
    try:
        result = subprocess.run(
            [str(build_dir / "wine-run"), str(program), f"--root={root}",
             f"--redirect={test_key}", f"--placeholders={windows_path(placeholders)}"],
            capture_output=True, timeout=600, env=UTF8_ENV)
        exported = tmp_path / "exported.reg"
        export = reg(build_dir, "export", full_key, windows_path(exported), "/y")
    finally:
        if settings:
            reg(build_dir, "delete", settings, "/f")
        reg(build_dir, "delete", full_key, "/f")
    assert result.returncode == 0, (result.stdout, result.stderr)
    assert export.returncode == 0, export.stderr
    answer = json.loads(result.stdout.decode("utf-8"))
    if wine_version:
        assert answer["windows_version"] == version_index
    else:
        assert answer["windows_version"] >= version_index
    channel = answer["channel"]

    registry = dict(existing)
    record = expected_effects(rows, root, answer["windows_version"], channel, registry)
    golden = tmp_path / "golden.reg"
    golden.write_bytes(reg_text(registry, full_key).encode("utf-16"))
    # Wine's own libraries may keep their caches under the redirected root
    # too: only the keys of the rows and those made beforehand are compared.
    keys = {written_key(row).lower() for row in rows} | set(existing)
    written = parse_reg(exported.read_bytes().decode("utf-16"), full_key)
    assert {key: values for key, values in written.items() if key in keys} == \
        parse_reg(golden.read_bytes().decode("utf-16"), full_key)
    assert answer["registry"] == record
    applying = [row for row in rows if applies(row, root, answer["windows_version"], channel)]
    assert answer["operations"] == len(applying)
