"""The fallback file of the autoupdate global storage, "au_global_storage",
as global_storage_tool.exe leaves it, read by Python's json; and files
written by Python's json, read back by the storage and copied into a
registry (a scratch key of the tool's own)."""

import json
import uuid

import pytest

from conftest import windows_path

TOOL = "desktop/windows/installer/global_storage_tool.exe"
SUCCESS = 0


@pytest.fixture
def storage(run_exe, tmp_path):
    """storage(mode, argument, copy_only=True) -> the tool's JSON answer,
    for the user-data folder tmp_path/"user data" and a mutex of the test's
    own."""
    user_data = tmp_path / "user data"
    user_data.mkdir()
    mutex = "tauc_registry_mutex_e2e_" + uuid.uuid4().hex

    def run(mode, argument, copy_only=True):
        request = tmp_path / "request.json"
        request.write_text(json.dumps(argument), encoding="utf-8")
        switches = [f"--mutex={mutex}", f"--dir={windows_path(user_data)}",
                    f"--{mode}={windows_path(request)}"]
        if copy_only:
            switches.append("--copy-only")
        result = run_exe(TOOL, *switches)
        assert result.returncode == 0, result.stderr
        return json.loads(result.stdout)

    run.file = user_data / "au_global_storage"
    return run


def test_written_values_are_a_gs_dictionary_of_strings(storage):
    values = {"UUID": "3b1f2c9e-0d4a-4e7b-9a61-5c2d8e7f1a00", "quote": 'a "b" \\ c',
              "umlaut": "Grüße", "line": "one\ntwo", "gone": "soon"}
    assert storage("write", values)["results"] == {name: SUCCESS for name in values}
    assert storage("write", {"gone": ""})["results"] == {"gone": SUCCESS}

    document = json.loads(storage.file.read_text(encoding="utf-8"))
    del values["gone"]
    assert document == {"GS": values}


def test_file_written_by_python_reads_back(storage):
    storage.file.write_text(json.dumps({
        "GS": {"UUID": "from-python", "number": 7, "umlaut": "Grüße"},
        "other": {"kept": True},
    }), encoding="utf-8")

    answer = storage("read", ["UUID", "number", "umlaut", "missing"])

    assert answer["results"] == {"UUID": SUCCESS, "number": SUCCESS, "umlaut": SUCCESS,
                                 "missing": SUCCESS}
    # Only ASCII text is handed out.
    assert answer["values"] == {"UUID": "from-python", "number": "", "umlaut": "",
                                "missing": ""}
    # A write keeps what else the file holds.
    storage("write", {"UUID": "changed"})
    document = json.loads(storage.file.read_text(encoding="utf-8"))
    assert document == {"GS": {"UUID": "changed", "number": 7, "umlaut": "Grüße"},
                        "other": {"kept": True}}


def test_gs_that_is_not_a_dictionary_fails_the_read(storage):
    storage.file.write_text(json.dumps({"GS": ["UUID"]}), encoding="utf-8")
    assert storage("read", ["UUID"])["results"] == {"UUID": -252}


def test_file_replays_into_the_registry(storage):
    storage.file.write_text(json.dumps({"GS": {"UUID": "py-uuid", "b": "two", "count": 3}}),
                            encoding="utf-8")
    original = storage.file.read_bytes()

    answer = storage("read", ["UUID", "b", "count"], copy_only=False)

    assert answer["values"] == {"UUID": "py-uuid", "b": "two", "count": ""}
    assert storage.file.read_bytes() == original
