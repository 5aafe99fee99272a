"""How a crash leaves the machine, against the tests' own crash server on
127.0.0.1: the handshake's answers, the crash log posted zipped over WinINet,
the minidump's streamed body over WinHTTP with and without gzip, and the zip
itself. Each body is taken apart by Python's email.parser, gzip and zipfile
and compared with what was sent; file names and folders hold characters
outside any ANSI code page.

Wine's WinHTTP loses a chunked body (it sends "Content-Length: 0"), so the
WinHTTP bodies go with a measured Content-Length here; the chunk framing is
a unit test. HTTPS cannot be served here."""

import gzip
import io
import json
import os
import re
import shutil
import subprocess
import uuid
import zipfile
from email import policy
from email.parser import BytesParser

import pytest

from conftest import as_standard_user, windows_path, wine
from http_test_server import HttpTestServer, Resource
from test_user_starts import linux_path

TOOL = "desktop/windows/crash_reporter/crash_upload_tool.exe"
# Only guards against a hang: a slow machine must never fail a test.
HANG_GUARD = 600
ACCEPTED, REFUSED, FAILED = 0, 1, 2
# The product's crash e-mail variable.
EMAIL_VARIABLE = "TARVO_CRASH_EMAIL"


@pytest.fixture
def server():
    with HttpTestServer() as running:
        yield running


@pytest.fixture
def tool(build_dir, tmp_path):
    """tool(request dict, **environment) -> result dict"""

    def run(request, **environment):
        env = {name: value for name, value in os.environ.items()
               if name.lower() not in ("http_proxy", "https_proxy", "no_proxy")
               and not name.startswith("TARVO_")}
        env.update(environment)
        request_file = tmp_path / "request.json"
        request_file.write_text(json.dumps(request), encoding="utf-8")
        completed = subprocess.run(
            [str(build_dir / "wine-run"),
             *as_standard_user(build_dir, build_dir / TOOL, windows_path(request_file))],
            env=env, capture_output=True, timeout=HANG_GUARD)
        log = completed.stderr.decode(errors="replace")
        assert completed.returncode == 0, log[-3000:]
        return json.loads(completed.stdout.decode().splitlines()[-1])

    return run


@pytest.fixture
def crash_folder(tmp_path):
    # A profile folder whose name no ANSI code page holds whole.
    folder = tmp_path / "Profil Ünïcødé 崩溃 ✓"
    folder.mkdir()
    return folder


def parse_multipart(content_type, body):
    """{name: (file name as the header spells it or None, content type, bytes)}"""
    message = BytesParser(policy=policy.HTTP).parsebytes(
        b"Content-Type: " + content_type.encode() + b"\r\n\r\n" + body)
    assert message.is_multipart() and not message.defects
    parts = {}
    for part in message.iter_parts():
        # As it came: the parsed header would read the backslashes of a
        # Windows path as quoting.
        raw = dict(part.raw_items())["Content-Disposition"]
        disposition = raw.encode("ascii", "surrogateescape").decode("utf-8")
        name = re.search(r'\bname="([^"]*)"', disposition).group(1)
        file_name = re.search(r'\bfilename="([^"]*)"', disposition)
        assert name not in parts
        parts[name] = (file_name.group(1) if file_name else None,
                       part.get_content_type() if file_name else None,
                       part.get_payload(decode=True))
    return parts


def only_request(server):
    server.wait_for(lambda requests: all(request.outcome for request in requests))
    (request,) = server.requests
    return request


