"""The help role's output: the text against a golden copy, and the role run
for real in a console of its own."""

import os
from pathlib import Path

import pytest

from conftest import windows_path

HELP_TOOL = "desktop/windows/installer/help_tool.exe"
GOLDEN = Path(__file__).resolve().parents[2] / "desktop/windows/installer/test/data/help.txt"
# Slips of the installer's own texts, printed as they stand.
SLIPS = ["acount", "Window 7", "singleprofile", "specified language.This"]


def test_help_text_matches_golden_copy(run_exe):
    result = run_exe(HELP_TOOL, "text", check=True)
    assert result.stdout.decode() == GOLDEN.read_text()


def test_golden_copy_keeps_the_slips():
    text = GOLDEN.read_text()
    assert all(slip in text for slip in SLIPS)


# Without an X display Wine's console has no screen buffer to read back.
@pytest.mark.skipif(not os.environ.get("DISPLAY"), reason="needs an X display")
def test_help_role_prints_into_its_console_and_pauses(run_exe, tmp_path):
    output = tmp_path / "console.txt"
    result = run_exe(HELP_TOOL, "console", windows_path(output), timeout=600)
    assert result.returncode == 0, result
    rows = output.read_text().split("\n")[:-1]
    # The console expands tabs and keeps no trailing blanks.
    expected = [line.expandtabs(8).rstrip(" ") for line in GOLDEN.read_text().split("\n")[:-1]]
    assert rows[:-1] == expected
    assert rows[-1].startswith("Press any key")
