"""The statistics report and the preference-defaults fetch against the tests'
own HTTP server, standing in for the update server through the branding's
"autoupdate" URL: the report as Python's json reads it, the done callback
after a refused or failing server, the preference-defaults query exactly as
it came on the request line, and the reply stored as the file."""

import json
import os
import re
import socket
import subprocess
import time
import urllib.parse

import pytest

from conftest import windows_path
from http_test_server import HttpTestServer, Resource

TOOL = "desktop/windows/installer/stats_prefs_tool.exe"
# Only guards against a hang: a slow machine must never fail a test.
HANG_GUARD = 600
TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}")
VERSION = re.compile(r"\d+\.\d+\.\d+\.\d+")
# Characters a query must not carry raw, and one beyond ASCII.
PRODUCT = "Tarvo & Co/Beta #1+=\u03b2"


@pytest.fixture
def server():
    with HttpTestServer() as running:
        yield running


def branding(autoupdate, product="Tarvo"):
    # The user agent name picks the product's row of the feature table.
    return json.dumps({"product_name": product, "domain": "tarvo.example",
                       "user_agent_name": "TRV",
                       "urls": {"autoupdate": autoupdate}})


@pytest.fixture
def tool(build_dir):
    """tool(*options) -> (the printed result, log)"""

    def run(*options):
        env = {name: value for name, value in os.environ.items()
               if name.lower() not in ("http_proxy", "https_proxy", "no_proxy")}
        completed = subprocess.run(
            [str(build_dir / "wine-run"), str(build_dir / TOOL), *options],
            env=env, capture_output=True, timeout=HANG_GUARD)
        log = completed.stderr.decode(errors="replace")
        assert completed.returncode == 0, log[-3000:]
        (line,) = completed.stdout.decode().splitlines()
        return json.loads(line), log

    return run


def test_report_arrives_as_json_with_its_start_keys_and_download_summary(server, tool):
    server.add("/v4/netinstaller/feedback", Resource(b"ignored"))
    result, log = tool(f"--branding={branding(server.url('/v4/', host='localhost'))}",
                       "--send-stats", "--wait-for-network",
                       "--fetches=10.0.0.9,10.0.0.10;;10.0.0.9")

    assert result == {"sent": True, "done": 1}
    (request,) = server.requests
    assert request.method == "POST"
    assert request.path == "/v4/netinstaller/feedback"
    report = json.loads(request.body)

    for key in ("installer_start_time", "stats_sending_time"):
        assert TIMESTAMP.fullmatch(report[key]["time"])
        assert isinstance(report[key]["elapsed"], int) and report[key]["elapsed"] >= 0
    assert report["stats_sending_time"]["elapsed"] >= report["installer_start_time"]["elapsed"]
    assert TIMESTAMP.fullmatch(report["installation_start_time"])
    assert VERSION.fullmatch(report["version"])
    assert report["stream"] and isinstance(report["stream"], str)
    assert report["product"] == "Tarvo"
    assert report["os"]["name"] == "windows"
    for group, fields in (("version", ("major", "minor", "build")),
                          ("service_pack", ("major", "minor"))):
        assert sorted(report["os"][group]) == sorted(fields)
        assert all(isinstance(report["os"][group][f], int) for f in fields)
    assert report["os"]["version"]["major"] >= 5
    assert "--send-stats" in report["command_line_args"]
    assert "--wait-for-network" in report["command_line_args"]
    assert isinstance(report["parent_process_name"], str)
    assert isinstance(report["parent_process_id"], int)
    assert re.fullmatch(r"[0-9a-f]{64}", report["endpoint_name_hash"])
    # Three chunks over three attempts; each address once, in byte order.
    assert report["wininet_retries"] == 3
    assert report["download_ips"] == "10.0.0.10; 10.0.0.9"
    assert len(report["fetches"]) == 3


def test_report_without_downloads_has_no_download_summary(server, tool):
    server.add("/v4/netinstaller/feedback", Resource(b""))
    result, log = tool(f"--branding={branding(server.url('/v4/', host='localhost'))}",
                       "--send-stats", "--v=1")

    assert result == {"sent": True, "done": 1}
    report = json.loads(server.requests[0].body)
    assert "wininet_retries" not in report and "download_ips" not in report
    assert "Don't wait for network when sending stats" in log


def refused_port():
    """A port bound but not listening: connections to it are refused for as
    long as the socket lives, and no other process can take it meanwhile."""
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))
    return holder