def test_multipart_post_carries_fields_and_file_as_sent(server, tool, crash_folder):
    data = os.urandom(300_000) + b"\r\n--\r\n"
    path = crash_folder / "crash log é.txt"
    path.write_bytes(data)
    server.add("/upload", Resource(b"report 42"))
    fields = {"prod": "Tarvo", "ver": "45.0.2548.0", "comment": "héllo wörld ✓", "empty": ""}

    result = tool({"command": "multipart", "url": server.url("/upload"),
                   "suffix": " (Edition test)", "fields": fields,
                   "files": {"file": windows_path(path)}, "timeout": 60000})

    assert result == {"ok": True, "code": 200, "body": "report 42"}
    request = only_request(server)
    assert request.method == "POST"
    assert request.headers["User-Agent"] == "CrashUploader/1.0 (Windows) (Edition test)"
    parts = parse_multipart(request.headers["Content-Type"], request.body)
    assert {name: value for name, (_, _, value) in parts.items() if name != "file"} == \
        {name: value.encode() for name, value in fields.items()}
    # The file name sent is the path as given.
    assert parts["file"] == (windows_path(path), "application/octet-stream", data)


@pytest.mark.parametrize("case", ["quote in field name", "server error", "body cut short",
                                  "ftp scheme", "missing file", "file swapped for a link"])
def test_multipart_post_failures(server, tool, crash_folder, case, tmp_path):
    path = crash_folder / "log.txt"
    path.write_bytes(b"crash")
    request = {"command": "multipart", "url": server.url("/upload"), "suffix": "",
               "fields": {"prod": "Tarvo"}, "files": {"file": windows_path(path)}}
    server.add("/upload", Resource(b"x" * 1000))
    expected_code, reaches_server = 200, True
    if case == "quote in field name":
        request["fields"] = {'pr"od': "Tarvo"}
        expected_code, reaches_server = 0, False
    elif case == "server error":
        server.add("/upload", Resource(statuses=[500]))
        expected_code = 500
    elif case == "body cut short":
        # The answer's Content-Length promises more than arrives.
        server.add("/upload", Resource(b"x" * 1000, reset=False,
                                       drop_at=lambda number, first: 10))
    elif case == "ftp scheme":
        request["url"] = f"ftp://127.0.0.1:{server.port}/upload"
        expected_code, reaches_server = 0, False
    elif case == "missing file":
        request["files"] = {"file": windows_path(crash_folder / "absent.txt")}
        expected_code, reaches_server = 0, False
    elif case == "file swapped for a link":
        # The crash folder may be the user's and the uploader elevated:
        # what the link leads to is never sent.
        secret = tmp_path / "secret.txt"
        secret.write_bytes(b"not the crash's")
        path.unlink()
        path.symlink_to(secret)
        expected_code, reaches_server = 0, False

    result = tool(request)

    assert result["ok"] is False and result["code"] == expected_code
    assert bool(server.requests) == reaches_server


@pytest.mark.parametrize("gzipped", [False, True])
def test_streamed_body_arrives_as_built(server, tool, crash_folder, gzipped):
    dump = crash_folder / "mini dump ✓.dmp"
    data = os.urandom(200_000)
    dump.write_bytes(data)
    server.add("/collector", Resource(b"ok"))
    parts = [
        ["file", "dump", "replaced.dmp", windows_path(dump), ""],
        ["field", "Version", "45.0"],
        ["field", "Comment", "naïve ✓"],
        ["field", 'quote"and%percent', "escaped name"],
        # A field under the name of an earlier file part replaces it.
        ["field", "dump", "replaced"],
        ["file", "upload_file_minidump", 'mini"dump%é\r\n.dmp', windows_path(dump),
         "application/x-dmp"],
    ]

    result = tool({"command": "transport", "url": server.url("/collector?product=Tarvo"),
                   "gzip": gzipped, "parts": parts})

    assert result == {"ok": True}
    request = only_request(server)
    assert request.path == "/collector?product=Tarvo"
    assert request.headers["User-Agent"] == "CrashTransport/0.8.0"
    body = request.body
    if gzipped:
        assert request.headers["Content-Encoding"] == "gzip"
        body = gzip.decompress(body)
    else:
        assert "Content-Encoding" not in request.headers
    content_type = request.headers["Content-Type"]
    assert re.fullmatch(r"multipart/form-data; boundary=---MultipartBoundary-[0-9A-Za-z]{32}---",
                        content_type)
    assert parse_multipart(content_type, body) == {
        "Version": (None, None, b"45.0"),
        "Comment": (None, None, "naïve ✓".encode()),
        "quote%22and%25percent": (None, None, b"escaped name"),
        "dump": (None, None, b"replaced"),
        "upload_file_minidump": ("mini%22dump%25é%0d%0a.dmp", "application/x-dmp", data),
    }


