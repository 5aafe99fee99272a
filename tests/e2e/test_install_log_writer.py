"""The install log as install_log_tool.exe writes it: byte for byte against
golden copies, parsed by Python's xml.etree into the documented layout, and
read back by the installer's own reader into the record that was written."""

import json
import subprocess
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from conftest import windows_path
from test_install_log import TOOL, UTF8_ENV, full_record, log_tree, minimal_record, read_log  # noqa: F401

GOLDEN = Path(__file__).resolve().parents[2] / "desktop/windows/installer/test/data/install_log"


def default_record():
    """A fresh record with a path and one file."""
    return {
        "copy_only": False, "all_users": True, "pinned": False, "app_id": "", "version": "",
        "path": "C:\\Program Files\\Tarvo\\Application", "subfolder": "",
        "files": ["tarvo.exe"], "root_files": [], "hklm_registry": [], "hkcu_registry": [],
        "desktop_shortcut": "", "start_menu_shortcut": "", "quick_launch_shortcut": "",
        "components": [],
    }


def escapes_record():
    """Characters that need escaping, in text and in attributes, text outside
    the Basic Multilingual Plane, and outer blanks."""
    record = minimal_record()
    record.update({
        "app_id": "a&b<c>\"d\"'e'",
        "subfolder": "Line\nbreak\tand\r\nreturn",
        "files": ["&amp; is not an entity.txt", "<tag>.dll", "😀 ファイル.pak", " leading blank.txt"],
        "hkcu_registry": [
            {"clean": 3, "path": "Software\\R&D <Tärvö>",
             "values": [["REG_SZ", "first\"second\"", "line one\r\nline\ttwo > three"]],
             "view": "32"},
        ],
    })
    return record


GOLDEN_CASES = {
    "default_one_file": default_record,
    "all_sections_all_users": lambda: full_record(True),
    "all_sections_current_user": lambda: full_record(False),
    "escapes_and_non_ascii": escapes_record,
}

ROUND_TRIP_CASES = {**GOLDEN_CASES, "no_files": lambda: {**minimal_record(), "files": []}}


@pytest.fixture
def write_log(build_dir, tmp_path):
    """write_log(record) -> the bytes of the log the tool wrote for it."""

    def write(record):
        record_file = tmp_path / "record.json"
        record_file.write_text(json.dumps(record, ensure_ascii=False), encoding="utf-8")
        log = tmp_path / "installation_status.xml"
        command = [str(build_dir / "wine-run"), str(build_dir / TOOL),
                   f"--write={windows_path(log)}", f"--record={windows_path(record_file)}"]
        result = subprocess.run(command, capture_output=True, timeout=600, env=UTF8_ENV)
        assert result.returncode == 0, result.stderr
        return log.read_bytes()

    return write


@pytest.mark.parametrize("case", GOLDEN_CASES)
def test_written_log_matches_golden_copy(write_log, case):
    assert write_log(GOLDEN_CASES[case]()) == (GOLDEN / f"{case}.xml").read_bytes()


def assert_same_layout(written, expected, depth=0):
    """Same names, attributes in the same order and texts; an element with
    children has each on a line of its own, one blank deeper than itself."""
    assert (written.tag, list(written.attrib.items())) == (expected.tag, list(expected.attrib.items()))
    children = list(written)
    assert len(children) == len(expected)
    if not children:
        assert (written.text or "") == (expected.text or ""), written.tag
        return
    assert written.text == "\n" + " " * (depth + 1), written.tag
    for index, (child, expected_child) in enumerate(zip(children, expected)):
        last = index == len(children) - 1
        assert child.tail == "\n" + " " * (depth if last else depth + 1), child.tag
        assert_same_layout(child, expected_child, depth + 1)


@pytest.mark.parametrize("case", ROUND_TRIP_CASES)
def test_written_log_parses_into_the_documented_layout(write_log, case):
    record = ROUND_TRIP_CASES[case]()
    data = write_log(record)
    declaration = b'<?xml version="1.0"?>\n'
    assert data.startswith(declaration)
    assert data.endswith(b">\n") and b"\r" not in data
    root = ET.fromstring(data)
    assert root.tail is None
    assert_same_layout(root, log_tree(record))


@pytest.mark.parametrize("case", ROUND_TRIP_CASES)
def test_written_log_reads_back_into_the_same_record(write_log, read_log, case):
    record = ROUND_TRIP_CASES[case]()
    assert read_log(write_log(record)) == (True, "", record)
