"""The install log "installation_status.xml" as install_log_tool.exe reads
it: each log is written by Python's xml.etree in the writer's layout, and
the record that comes back is compared field for field, or the read's
failure text with the one expected."""

import copy
import json
import os
import subprocess
import xml.etree.ElementTree as ET

import pytest

from conftest import windows_path

TOOL = "desktop/windows/installer/install_log_tool.exe"

# Non-ASCII arguments reach Wine programs through the Unix locale.
UTF8_ENV = {**os.environ, "LC_ALL": "C.UTF-8"}

SHORTCUT_TYPES = {  # field: (type when for all users, type otherwise)
    "desktop_shortcut": ("SC_DEST_COMMON_DESKTOP", "SC_DEST_DESKTOP"),
    "start_menu_shortcut": ("SC_DEST_COMMON_MENU", "SC_DEST_MENU"),
    "quick_launch_shortcut": ("SC_DEST_QUICK_LAUNCH", "SC_DEST_QUICK_LAUNCH"),
}


def full_record(all_users):
    home = "C:\\Users\\Jörg Müller\\AppData\\Local\\Tärvö"
    return {
        "copy_only": True,
        "all_users": all_users,
        "pinned": False,
        "app_id": "Tärvö.9f86d081",
        "version": "120.0.6099.5",
        "path": home + "\\Application",
        "subfolder": "Application",
        "files": ["tarvo.exe", "120.0.6099.5\\résumé ファイル.dll", "a&b <c> \"d\".txt"],
        "root_files": ["tarvo_proxy.exe"],
        "hklm_registry": [
            {"clean": 2, "path": "Software\\Classes\\TarvoHTML",
             "values": [["REG_SZ", "", "Tarvo HTML Document"], ["REG_DWORD", "EditFlags", "00000002"]]},
            {"clean": 0, "path": "Software\\Classes\\.htm", "values": []},
            {"clean": 1, "path": "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo",
             "values": [["REG_DWORD", "NoModify", "00000001"]], "view": "32"},
        ],
        "hkcu_registry": [
            {"clean": -1, "path": "Software\\Tarvo\\Ünïcode",
             "values": [["REG_BINARY", "Blob", "0a,ff,00"], ["REG_EXPAND_SZ", "Icon", home + "\\tarvo.exe,0"],
                        ["REG_QWORD", "Wide", ""]]},
        ],
        "desktop_shortcut": "C:\\Users\\Jörg Müller\\Desktop\\Tärvö.lnk",
        "start_menu_shortcut": "C:\\ProgramData\\Start Menu\\Tärvö.lnk",
        "quick_launch_shortcut": "C:\\Quick Launch\\Tärvö.lnk",
        "components": [["pepper_flash", home + "\\PepperFlash"], ["wïdevine", home + "\\WidevineCdm"]],
    }


def flag(value):
    return "True" if value else "False"


def log_tree(record):
    """The elements the writer emits for the record, in its order."""
    root = ET.Element("install_log", {
        "version": record["version"], "copy_only": flag(record["copy_only"]),
        "all_users": flag(record["all_users"]), "pinned": flag(record["pinned"]),
        "app_id": record["app_id"]})
    ET.SubElement(root, "path", subfolder=record["subfolder"]).text = record["path"]
    for list_name, field in (("files", "files"), ("root_files", "root_files")):
        if record[field] or list_name == "files":
            element = ET.SubElement(root, list_name)
            for name in record[field]:
                ET.SubElement(element, "file").text = name
    for hive in ("HKLM", "HKCU"):
        keys = record[hive.lower() + "_registry"]
        if keys:
            registry = ET.SubElement(root, "registry", hive=hive)
            for key in keys:
                key_element = ET.SubElement(registry, "key", path=key["path"], clean=str(key["clean"]))
                if "view" in key:
                    key_element.set("view", key["view"])
                for type_name, name, data in key["values"]:
                    ET.SubElement(key_element, "value", name=name, type=type_name).text = data
    for field, (common, own) in SHORTCUT_TYPES.items():
        if record[field]:
            ET.SubElement(root, "shortcut", type=common if record["all_users"] else own).text = record[field]
    if record["components"]:
        components = ET.SubElement(root, "components")
        for name, path in record["components"]:
            component = ET.SubElement(components, "component")
            ET.SubElement(component, "name").text = name
            ET.SubElement(component, "path").text = path
    return root


def decorate(element):
    """Comments between and around all child elements."""
    children = list(element)
    for child in children:
        decorate(child)
    if children:
        for index in range(len(children), -1, -1):
            element.insert(index, ET.Comment(f" note {index} "))


def document(root, indent=False):
    if indent:
        ET.indent(root, space=" ")
    # The writer's declaration: no encoding named, so UTF-8 is assumed.
    return b'<?xml version="1.0"?>\n' + ET.tostring(root, encoding="unicode").encode() + b"\n"


@pytest.fixture
def read_log(run_exe, build_dir, tmp_path):
    """read_log(bytes) -> (ok, error, record) from a log in a non-ASCII folder."""

    def read(data):
        folder = tmp_path / "Tärvö"
        folder.mkdir(exist_ok=True)
        log = folder / "installation_status.xml"
        log.write_bytes(data)
        command = [str(build_dir / "wine-run"), str(build_dir / TOOL), f"--log={windows_path(log)}"]
        result = subprocess.run(command, capture_output=True, timeout=600, env=UTF8_ENV)
        answer = json.loads(result.stdout.decode("utf-8"))
        assert result.returncode == (0 if answer["ok"] else 1), result.stderr
        return answer["ok"], answer["error"], answer["log"]

    return read