@pytest.mark.parametrize("length_delta", [-1, 1])
def test_streamed_body_longer_or_shorter_than_its_length_fails(server, tool, length_delta):
    # Wine's WinHTTP itself would send a longer body cut to the length, and
    # wait without end for the rest of a shorter one.
    server.add("/collector", Resource(b"ok"))
    result = tool({"command": "transport", "url": server.url("/collector"),
                   "parts": [["field", "a", "b"]], "length_delta": length_delta})
    assert result == {"ok": False}


def test_streamed_body_refused_by_server_fails(server, tool):
    server.add("/collector", Resource(statuses=[500]))
    result = tool({"command": "transport", "url": server.url("/collector"),
                   "parts": [["field", "a", "b"]]})
    assert result == {"ok": False}
    assert only_request(server).status == 500


@pytest.mark.parametrize("statuses, location, expected, report_id", [
    ([303], "http://crash.example/report?id=A1b2&ref=x", ACCEPTED, "A1b2"),
    ([303], "/report?id=&x", ACCEPTED, ""),
    # An id without the "&" that ends it is no acceptance.
    ([303], "http://crash.example/report?id=A1b2", FAILED, ""),
    ([303], "", FAILED, ""),
    ([503], "", REFUSED, ""),
    ([], "", FAILED, ""),  # 200
    ([404], "", FAILED, ""),
    ([302], "http://crash.example/report?id=A1b2&ref=x", FAILED, ""),
])
def test_handshake_answers(server, tool, statuses, location, expected, report_id):
    server.add("/crash", Resource(b"body", statuses=statuses, location=location))

    result = tool({"command": "handshake", "crash_url": "https://page.example/a?b=c",
                   "origin": "tvauto", "timeout": 3000},
                  TARVO_CRASH_SERVER_URL=server.url("/crash"))

    assert result["result"] == expected
    assert result["report_id"] == report_id
    assert result["location"] == (location if expected == ACCEPTED else "")
    # One GET without a body: a redirect is the answer, never followed.
    request = only_request(server)
    assert (request.method, request.path, request.body) == ("GET", "/crash", b"")
    assert request.headers["X-Tarvo-Crash-URL"] == "https://page.example/a?b=c"
    assert request.headers["X-Origin"] == "tvauto"
    assert request.headers["User-Agent"] == "CrashUploader/1.0 (Windows) (Edition developer)"


@pytest.mark.parametrize("server_path, email, expected_path", [
    ("/crash", "a+b&c#d@mail.example", "/crash?email=a%2Bb%26c%23d%40mail.example"),
    ("/crash?product=tarvo", "ü@x.example", "/crash?product=tarvo&email=%C3%BC%40x.example"),
    ("/crash", "", "/crash"),
])
def test_handshake_sends_the_email_in_the_query(server, tool, server_path, email, expected_path):
    server.add("/crash", Resource(statuses=[503]))
    environment = {"TARVO_CRASH_SERVER_URL": server.url(server_path)}
    if email:
        environment[EMAIL_VARIABLE] = email

    result = tool({"command": "handshake", "crash_url": "", "origin": ""}, **environment)

    assert result["result"] == REFUSED
    request = only_request(server)
    assert request.path == expected_path
    assert "X-Tarvo-Crash-URL" not in request.headers and "X-Origin" not in request.headers


