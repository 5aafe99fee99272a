"""The default-browser and association operations as registry_table_tool.exe
runs them below a test key, with Wine's version set per program to Windows
7, 8.1 and 10. What they register is read back by Wine's `reg export` and
`reg query` and by the shell's AssocQueryStringW in the tool, and compared
with what Python computes from the rows of the entry tables; a failing row
leaves a `reg export` of the key as it was, byte for byte.

Wine lacks the shell's association services (the registration service
answers E_NOTIMPL, the activation manager is not registered) and the
Open-with dialog would show a window: the tool runs with a recording
stand-in for them, so these tests check which calls each version makes,
never their effect. The user's choice of a handler, which only those
services change, therefore stays as the test left it."""

import json
import shutil
import subprocess
import uuid

import pytest

from conftest import windows_path
from test_registry_entries import parse_reg, table_rows

TOOL = "desktop/windows/installer/registry_table_tool.exe"

INSTALL_DIR = "C:\\Program Files\\T\u00e4rv\u00f6"
PROTOCOL_COMMAND = f'"{INSTALL_DIR}\\launcher.exe" -noautoupdate -- "%1"'
DOCUMENT_COMMAND = f'"{INSTALL_DIR}\\Launcher.exe" -noautoupdate -- "%1"'
OTHER_COMMAND = '"C:\\Other\\browser.exe" "%1"'
PLACEHOLDERS = {"Product": "Tarvo", "Stream": "developer", "InstallFolder": INSTALL_DIR}
REGISTERED_NAME = "Tarvo developer"

REG_SZ, REG_DWORD, REMOVE_VALUE, DELETE_KEY = 1, 4, -1, -2
PROTOCOLS = ["http", "https", "ftp"]
EXTENSIONS = [".lrx", ".htm", ".html", ".tvext", ".qrdownload", ".shtml", ".xht",
              ".xhtml"]
HTTP_CHOICE = "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice"
OPEN_WITH_HTTP = ["ShowOpenWithDialog(http, 0x4a)", "NotifyAssociationChanged()"]
OPEN_SETTINGS_FOR_BROWSER = (
    "ActivateApplication(windows.immersivecontrolpanel_cw5n1h2txyewy"
    "!microsoft.windows.immersivecontrolpanel, page=SettingsPageAppsDefaults, "
    "page=SettingsPageAppsDefaults&target=SystemSettings_DefaultApps_Browser)")
QUERY_START_MENU = f"QueryAppIsDefault(StartmenuInternet, 2, 1, {REGISTERED_NAME})"

# Wine's version name -> the version index the tool must see.
VERSIONS = {"win7": 4, "win81": 6, "win10": 7}
# The keys the operations write; Wine's own libraries keep caches elsewhere
# below the redirected roots.
WATCHED = ("software\\classes\\", "software\\clients\\", "software\\microsoft\\windows\\")


def reg(build_dir, *args):
    return subprocess.run([str(build_dir / "wine-run"), "reg", *args],
                          capture_output=True, timeout=600)


