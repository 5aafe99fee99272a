"""Registry operations run in one transaction by
installer/registry_operations_tool.exe, checked with Wine's own `reg`:
a snapshot (`reg export`) of the test's keys before, after a rollback (the
same bytes) and after a commit (only the intended change), and the keys'
security as SDDL. Every test works below a fresh key of its own,
Software\\TarvoTest\\<uuid>, under HKCU, or under HKLM where the 32-bit view
is needed (Wine keeps it apart there only).

Wine cannot show: keys owned by another account (a key's owner passes
Wine's checks on DELETE, and the take-ownership privilege opens nothing),
and a protected access list given back after a grant (Wine's SetSecurityInfo
drops the protection), so granted keys carry unprotected lists here."""

import re
import subprocess
import uuid

import pytest

from conftest import windows_path

TOOL = "desktop/windows/installer/registry_operations_tool.exe"

ROOTS = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}

REG_SZ, REG_DWORD, REG_QWORD = 1, 4, 11

# Every value type, odd sizes, odd names and the default value.
EVERY_TYPE = """\
@="default text"
"none"=hex(0):01,02
"sz"="text with \\"quotes\\" and \u00fcn\u00efc\u00f6d\u00e9"
"empty sz"=""
"expand"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00
"binary"=hex:00,ff,10
"empty binary"=hex:
"dword"=dword:0000002a
"dword big endian"=hex(5):00,00,00,2a
"link"=hex(6):5c,00,52,00
"multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"resource list"=hex(8):01,02,03
"full resource descriptor"=hex(9):04,05
"requirements"=hex(a):06
"qword"=hex(b):01,00,00,00,00,00,00,80
"type of our own"=hex(123456):07,08
"odd sized sz"=hex(1):41,00,42
"long binary"=hex:{long}
""".replace("{long}", ",".join(f"{i % 256:02x}" for i in range(5000)))

# A protected list that lets the process in, and one with a deny entry that
# keeps it out until it grants itself access.
PROTECTED = "D:P(A;OICI;KA;;;WD)(A;;KR;;;BU)"
DENYING = "D:(D;;0x6;;;WD)(A;;KA;;;WD)"


