"""Shell links written by base/shortcut_tool.exe (CreateOrUpdateShortcut)
checked by an independent reader of the Shell Link binary format (header,
target ID list, link info, string data), and links written by an
independent writer read back by the tool (ResolveShortcutProperties)."""

import struct

from conftest import windows_path

TOOL = "base/shortcut_tool.exe"

LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
HEADER_SIZE = 0x4C

HAS_ID_LIST = 0x01
HAS_LINK_INFO = 0x02
HAS_NAME = 0x04
HAS_RELATIVE_PATH = 0x08
HAS_WORKING_DIR = 0x10
HAS_ARGUMENTS = 0x20
HAS_ICON_LOCATION = 0x40
IS_UNICODE = 0x80

# String data fields, in the order the format stores them.
STRING_FIELDS = [(HAS_NAME, "description"), (HAS_RELATIVE_PATH, "relative_path"),
                 (HAS_WORKING_DIR, "working_dir"), (HAS_ARGUMENTS, "arguments"),
                 (HAS_ICON_LOCATION, "icon")]


def parse_link(data):
    """The fields of a .lnk file as a dict."""
    header_size, clsid, flags = struct.unpack_from("<I16sI", data, 0)
    assert header_size == HEADER_SIZE and clsid == LINK_CLSID
    icon_index, show_command = struct.unpack_from("<iI", data, 0x38)
    link = {"flags": flags, "icon_index": icon_index, "show_command": show_command}
    offset = HEADER_SIZE
    if flags & HAS_ID_LIST:
        (id_list_size,) = struct.unpack_from("<H", data, offset)
        link["id_list"] = data[offset + 2:offset + 2 + id_list_size]
        assert link["id_list"].endswith(b"\0\0"), "ID list without its terminal item"
        offset += 2 + id_list_size
    if flags & HAS_LINK_INFO:
        link["target"] = parse_link_info(data, offset)
        offset += struct.unpack_from("<I", data, offset)[0]
    for flag, name in STRING_FIELDS:
        if not flags & flag:
            continue
        (count,) = struct.unpack_from("<H", data, offset)
        offset += 2
        if flags & IS_UNICODE:
            text = data[offset:offset + 2 * count].decode("utf-16-le")
            offset += 2 * count
        else:
            text = data[offset:offset + count].decode("cp1252")
            offset += count
        # Some writers count the terminating NUL as well.
        link[name] = text.rstrip("\0")
    link["extra"] = parse_extra_blocks(data, offset)
    return link


def parse_link_info(data, start):
    size, header_size, info_flags, _volume, base_path_offset = struct.unpack_from(
        "<5I", data, start)
    assert info_flags & 1, "link info without a local base path"
    assert start + size <= len(data)
    if header_size >= 0x24:
        (unicode_offset,) = struct.unpack_from("<I", data, start + 0x1C)
        end = start + unicode_offset
        while data[end:end + 2] != b"\0\0":
            end += 2
        return data[start + unicode_offset:end].decode("utf-16-le")
    end = data.index(b"\0", start + base_path_offset)
    return data[start + base_path_offset:end].decode("latin-1")


def parse_extra_blocks(data, offset):
    """Signatures of the extra data blocks; the list must end properly."""
    signatures = []
    while True:
        (size,) = struct.unpack_from("<I", data, offset)
        if size < 4:
            return signatures
        assert size >= 8 and offset + size <= len(data), "extra block out of bounds"
        signatures.append(struct.unpack_from("<I", data, offset + 4)[0])
        offset += size


def write_link(target, description, working_dir, arguments, icon, icon_index):
    """A minimal link of our own: no ID list, an ASCII local base path."""
    flags = HAS_LINK_INFO | HAS_NAME | HAS_WORKING_DIR | HAS_ARGUMENTS | HAS_ICON_LOCATION
    flags |= IS_UNICODE
    header = struct.pack("<I16sII8s8s8sIiIHHII", HEADER_SIZE, LINK_CLSID, flags, 0x20,
                         b"\0" * 8, b"\0" * 8, b"\0" * 8, 0, icon_index, 1, 0, 0, 0, 0)
    assert len(header) == HEADER_SIZE
    volume = struct.pack("<IIII", 16, 3, 0x1234, 16) + b"\0"
    base_path = target.encode("ascii") + b"\0"
    info_header_size = 0x1C
    volume_offset = info_header_size
    base_path_offset = volume_offset + len(volume)
    suffix_offset = base_path_offset + len(base_path)
    size = suffix_offset + 1
    link_info = struct.pack("<7I", size, info_header_size, 1, volume_offset, base_path_offset,
                            0, suffix_offset) + volume + base_path + b"\0"
    strings = b""
    for text in (description, working_dir, arguments, icon):
        strings += struct.pack("<H", len(text)) + text.encode("utf-16-le")
    return header + link_info + strings + struct.pack("<I", 0)