@pytest.mark.parametrize("failure", ["refused", "503"])
def test_unreachable_or_failing_server_still_ends_the_run(server, tool, failure):
    if failure == "refused":
        holder = refused_port()
        url = f"http://localhost:{holder.getsockname()[1]}/v4/"
    else:
        server.add("/v4/netinstaller/feedback", Resource(statuses=[503] * 10))
        url = server.url("/v4/", host="localhost")
    started = time.monotonic()
    result, log = tool(f"--branding={branding(url)}", "--send-stats")
    took = time.monotonic() - started
    if failure == "refused":
        holder.close()

    assert result == {"sent": True, "done": 1}
    # Retry limit 2 without waiting for the network: three retries, each
    # after the downloader's pause, then the end.
    assert log.count("Retrying ") == 3
    assert "Number of retries exceeded" in log
    if failure == "503":
        assert [r.status for r in server.requests] == [503] * 4
    print(f"{failure}: done callback after {took:.1f} s")


def test_report_to_a_host_outside_the_product_is_not_sent(server, tool):
    server.add("/v4/netinstaller/feedback", Resource(b""))
    # 127.0.0.1 is not among the report's hosts, only the loopback name.
    result, log = tool(f"--branding={branding(server.url('/v4/'))}", "--send-stats")

    assert result == {"sent": False, "done": 1}
    assert "Failed to send the stats request" in log
    assert server.requests == []


def test_prefs_query_is_escaped_and_the_reply_is_stored(server, tool, tmp_path):
    reply = json.dumps({"browser": {"show_home_button": True}}).encode()
    server.add("/v4/api/prefs/", Resource(reply))
    result, log = tool(
        f"--branding={branding(server.url('/v4/'), product=PRODUCT)}",
        f"--fetch-prefs={windows_path(tmp_path)}", "--tracking=yclid=7&src=a b")

    assert result == {"done": 1, "file": True, "content": reply.decode()}
    assert (tmp_path / "pref_default_overrides").read_bytes() == reply
    (request,) = server.requests
    assert request.method == "POST" and request.body == b"yclid=7&src=a b"
    path, query = request.path.split("?", 1)
    assert path == "/v4/api/prefs/"
    product = urllib.parse.quote(PRODUCT, safe="")
    assert query.startswith(f"product={product}&version=")
    assert re.fullmatch(r"[0-9.]+", query.rsplit("=", 1)[1])
    parsed = urllib.parse.parse_qs(query, strict_parsing=True)
    assert parsed["product"] == [PRODUCT]
    assert VERSION.fullmatch(parsed["version"][0])
    assert "Default prefs overrides fetched successfully" in log


def test_prefs_without_tracking_data_are_asked_with_get(server, tool, tmp_path):
    server.add("/v4/api/prefs/", Resource(b"{}"))
    result, log = tool(f"--branding={branding(server.url('/v4/'))}",
                       f"--fetch-prefs={windows_path(tmp_path)}")

    assert result["done"] == 1 and result["content"] == "{}"
    assert [r.method for r in server.requests] == ["GET"]


def test_failed_prefs_fetch_leaves_no_file(server, tool, tmp_path):
    server.add("/v4/api/prefs/", Resource(b"not found", statuses=[404]))
    result, log = tool(f"--branding={branding(server.url('/v4/'))}",
                       f"--fetch-prefs={windows_path(tmp_path)}", "--tracking=x")

    assert result == {"done": 1, "file": False, "content": ""}
    assert "Failed fetching default prefs overrides" in log
    assert len(server.requests) == 1


def test_prefs_from_a_refused_host_leave_no_file(server, tool, tmp_path):
    # The local server switch takes a full URL unchanged, and the host check
    # still applies to it.
    result, log = tool(
        f"--branding={branding(server.url('/v4/'))}",
        f"--local-pref-default-overrides-server=http://prefs.elsewhere.invalid:{server.port}/",
        f"--fetch-prefs={windows_path(tmp_path)}", "--tracking=x")

    assert result == {"done": 1, "file": False, "content": ""}
    assert "Failed sending request for default prefs overrides" in log
    assert server.requests == []


def test_prefs_feature_off_makes_no_request(server, tool, tmp_path):
    server.add("/v4/api/prefs/", Resource(b"{}"))
    result, log = tool(f"--branding={branding(server.url('/v4/'))}",
                       "--with-feature:installer-pref-default-overrides-support=off",
                       f"--fetch-prefs={windows_path(tmp_path)}", "--tracking=x")

    assert result == {"done": 1, "file": False, "content": ""}
    assert server.requests == []


def test_prefs_from_a_development_server_url_used_unchanged(server, tool, tmp_path):
    server.add("/custom", Resource(b"{}"))
    result, log = tool(
        f"--branding={branding('http://autoupdate.tarvo.example/v4/')}",
        f"--local-pref-default-overrides-server={server.url('/custom?a=%2F')}",
        f"--fetch-prefs={windows_path(tmp_path)}", "--tracking=x")

    assert result == {"done": 1, "file": True, "content": "{}"}
    assert [r.path for r in server.requests] == ["/custom?a=%2F"]