@pytest.fixture(scope="module", autouse=True)
def wine_server(build_dir):
    """Wine keeps a key's security only while its server runs: one program
    stays open so that a single server serves the whole module."""
    holder = subprocess.Popen([str(build_dir / "wine-run"), str(build_dir / TOOL), "hold"],
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    # The prefix's services start with the first program and keep its
    # output pipes: they must not be the captured ones of a later step.
    subprocess.run([str(build_dir / "wine-run"), "cmd", "/c", "exit", "0"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    yield
    holder.stdin.close()
    holder.wait(timeout=600)


@pytest.fixture(scope="module")
def reg(build_dir):
    def run(*args):
        return subprocess.run([str(build_dir / "wine-run"), "reg", *args],
                              capture_output=True, timeout=600)

    return run


@pytest.fixture(scope="module")
def tool(run_exe):
    def run(*args):
        result = run_exe(TOOL, *args)
        assert result.returncode == 0, (args, result.stdout, result.stderr)
        return result.stdout.decode().split()

    return run


def view_args(view):
    return () if view == "0" else (f"/reg:{view}",)


class OwnKey:
    """A key of the test's own, in one or both views."""

    def __init__(self, tool, root, views):
        self.root, self.views = root, views
        self.path = f"Software\\TarvoTest\\{uuid.uuid4()}"
        self._tool = tool

    def full(self, relative=""):
        return "\\".join(filter(None, [ROOTS[self.root], self.path, relative]))

    def child(self, relative):
        return f"{self.path}\\{relative}"

    def purge(self):
        for view in self.views:
            self._tool("purge", self.root, view, self.path)


@pytest.fixture
def user_key(tool):
    key = OwnKey(tool, "HKCU", ["0"])
    yield key
    key.purge()


@pytest.fixture
def machine_key(tool):
    key = OwnKey(tool, "HKLM", ["32", "64"])
    yield key
    key.purge()


def import_keys(reg, tmp_path, view, keys):
    """Writes {full key path: value lines} with `reg import`."""
    text = "Windows Registry Editor Version 5.00\r\n\r\n"
    for path, lines in keys.items():
        text += f"[{path}]\r\n{lines}\r\n".replace("\n", "\r\n").replace("\r\r", "\r")
    source = tmp_path / f"import-{uuid.uuid4()}.reg"
    source.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    result = reg("import", windows_path(source), *view_args(view))
    assert result.returncode == 0, result.stderr


def export(reg, tmp_path, key, view="0"):
    """The bytes of `reg export` of a key with its subtree; None when it is
    missing."""
    target = tmp_path / f"export-{uuid.uuid4()}.reg"
    result = reg("export", key.full(), windows_path(target), "/y", *view_args(view))
    return target.read_bytes() if result.returncode == 0 else None


def parse_export(data):
    """{key path: {value name: data text}} of an export."""
    text = re.sub(r"\\\r?\n\s*", "", data.decode("utf-16"))
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("["):
            current = keys.setdefault(line[1:-1], {})
        elif current is not None and "=" in line:
            match = re.fullmatch(r'(@|"(?:[^"\\]|\\.)*")=(.*)', line)
            current[match[1]] = match[2]
    return keys


def sddl(tool, root, view, path):
    (text,) = tool("sddl", root, view, path) or [""]
    return text


def set_sddl(tool, root, view, path, text):
    assert tool("set-sddl", root, view, path, text) == ["set"]


def make_tree(reg, tool, tmp_path, key, view):
    """Three levels with every value type; a protected and a denying list.
    Returns the relative paths of the keys whose lists were set."""
    import_keys(reg, tmp_path, view, {
        key.full("Tree"): EVERY_TYPE,
        key.full("Tree\\Level1"): '"v1"=dword:00000001\n',
        key.full("Tree\\Level1\\Level2"): '"v2"="deep"\n@=hex(7):00,00\n',
        key.full("Tree\\Level1\\Level2\\Level3"): "",
        key.full("Tree\\Sibling"): '"s"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff\n',
    })
    # The 32-bit view is granted to on every key here (the access check
    # cannot read it), and a granted list comes back unprotected.
    lists = {"Tree\\Level1": PROTECTED if view != "32" else DENYING,
             "Tree\\Level1\\Level2": DENYING}
    for relative, text in lists.items():
        set_sddl(tool, key.root, view, key.child(relative), text)
    return ["Tree", "Tree\\Level1", "Tree\\Level1\\Level2",
            "Tree\\Level1\\Level2\\Level3", "Tree\\Sibling"]


def test_deleted_tree_comes_back_byte_for_byte(tool, reg, user_key, tmp_path):
    keys = make_tree(reg, tool, tmp_path, user_key, "0")
    before = export(reg, tmp_path, user_key)
    lists = {k: sddl(tool, "HKCU", "0", user_key.child(k)) for k in keys}
    assert lists["Tree\\Level1"].endswith(PROTECTED)

    tree = user_key.child("Tree")
    assert tool("run", "--fail", "delete", "HKCU", "0", tree) == ["delete", "1", "rollback"]
    assert export(reg, tmp_path, user_key) == before
    assert {k: sddl(tool, "HKCU", "0", user_key.child(k)) for k in keys} == lists

    assert tool("run", "delete", "HKCU", "0", tree) == ["delete", "1", "commit"]
    after = parse_export(export(reg, tmp_path, user_key))
    assert after == {user_key.full(): {}}


def test_thirty_two_bit_deletion_leaves_the_64_bit_twin(tool, reg, machine_key, tmp_path):
    keys = make_tree(reg, tool, tmp_path, machine_key, "32")
    import_keys(reg, tmp_path, "64", {machine_key.full("Tree"): '"twin"="64-bit"\n'})
    before = {v: export(reg, tmp_path, machine_key, v) for v in ("32", "64")}
    lists = {k: sddl(tool, "HKLM", "32", machine_key.child(k)) for k in keys}
    assert before["32"] != before["64"]

    tree = machine_key.child("Tree")
    assert tool("run", "--fail", "delete", "HKLM", "32", tree) == ["delete", "1", "rollback"]
    assert {v: export(reg, tmp_path, machine_key, v) for v in ("32", "64")} == before
    assert {k: sddl(tool, "HKLM", "32", machine_key.child(k)) for k in keys} == lists

    assert tool("run", "delete", "HKLM", "32", tree) == ["delete", "1", "commit"]
    assert parse_export(export(reg, tmp_path, machine_key, "32")) == {machine_key.full(): {}}
    assert export(reg, tmp_path, machine_key, "64") == before["64"]


def test_created_keys_go_in_their_own_view(tool, reg, machine_key, tmp_path):
    # The 64-bit view already holds the whole path; the 32-bit one only the
    # test key. A rollback must delete the 32-bit keys and nothing else.
    import_keys(reg, tmp_path, "64", {machine_key.full("A\\B\\C"): '"keep"=dword:00000007\n'})
    before = {v: export(reg, tmp_path, machine_key, v) for v in ("32", "64")}
    path = machine_key.child("A\\B\\C")

    assert tool("run", "--rollback", "create", "HKLM", "32", path) == \
        ["create", "1", "rollback"]
    assert {v: export(reg, tmp_path, machine_key, v) for v in ("32", "64")} == before

    assert tool("run", "create", "HKLM", "32", path) == ["create", "1", "commit"]
    assert set(parse_export(export(reg, tmp_path, machine_key, "32"))) == {
        machine_key.full(), machine_key.full("A"), machine_key.full("A\\B"),
        machine_key.full("A\\B\\C")}
    assert export(reg, tmp_path, machine_key, "64") == before["64"]


# operation arguments after root and view (the key relative to the test
# key), the expected change after a commit: {relative key: {name: text or
# None for a value that goes}}, and keys that appear.
VALUE_CASES = [
    pytest.param(["set", "K", "new", "4", "05000000"],
                 {"K": {'"new"': "dword:00000005"}}, [], id="new value"),
    pytest.param(["set", "K", "sz", "11", "0100000000000000"],
                 {"K": {'"sz"': "hex(b):01,00,00,00,00,00,00,00"}}, [], id="other type"),
    pytest.param(["set", "K", "@", "1", "6100"], {"K": {"@": '"a"'}}, [], id="default value"),
    pytest.param(["remove", "K", "sz"], {"K": {'"sz"': None}}, [], id="remove value"),
    pytest.param(["remove", "K", "missing"], {}, [], id="remove missing value"),
    pytest.param(["remove", "Missing", "v"], {}, [], id="remove under missing key"),
    pytest.param(["set", "K\\New\\Deeper", "v", "3", "ff"],
                 {"K\\New\\Deeper": {'"v"': "hex:ff"}}, ["K\\New", "K\\New\\Deeper"],
                 id="value under missing keys"),
]


@pytest.mark.parametrize("operation,change,new_keys", VALUE_CASES)
def test_value_change_is_undone_or_kept_alone(tool, reg, user_key, tmp_path,
                                             operation, change, new_keys):
    import_keys(reg, tmp_path, "0", {user_key.full("K"): '"sz"="old"\n"other"=dword:00000001\n'})
    before = export(reg, tmp_path, user_key)
    word, relative, *rest = operation
    arguments = [word, "HKCU", "0", user_key.child(relative), *rest]

    assert tool("run", "--fail", *arguments) == [word, "1", "rollback"]
    assert export(reg, tmp_path, user_key) == before

    assert tool("run", *arguments) == [word, "1", "commit"]
    expected = parse_export(before)
    for key in new_keys:
        expected[user_key.full(key)] = {}
    for key, values in change.items():
        for name, text in values.items():
            if text is None:
                del expected[user_key.full(key)][name]
            else:
                expected[user_key.full(key)][name] = text
    assert parse_export(export(reg, tmp_path, user_key)) == expected


def test_deny_entry_is_granted_past_and_given_back(tool, reg, user_key, tmp_path):
    import_keys(reg, tmp_path, "0", {user_key.full("Locked"): '"v"=dword:00000001\n'})
    locked = user_key.child("Locked")
    set_sddl(tool, "HKCU", "0", locked, DENYING)
    before_list = sddl(tool, "HKCU", "0", locked)
    before = export(reg, tmp_path, user_key)
    arguments = ["set", "HKCU", "0", locked, "v", "4", "02000000",
                 "create", "HKCU", "0", locked + "\\Child"]

    # The value is written and the key created under the deny entry.
    assert tool("run", "--fail", *arguments) == ["set", "1", "create", "1", "rollback"]
    assert export(reg, tmp_path, user_key) == before
    assert sddl(tool, "HKCU", "0", locked) == before_list

    assert tool("run", *arguments) == ["set", "1", "create", "1", "commit"]
    assert sddl(tool, "HKCU", "0", locked) == before_list
    after = parse_export(export(reg, tmp_path, user_key))
    assert after[user_key.full("Locked")] == {'"v"': "dword:00000002"}
    assert user_key.full("Locked\\Child") in after


def test_parent_that_refuses_subkeys_is_opened_for_creating_alone(tool, reg, user_key,
                                                                  tmp_path):
    # Values may be read and written, subkeys not created: the right that
    # creating needs is the one tested and granted.
    import_keys(reg, tmp_path, "0", {user_key.full("NoSubkeys"): ""})
    parent = user_key.child("NoSubkeys")
    set_sddl(tool, "HKCU", "0", parent, "D:(D;;0x4;;;WD)(A;;KA;;;WD)")
    before_list = sddl(tool, "HKCU", "0", parent)

    assert tool("run", "create", "HKCU", "0", parent + "\\A\\B") == ["create", "1", "commit"]
    assert sddl(tool, "HKCU", "0", parent) == before_list
    assert user_key.full("NoSubkeys\\A\\B") in parse_export(export(reg, tmp_path, user_key))


@pytest.mark.parametrize("type_code, type_name", [
    (1, "REG_SZ"), (2, "REG_EXPAND_SZ"), (7, "REG_MULTI_SZ"),
])
def test_empty_string_value_is_written_with_its_terminator(tool, reg, user_key, type_code,
                                                          type_name):
    # Written with no bytes at all, such a value crashed `reg query`.
    assert tool("run", "set", "HKCU", "0", user_key.child("K"), "empty", str(type_code), "") \
        == ["set", "1", "commit"]
    result = reg("query", user_key.full("K"), "/v", "empty")
    assert result.returncode == 0, result.stderr
    assert re.search(rf"empty\s+{type_name}", result.stdout.decode(errors="replace"))