@pytest.fixture(scope="module", autouse=True)
def wine_server(build_dir):
    """Volatile keys live only as long as Wine's server: one program stays
    open so that a single server serves the whole module."""
    holder = subprocess.Popen([str(build_dir / "wine-run"), "cmd"], stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The prefix's services start with the first program and keep its
    # output pipes: they must not be the captured ones of a later step.
    subprocess.run([str(build_dir / "wine-run"), "cmd", "/c", "exit", "0"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    yield
    holder.stdin.close()
    holder.wait(timeout=600)


@pytest.fixture(scope="module")
def programs(build_dir, tmp_path_factory):
    """The tool for each Wine version: copies with names of their own carry
    the version, which leaves the prefix's Windows 10 to everything else."""
    folder = tmp_path_factory.mktemp("programs")
    paths, settings = {"win10": build_dir / TOOL}, []
    for version in ("win7", "win81"):
        program = folder / f"tarvo_associations_{version}_{uuid.uuid4().hex[:8]}.exe"
        shutil.copy(build_dir / TOOL, program)
        settings.append(f"HKCU\\Software\\Wine\\AppDefaults\\{program.name}")
        assert reg(build_dir, "add", settings[-1], "/v", "Version", "/d", version,
                   "/f").returncode == 0
        paths[version] = program
    yield paths
    for key in settings:
        reg(build_dir, "delete", key, "/f")


class Redirect:
    """HKCU\\Software\\TarvoTest\\<uuid>, whose "user" and "machine" keys the
    tool takes as the roots."""

    def __init__(self, build_dir, programs, tmp_path):
        self.build_dir, self.programs, self.tmp_path = build_dir, programs, tmp_path
        self.key = f"Software\\TarvoTest\\{uuid.uuid4()}"

    def full(self, root):
        return f"HKEY_CURRENT_USER\\{self.key}\\{root}"

    def add(self, root, key, name, data):
        value = ["/v", name] if name else ["/ve"]
        result = reg(self.build_dir, "add", f"{self.full(root)}\\{key}", *value, "/d",
                     data, "/f")
        assert result.returncode == 0, result.stderr

    def run(self, version, steps, *switches):
        script = self.tmp_path / f"steps-{uuid.uuid4()}.json"
        script.write_text(json.dumps(steps), encoding="utf-8")
        result = subprocess.run(
            [str(self.build_dir / "wine-run"), str(self.programs[version]),
             f"--associations={windows_path(script)}", f"--redirect={self.key}",
             f"--install-dir={INSTALL_DIR}", *switches],
            capture_output=True, timeout=600)
        assert result.returncode == 0, (result.stdout, result.stderr)
        answer = json.loads(result.stdout.decode("utf-8"))
        assert answer["windows_version"] >= VERSIONS[version]
        assert answer["windows_version"] < 7 or version == "win10"
        return answer

    def export(self, root):
        """The bytes of `reg export` of one root's subtree."""
        target = self.tmp_path / f"export-{uuid.uuid4()}.reg"
        result = reg(self.build_dir, "export", self.full(root), windows_path(target), "/y")
        assert result.returncode == 0, result.stderr
        return target.read_bytes()

    def watched(self, root):
        """{key: {name: (type, data)}} of the keys the operations write."""
        written = parse_reg(self.export(root).decode("utf-16"), self.full(root))
        return {key: values for key, values in written.items() if key.startswith(WATCHED)}

    def delete(self):
        reg(self.build_dir, "delete", f"HKEY_CURRENT_USER\\{self.key}", "/f")


@pytest.fixture
def redirect(build_dir, programs, tmp_path):
    keys = Redirect(build_dir, programs, tmp_path)
    yield keys
    keys.delete()


def apply_rows(rows, root, version, association, registry, keep_user_choice=False):
    """Applies the rows that apply to `registry` ({key: {name: (type,
    data)}}, keys lower-cased as the registry compares them)."""
    if keep_user_choice:
        rows = rows[:-1]
    values = {**PLACEHOLDERS, "Protocol": association, "Extension": association}
    for row in rows:
        if version < row["min_version"] or row["root"] not in (None, root):
            continue
        key = row["key"].format_map(values).lower()
        name = (row["name"] or "").format_map(values)
        if row["kind"] == DELETE_KEY:
            for other in [k for k in registry if k == key or k.startswith(key + "\\")]:
                del registry[other]
        elif row["kind"] == REMOVE_VALUE:
            registry.get(key, {}).pop(name, None)
        elif row["kind"] == REG_SZ:
            data = (row["data"] or "").format_map(values)
            registry.setdefault(key, {})[name] = (REG_SZ, data)
        else:
            registry.setdefault(key, {})[name] = (row["kind"], row["data"])
    return {key: values for key, values in registry.items() if values}


def handler_rows(association):
    return table_rows("extension" if association[0] == "." else "protocol")


def shell_commands(answer_results, associations):
    return dict(zip(associations, answer_results[-len(associations):]))


ALL = PROTOCOLS + EXTENSIONS
BROWSER_STEPS = ([{"call": "IsDefaultBrowser"},
                  {"call": "MakeDefaultBrowser", "all_users": False},
                  {"call": "IsAssociationOurs", "association": "http"},
                  {"call": "IsAssociationOurs", "association": "https"},
                  {"call": "IsDefaultStartMenuClient"}] +
                 [{"call": "ShellCommand", "association": a} for a in ALL])


@pytest.mark.parametrize("all_users_installation", [False, True],
                         ids=["user-installation", "machine-installation"])
@pytest.mark.parametrize("version", list(VERSIONS))
def test_default_browser_for_the_user(redirect, version, all_users_installation):
    """The user asks for the browser. Before Windows 8 the handlers of every
    browser association and the start-menu client are written (through the
    registration service as well for an all-users installation, whose
    user's choice of "http" then stays); Windows 8.1 shows the Open-with
    dialog for "http" and writes its handler; Windows 10 opens the Settings
    app. The service's answers and the user's choices come from the
    stand-in: Wine has neither service and the dialog would need a user."""
    redirect.add("user", HTTP_CHOICE, "Progid", "OtherBrowser")
    redirect.add("user", "Software\\Classes\\OtherBrowser\\shell\\open\\command", "",
                 OTHER_COMMAND)
    before = redirect.watched("user")
    switches = ["--all-users-installation"] if all_users_installation else []
    answer = redirect.run(version, BROWSER_STEPS, *switches)
    index = answer["windows_version"]

    registry = dict(before)
    registry = apply_rows(table_rows("document_class"), "user", index, "", registry)
    legacy = index < 5
    written = ALL if legacy else ["http"] if index < 7 else []
    keep_choice = all_users_installation or not legacy
    for association in written:
        registry = apply_rows(handler_rows(association), "user", index, association,
                              registry, keep_user_choice=keep_choice)
    if legacy:
        registry = apply_rows(table_rows("start_menu_internet"), "user", index, "",
                              registry)
    assert redirect.watched("user") == registry
    assert redirect.watched("machine") == {}

    calls = {"win7": [], "win81": OPEN_WITH_HTTP, "win10": [OPEN_SETTINGS_FOR_BROWSER]}[version]
    if version == "win7" and all_users_installation:
        calls = [f"SetAppAsDefault({REGISTERED_NAME}, {a}, {0 if a[0] == '.' else 1})"
                 for a in ALL] + [f"SetAppAsDefault({REGISTERED_NAME}, StartmenuInternet, 2)"]
    # An all-users installation asks the service whether it is the
    # start-menu client.
    if all_users_installation:
        calls = calls + [QUERY_START_MENU]
    assert answer["shell_calls"] == calls

    http_ours = "http" in written and not keep_choice
    start_menu = all_users_installation or legacy
    is_default_before, made_default, http, https, start_menu_client = answer["results"][:5]
    assert not is_default_before
    assert (made_default, http, https, start_menu_client) == \
        (http_ours and legacy, http_ours, "https" in written, start_menu)
    assert shell_commands(answer["results"], ALL) == {
        a: (DOCUMENT_COMMAND if a[0] == "." else PROTOCOL_COMMAND) if a in written else None
        for a in ALL}
    # Wine's reg agrees on the start-menu client.
    query = reg(redirect.build_dir, "query",
                f"{redirect.full('user')}\\Software\\Clients\\StartMenuInternet", "/ve")
    assert (query.returncode == 0) == legacy
    if legacy:
        assert "Tarvodeveloper" in query.stdout.decode()


@pytest.mark.parametrize("version", list(VERSIONS))
def test_default_browser_for_all_users(redirect, version):
    """Only Windows 7 and earlier take an all-users request: the machine's
    classes get the handlers, and the old DDE keys go. From Windows 8 on only
    the document class is written. The start-menu answer comes from the
    stand-in: Wine's registration service answers E_NOTIMPL."""
    dde = "Software\\Classes\\{}\\shell\\open\\ddeexec"
    for owner in ("Tarvodeveloper", "http"):
        redirect.add("machine", dde.format(owner), "", "old")
        redirect.add("machine", dde.format(owner) + "\\Topic", "", "old")
    before = redirect.watched("machine")
    steps = ([{"call": "MakeDefaultBrowser", "all_users": True}] +
             [{"call": "ShellCommand", "association": a} for a in ALL])
    answer = redirect.run(version, steps, "--all-users-installation", "--machine-classes")
    index = answer["windows_version"]

    legacy = index < 5
    registry = apply_rows(table_rows("document_class"), "machine", index, "",
                          dict(before))
    for association in ALL if legacy else []:
        registry = apply_rows(handler_rows(association), "machine", index, association,
                              registry)
    if legacy:
        registry = apply_rows(table_rows("start_menu_internet"), "machine", index, "",
                              registry)
    assert redirect.watched("machine") == registry
    assert redirect.watched("user") == {}
    assert answer["results"][0] == legacy
    assert answer["shell_calls"] == ([QUERY_START_MENU] if legacy else [])
    assert shell_commands(answer["results"], ALL) == {
        a: (DOCUMENT_COMMAND if a[0] == "." else PROTOCOL_COMMAND) if legacy else None
        for a in ALL}


@pytest.mark.parametrize("version", ["win7", "win81"])
def test_failing_row_leaves_the_registry_as_it_was(redirect, version):
    """A volatile key takes no lasting subkeys, so the rows that write below
    the DDE keys fail after those before them were written: every operation
    rolls its transaction back. (Windows 10 writes no handler rows.) The
    Open-with dialog of Windows 8.1 is the stand-in's: it would need a
    user."""
    setup = [{"call": "CreateVolatileKey", "association": dde}
             for dde in ("Software\\Classes\\http\\shell\\open\\ddeexec",
                         "Software\\Classes\\Tarvodeveloper\\shell\\open\\ddeexec")]
    assert redirect.run(version, setup)["results"] == [True, True]
    redirect.add("user", HTTP_CHOICE, "Progid", "OtherBrowser")
    snapshot = redirect.export("user")
    answer = redirect.run(version, [
        {"call": "MakeDefaultForAssociation", "association": "http", "all_users": False},
        {"call": "RegisterAssociations", "all_users": False},
        {"call": "MakeDefaultBrowser", "all_users": False},
    ])
    assert answer["results"] == [False, False, False]
    assert redirect.export("user") == snapshot