@pytest.mark.parametrize("all_users,decorated", [(True, False), (False, True)])
def test_full_log_reads_back_field_for_field(read_log, all_users, decorated):
    record = full_record(all_users)
    root = log_tree(record)
    if decorated:
        decorate(root)
    prologue = b'<?xml version="1.0"?>\n<!-- before the root --><?tarvo ignored?>\n'
    data = document(root, indent=decorated)
    if decorated:
        data = prologue + data.split(b"\n", 1)[1]
    assert read_log(data) == (True, "", record)


def minimal_record():
    record = full_record(True)
    for field in ("root_files", "hklm_registry", "hkcu_registry", "components"):
        record[field] = []
    for field in SHORTCUT_TYPES:
        record[field] = ""
    return record


def with_fields(**fields):
    record = minimal_record()
    record.update(fields)
    return record


# Logs the writer produces with sections left out, including one that ends
# right after its files and one without files.
@pytest.mark.parametrize("record", [
    minimal_record(),
    with_fields(files=[]),
    with_fields(root_files=["tarvo_proxy.exe"]),
    with_fields(components=full_record(True)["components"]),
    with_fields(hkcu_registry=full_record(True)["hkcu_registry"], quick_launch_shortcut="C:\\q.lnk"),
], ids=["files only", "no files", "root files last", "components without shortcuts", "registry and shortcut"])
def test_log_with_sections_left_out_reads_back(read_log, record):
    assert read_log(document(log_tree(record), indent=True)) == (True, "", record)


def test_flags_are_true_only_when_spelled_True_and_app_id_is_optional(read_log):
    root = log_tree(minimal_record())
    root.set("copy_only", "true")
    del root.attrib["app_id"]
    ok, error, record = read_log(document(root))
    assert (ok, error) == (True, "")
    assert (record["copy_only"], record["app_id"]) == (False, "")


def test_registry_elements_of_one_hive_are_appended(read_log):
    root = log_tree(full_record(True))
    registries = root.findall("registry")
    registries[1].set("hive", "HKLM")
    ok, error, record = read_log(document(root))
    assert (ok, error) == (True, "")
    expected = full_record(True)
    assert record["hklm_registry"] == expected["hklm_registry"] + expected["hkcu_registry"]
    assert record["hkcu_registry"] == []


def insert_after(root, tag, new_tag):
    position = list(root).index(root.find(tag)) + 1
    root.insert(position, ET.Element(new_tag))


def swap_component_children(root):
    component = root.find("components/component")
    children = list(component)
    component[:] = children[::-1]


FAILURES = [
    ("root misnamed", lambda r: setattr(r, "tag", "install_status"),
     "The root element's name is invalid"),
    ("no version", lambda r: r.attrib.pop("version"),
     "There's no version attribute on the root element"),
    ("no pinned", lambda r: r.attrib.pop("pinned"),
     "There's no pinned attribute on the root element"),
    ("path misnamed", lambda r: setattr(r.find("path"), "tag", "folder"),
     "The path element is not named correctly"),
    ("empty root files", lambda r: r.find("root_files").clear(),
     "Cannot proceed to the first root file"),
    ("file misnamed", lambda r: setattr(r.find("files/file"), "tag", "entry"),
     "File element is incorrectly named"),
    ("unknown element after files", lambda r: insert_after(r, "files", "extra"),
     "Invalid element in place of the optional root files list"),
    ("unknown element after root files", lambda r: insert_after(r, "root_files", "extra"),
     "Invalid successor of root files list"),
    ("hive HKCR", lambda r: r.find("registry").set("hive", "HKCR"),
     "The hive attribute is not HKLM nor HKCU"),
    ("no hive", lambda r: r.find("registry").attrib.pop("hive"),
     "Cannot get the hive attibute of a registry element"),
    ("value without type", lambda r: r.find("registry/key/value").attrib.pop("type"), ""),
    ("key with a clean depth not a number", lambda r: r.find("registry/key").set("clean", "two"), ""),
    ("key in an unknown view", lambda r: r.find("registry/key").set("view", "64"), ""),
    ("unknown element after registry", lambda r: insert_after(r, "registry", "extra"),
     "Invalid successor of the registry element"),
    ("shortcut without type", lambda r: r.find("shortcut").attrib.pop("type"),
     "A shortcut element doesn't feature a type attribute"),
    ("unknown shortcut type", lambda r: r.find("shortcut").set("type", "SC_DEST_STARTUP"),
     "Invalid shortcut type SC_DEST_STARTUP"),
    ("unknown element after shortcuts", lambda r: insert_after(r, "shortcut", "extra"), ""),
    ("component children swapped", swap_component_children,
     "Component's first child is not called name"),
    ("element after components", lambda r: r.append(ET.Element("extra")),
     "Components are not the last element in status"),
]


@pytest.mark.parametrize("mutate,expected", [case[1:] for case in FAILURES],
                         ids=[case[0] for case in FAILURES])
def test_deviation_fails_with_its_text(read_log, mutate, expected):
    root = log_tree(full_record(True))
    mutate(root)
    ok, error, _ = read_log(document(root, indent=True))
    assert (ok, error) == (False, expected)


def test_text_that_is_not_xml_fails_to_parse(read_log):
    data = document(log_tree(minimal_record()))[:-20]
    assert read_log(data)[:2] == (False, "Cannot parse the file as XML: Cannot load the document from file")