def test_handshake_header_from_crashed_process_cannot_add_headers(server, tool):
    server.add("/crash", Resource(statuses=[503]))
    result = tool({"command": "handshake", "crash_url": "http://page/\r\nX-Injected: 1\r\n",
                   "origin": "o\nrigin"},
                  TARVO_CRASH_SERVER_URL=server.url("/crash"))
    assert result["result"] == REFUSED
    request = only_request(server)
    assert request.headers["X-Tarvo-Crash-URL"] == "http://page/X-Injected: 1"
    assert request.headers["X-Origin"] == "origin"
    assert "X-Injected" not in request.headers


def check_crash_log_zip(zip_bytes, data):
    with zipfile.ZipFile(io.BytesIO(zip_bytes)) as archive:
        assert archive.testzip() is None
        (entry,) = archive.infolist()
        assert entry.filename == "crashlog.txt"
        assert entry.compress_type == zipfile.ZIP_DEFLATED
        assert archive.read(entry) == data


def test_zip_of_crash_log_in_non_ascii_folder(tool, crash_folder):
    data = b"Crash log\r\n" + os.urandom(3 * 1024 * 1024)
    source = crash_folder / "tarvo-crashlog-1-1.txt"
    source.write_bytes(data)
    target = crash_folder / "tarvo-crashlog-1-1.zip"

    assert tool({"command": "zip", "source": windows_path(source),
                 "zip": windows_path(target)}) == {"ok": True, "made": windows_path(target)}

    check_crash_log_zip(target.read_bytes(), data)
    if shutil.which("unzip"):
        subprocess.run(["unzip", "-tq", str(target)], check=True, capture_output=True)


def test_zip_of_empty_crash_log_is_not_made(tool, crash_folder):
    source = crash_folder / "empty.txt"
    source.write_bytes(b"")
    target = crash_folder / "empty.zip"
    assert tool({"command": "zip", "source": windows_path(source),
                 "zip": windows_path(target)}) == {"ok": False, "made": ""}
    assert not target.exists()


# What another process left in the crash folder before the zip was made:
# under the zip's name a file, or a link (made from Linux, as a Unix link
# shows under Wine) to a name outside; or the log itself swapped for a link
# to a file outside, which must not be read into the zip.
PLANTED = {
    "file-under-zip-name": ("zip", "file", "tarvo-crashlog-1-1_2.zip"),
    "link-under-zip-name": ("zip", "link", "tarvo-crashlog-1-1_2.zip"),
    "log-swapped-for-link": ("source", "link", None),
}


@pytest.fixture
def temp_crash_folder(build_dir):
    """A crash folder of the test's own in the prefix's temporary folder, as
    a reporter has it. Under Wine a dangling Unix link on the Z: drive is
    followed by a create-new open, unlike one inside the prefix."""
    temp_root = wine(build_dir, "cmd", "/c", "echo %TEMP%").stdout.decode().strip()
    name = f"crash-{uuid.uuid4().hex[:8]}"
    folder = linux_path(build_dir, temp_root) / name
    folder.mkdir()
    yield folder, f"{temp_root}\\{name}"
    shutil.rmtree(folder)


@pytest.mark.parametrize("case", list(PLANTED))
def test_zip_is_made_new_beside_what_was_planted(tool, temp_crash_folder, tmp_path, case):
    crash_folder, windows_folder = temp_crash_folder
    where, kind, made_name = PLANTED[case]
    data = b"Crash log\r\n" * 100
    outside = tmp_path / "outside"
    outside.mkdir()
    secret = outside / "secret.txt"
    secret.write_bytes(b"another user's file")
    source = crash_folder / "tarvo-crashlog-1-1.txt"
    target = crash_folder / "tarvo-crashlog-1-1.zip"
    planted = target if where == "zip" else source
    if kind == "file":
        planted.write_bytes(b"left by another process")
    else:
        planted.symlink_to(secret if where == "source" else outside / "made-there.zip")
    if where == "zip":
        source.write_bytes(data)

    result = tool({"command": "zip", "source": f"{windows_folder}\\{source.name}",
                   "zip": f"{windows_folder}\\{target.name}"})

    assert sorted(os.listdir(outside)) == ["secret.txt"]
    assert secret.read_bytes() == b"another user's file"
    if made_name is None:
        assert result == {"ok": False, "made": ""}
        assert not target.exists()
        return
    made = crash_folder / made_name
    assert result["ok"] and result["made"].endswith("\\" + made_name), result
    assert planted.is_symlink() == (kind == "link")
    if kind == "file":
        assert planted.read_bytes() == b"left by another process"
    check_crash_log_zip(made.read_bytes(), data)