def read_with_tool(run_exe, link):
    result = run_exe(TOOL, "--mode=read", f"--link={windows_path(link)}")
    assert result.returncode == 0, result.stderr
    fields = {}
    for line in result.stdout.decode("utf-8").splitlines():
        name, _, value = line.partition("=")
        fields[name] = value
    return fields


def write_with_tool(run_exe, link, *switches):
    return run_exe(TOOL, "--mode=write", f"--link={windows_path(link)}", *switches)


def test_written_link_holds_every_field(run_exe, build_dir, tmp_path):
    link = tmp_path / "Tarvo Browser.lnk"
    target = windows_path(build_dir / TOOL)
    result = write_with_tool(run_exe, link, f"--target={target}", r"--working-dir=C:\windows",
                             '--arguments=--profile "Work one" \u00e9',
                             "--description=Tarvo \u2013 \u00e9t\u00e9",
                             r"--icon=C:\windows\notepad.exe", "--icon-index=3")
    assert result.returncode == 0, result.stderr

    parsed = parse_link(link.read_bytes())
    assert parsed["flags"] & IS_UNICODE
    assert parsed["target"].lower() == target.lower()
    assert parsed["working_dir"] == r"C:\windows"
    assert parsed["arguments"] == '--profile "Work one" \u00e9'
    assert parsed["description"] == "Tarvo \u2013 \u00e9t\u00e9"
    assert parsed["icon"] == r"C:\windows\notepad.exe"
    assert parsed["icon_index"] == 3
    # The ID list names the target's file as its last item.
    assert (build_dir / TOOL).name.encode() in parsed["id_list"]


def test_link_without_optional_fields_stores_only_the_target(run_exe, build_dir, tmp_path):
    link = tmp_path / "plain.lnk"
    target = windows_path(build_dir / TOOL)
    assert write_with_tool(run_exe, link, f"--target={target}").returncode == 0
    parsed = parse_link(link.read_bytes())
    assert parsed["target"].lower() == target.lower()
    for _, name in STRING_FIELDS:
        assert not parsed.get(name), name


def test_update_changes_only_the_given_field(run_exe, build_dir, tmp_path):
    link = tmp_path / "update.lnk"
    target = windows_path(build_dir / TOOL)
    assert write_with_tool(run_exe, link, f"--target={target}", "--arguments=--keep me",
                           "--description=old").returncode == 0
    assert write_with_tool(run_exe, link, "--operation=2", "--description=new").returncode == 0
    parsed = parse_link(link.read_bytes())
    assert parsed["description"] == "new"
    assert parsed["arguments"] == "--keep me"
    assert parsed["target"].lower() == target.lower()


def test_replace_keeps_old_arguments_and_drops_the_rest(run_exe, build_dir, tmp_path):
    link = tmp_path / "replace.lnk"
    target = windows_path(build_dir / TOOL)
    assert write_with_tool(run_exe, link, f"--target={target}", "--arguments=--old args",
                           "--description=old", r"--working-dir=C:\windows").returncode == 0
    assert write_with_tool(run_exe, link, "--operation=1", f"--target={target}",
                           "--description=fresh").returncode == 0
    parsed = parse_link(link.read_bytes())
    assert parsed["arguments"] == "--old args"
    assert parsed["description"] == "fresh"
    assert not parsed.get("working_dir")


def test_refused_writes_leave_no_file(run_exe, build_dir, tmp_path):
    target = windows_path(build_dir / TOOL)
    cases = [
        ("no target", ["--description=x"]),
        ("replace of a missing link", ["--operation=1", f"--target={target}"]),
        ("update of a missing link", ["--operation=2", "--description=x"]),
        ("unknown operation", ["--operation=3", f"--target={target}"]),
    ]
    for name, switches in cases:
        link = tmp_path / f"{name}.lnk"
        assert write_with_tool(run_exe, link, *switches).returncode == 1, name
        assert not link.exists(), name


def test_link_from_an_independent_writer_reads_back(run_exe, tmp_path):
    link = tmp_path / "ours.lnk"
    link.write_bytes(write_link(r"C:\windows\notepad.exe", "Notes \u00e9", r"C:\windows\temp",
                                '--a "b c"', r"C:\windows\regedit.exe", 2))
    fields = read_with_tool(run_exe, link)
    assert fields == {
        "target": r"C:\windows\notepad.exe",
        "working_dir": r"C:\windows\temp",
        "arguments": '--a "b c"',
        "description": "Notes \u00e9",
        "icon": r"C:\windows\regedit.exe",
        "icon_index": "2",
    }


def test_reading_a_damaged_link_fails(run_exe, tmp_path):
    link = tmp_path / "damaged.lnk"
    link.write_bytes(b"\x4c\0\0\0" + b"\xff" * 12)
    result = run_exe(TOOL, "--mode=read", f"--link={windows_path(link)}")
    assert result.returncode == 1
