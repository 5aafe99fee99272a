"""Preference files kept by the JSON preferences store, checked with Python's
json module: what the store writes must load in Python to the values it was
given, what Python writes must read back in the store, and files the store
cannot trust must be set aside or left alone, never silently replaced.
Each tool run handles several files, one store after the other."""

import json
import random

from conftest import windows_path
from test_json import expected, random_tree, same

TOOL = "components/prefs/prefs_tool.exe"


def run_set(run_exe, paths, changes):
    """One header per file: ["read", code, read_only, "changes", count]."""
    result = run_exe(TOOL, "set", *map(windows_path, paths),
                     input=json.dumps(changes).encode(), check=True)
    return [line.split() for line in result.stdout.decode().splitlines()]


def run_dump(run_exe, paths):
    """One (header, values) per file."""
    lines = run_exe(TOOL, "dump", *map(windows_path, paths), check=True).stdout.split(b"\n")
    return [(lines[i].decode().split(), json.loads(lines[i + 1]))
            for i in range(0, 2 * len(paths), 2)]


def test_written_file_loads_in_python(run_exe, tmp_path):
    rng = random.Random(1125)
    values = {f"key{i}": random_tree(rng) for i in range(40)}
    path = tmp_path / "prefs.json"
    headers = run_set(run_exe, [path], {"set": {**values, "a.b.c": [1, "two"]},
                                        "remove": ["key0", "absent.key"]})
    assert headers == [["read", "6", "0", "changes", "42"]]
    del values["key0"]
    values["a"] = {"b": {"c": [1, "two"]}}
    assert same(json.loads(path.read_bytes()), expected(values))
    # The write replaced the file whole: no temporary file is left.
    assert [p.name for p in tmp_path.iterdir()] == ["prefs.json"]


def test_python_written_files_read_in_store(run_exe, tmp_path):
    rng = random.Random(2125)
    paths, trees = [], []
    for i, indent in enumerate((None, 3, "\t")):
        tree = {f"k{j}": random_tree(rng) for j in range(30)}
        path = tmp_path / f"python {i}.json"
        path.write_text(json.dumps(tree, indent=indent, ensure_ascii=i % 2 == 0),
                        encoding="utf-8")
        paths.append(path)
        trees.append(tree)
    for (header, values), tree in zip(run_dump(run_exe, paths), trees):
        assert header == ["read", "0", "0"]
        assert same(values, expected(tree))


def test_setting_same_values_tells_nobody_and_keeps_file(run_exe, tmp_path):
    path = tmp_path / "prefs.json"
    path.write_text(json.dumps({"a": 1, "b": {"c": "d"}}, indent=2))
    before = path.stat().st_mtime_ns, path.read_bytes()
    headers = run_set(run_exe, [path], {"set": {"a": 1, "b.c": "d"}, "remove": ["x"]})
    assert headers == [["read", "0", "0", "changes", "0"]]
    assert (path.stat().st_mtime_ns, path.read_bytes()) == before


def test_broken_file_is_set_aside_and_replaced(run_exe, tmp_path):
    first, second = tmp_path / "first.json", tmp_path / "second.json"
    first.write_bytes(b"{")
    second.write_bytes(b'{"lost": ')
    (tmp_path / "second.bad").write_bytes(b"older")
    headers = run_set(run_exe, [first, second], {"set": {"a": 1}})
    assert headers == [["read", "1", "0", "changes", "1"],
                       ["read", "7", "0", "changes", "1"]]
    # The broken text is kept whole, the earlier bad file replaced by it.
    assert (tmp_path / "first.bad").read_bytes() == b"{"
    assert (tmp_path / "second.bad").read_bytes() == b'{"lost": '
    for path in (first, second):
        assert json.loads(path.read_bytes()) == {"a": 1}


def test_file_that_is_not_an_object_is_never_written(run_exe, tmp_path):
    contents = [b"[]", b'"text"', b"12"]
    paths = [tmp_path / f"value{i}.json" for i in range(len(contents))]
    for path, text in zip(paths, contents):
        path.write_bytes(text)
    headers = run_set(run_exe, paths, {"set": {"a": 1}})
    assert headers == [["read", "2", "1", "changes", "1"]] * len(paths)
    assert [path.read_bytes() for path in paths] == contents
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(p.name for p in paths)