@pytest.mark.parametrize("queued", [False, True])
def test_crash_server_job_posts_the_zipped_log(server, tool, crash_folder, queued):
    data = b"Crash log of a crashed installer\r\n" * 1000
    log = crash_folder / "tarvo-crashlog-7-1.txt"
    log.write_bytes(data)
    server.add("/crash", Resource(b"ok"))
    request = {"command": "crash_server_job", "file": windows_path(log),
               "fields": {"prod": "Tarvo_Desktop", "stacktraceId": "A1b2"}}
    # The queued job keeps its file when not told to delete it; the job run
    # at once always deletes it.
    request.update({"queued": True, "delete": False} if queued else {"zip": True})

    result = tool(request, TARVO_CRASH_SERVER_URL=server.url("/crash"),
                  **{EMAIL_VARIABLE: "dev+crash@tarvo.example"})

    assert result == {"ok": True}
    request = only_request(server)
    assert request.path == "/crash?email=dev%2Bcrash%40tarvo.example"
    assert request.headers["User-Agent"] == "CrashUploader/1.0 (Windows) (Edition developer)"
    parts = parse_multipart(request.headers["Content-Type"], request.body)
    assert parts["prod"][2] == b"Tarvo_Desktop" and parts["stacktraceId"][2] == b"A1b2"
    file_name, _, zip_bytes = parts["file"]
    assert file_name == windows_path(crash_folder / "tarvo-crashlog-7-1.zip")
    check_crash_log_zip(zip_bytes, data)
    # The zip is gone after the upload.
    assert sorted(os.listdir(crash_folder)) == (["tarvo-crashlog-7-1.txt"] if queued else [])


def test_crash_server_job_without_zip_posts_the_log_itself(server, tool, crash_folder):
    log = crash_folder / "plain.txt"
    log.write_bytes(b"plain crash log")
    server.add("/crash", Resource(b"ok"))
    result = tool({"command": "crash_server_job", "file": windows_path(log), "zip": False},
                  TARVO_CRASH_SERVER_URL=server.url("/crash"))
    assert result == {"ok": True}
    request = only_request(server)
    parts = parse_multipart(request.headers["Content-Type"], request.body)
    assert parts == {"file": (windows_path(log), "application/octet-stream", b"plain crash log")}
    assert not log.exists()


@pytest.mark.parametrize("gzipped", [False, True])
def test_alternative_job_body_carries_the_minidump(server, tool, crash_folder, gzipped):
    dump = crash_folder / "tarvo-crashlog-3-2.dmp"
    data = b"MDMP" + os.urandom(100_000)
    dump.write_bytes(data)
    server.add("/collector", Resource(b"ok"))

    result = tool({"command": "alternative_job", "file": windows_path(dump), "gzip": gzipped,
                   "fields": {"ProductName": "Tarvo_Desktop", "Version": "45.0"}},
                  TARVO_ALTERNATIVE_CRASH_SERVER_URL=server.url("/collector"))

    assert result == {"ok": True}
    request = only_request(server)
    body = gzip.decompress(request.body) if gzipped else request.body
    assert ("Content-Encoding" in request.headers) == gzipped
    assert parse_multipart(request.headers["Content-Type"], body) == {
        "ProductName": (None, None, b"Tarvo_Desktop"),
        "Version": (None, None, b"45.0"),
        "upload_file_minidump": ("tarvo-crashlog-3-2.dmp", "application/octet-stream", data),
    }
    # Only the jobs run at once or told so delete their file.
    assert dump.exists()
