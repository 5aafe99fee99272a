"""The installer's HTTP downloader over real WinINet (under Wine) against the
tests' own HTTP server: byte-exact downloads through dropped connections,
whole answers to range requests, escaped paths, refused hosts and redirects,
a stop in the middle of a transfer, gateway errors and a proxy asking for
credentials. The server records every request as it arrived; hashlib checks
the bytes written."""

import hashlib
import json
import os
import random
import re

import pytest

from conftest import run_tool, windows_path
from http_test_server import (SILENT_BEFORE_HEADERS, HttpTestServer, ProxyAskingForCredentials,
                              Resource)

TOOL = "desktop/windows/installer/downloader_tool.exe"
# Only guards against a hang: a slow machine must never fail a test.
HANG_GUARD = 600
MB = 1000 * 1000

COMPLETED, FAILED, STOPPED = 5, 4, 3


@pytest.fixture
def server():
    with HttpTestServer() as running:
        yield running


@pytest.fixture
def download(build_dir):
    """download(url, *options, proxy=None) -> (one dict per download, log)"""

    def run(url, *options, proxy=None):
        env = {name: value for name, value in os.environ.items()
               if name.lower() not in ("http_proxy", "https_proxy", "no_proxy")}
        if proxy:
            env["http_proxy"] = proxy
        completed = run_tool(
            [str(build_dir / "wine-run"), str(build_dir / TOOL), f"--url={url}", *options],
            env=env, capture_output=True, timeout=HANG_GUARD)
        log = completed.stderr.decode(errors="replace")
        assert completed.returncode == 0, log[-3000:]
        lines = completed.stdout.decode().splitlines()
        # Every run prints at least one line, even a download that could not
        # start. Exit code 0 without one means the process was ended from
        # outside (its prefix's wineserver went away): say so with the log
        # rather than fail later on unpacking an empty list.
        assert lines, "no result line; the tool's log ends:\n" + log[-3000:]
        return [json.loads(line) for line in lines], log

    return run


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def split_downloads(requests):
    """Groups the requests of consecutive downloads: each begins without a
    Range header."""
    downloads = []
    for request in requests:
        if "Range" not in request.headers:
            downloads.append([])
        downloads[-1].append(request)
    return downloads


def range_start(request):
    return int(request.headers["Range"][len("bytes="):].rstrip("-"))


def test_downloads_through_connections_dropped_at_random_offsets_are_byte_exact(
        server, download, tmp_path):
    data = os.urandom(20 * MB)
    seed = random.randrange(1 << 32)
    chooser = random.Random(seed)
    drops_in_a_row = [0]

    def drop_at(number, first_byte):
        # A download's first request starts at 0; resumes never do, as every
        # drop falls after the first byte of its answer.
        if first_byte == 0:
            drops_in_a_row[0] = 0
        if drops_in_a_row[0] == 3 or first_byte + 1 >= len(data) or chooser.random() < 0.4:
            return None
        drops_in_a_row[0] += 1
        return chooser.randrange(first_byte + 1, len(data))

    server.add("/package.bin", Resource(data, drop_at=drop_at, reset=False))
    results, log = download(server.url("/package.bin"),
                            f"--out={windows_path(tmp_path / 'package.bin')}",
                            "--repeat=100", "--retry-limit=3")

    server.wait_for(lambda requests: all(request.outcome for request in requests))
    downloads = split_downloads(server.requests)
    assert len(results) == len(downloads) == 100, f"seed {seed}"
    for result, requests in zip(results, downloads):
        assert result["state"] == COMPLETED, f"seed {seed}: {result['errors']}"
        assert result["size"] == len(data) and result["sha256"] == sha256(data), f"seed {seed}"
        drops = [request for request in requests if request.outcome == "dropped"]
        # Each drop costs exactly one resume, counted; the last answer is whole.
        assert len(requests) == len(drops) + 1 and requests[-1].outcome == "complete"
        assert result["completions"] == 1
        # Every resume asks for the byte after the last one the client got.
        for previous, request in zip(requests, requests[1:]):
            assert range_start(request) == previous.first_byte + previous.sent
            assert request.status == 206
        # One chunk per request in the statistics, where the server saw it.
        chunks = result["chunks"]
        assert [chunk["chunk_start"] for chunk in chunks] == \
            [request.first_byte for request in requests]
        assert [chunk["http_status"] for chunk in chunks] == \
            [request.status for request in requests]
        # A connection kept alive from the download before reports no address.
        assert all(chunk.get("ip", "127.0.0.1") == "127.0.0.1" for chunk in chunks)
        assert [chunk.get("retry_count", 0) for chunk in chunks] == list(range(len(chunks)))
    assert results[0]["chunks"][0]["ip"] == "127.0.0.1"
    assert sum(len(requests) - 1 for requests in downloads) > 0, f"seed {seed}"


def test_server_that_keeps_dropping_runs_out_of_retries(server, download):
    # Each answer brings 100 kB and breaks: a resume at once every time,
    # until the limit ends what would otherwise go on for the whole file.
    data = os.urandom(20 * MB)
    server.add("/flaky.bin", Resource(data, reset=False,
                                      drop_at=lambda number, first: first + 100_000))
    results, log = download(server.url("/flaky.bin"), "--discard", "--retry-limit=5")

    (result,) = results
    assert result["state"] == FAILED
    assert result["errors"] == "Number of retries exceeded, last error: 0\n"
    assert result["completions"] == 1
    assert len(server.requests) == 7


def test_whole_answer_to_a_range_request_restarts_the_file(server, download, tmp_path):
    data = os.urandom(2 * MB)
    server.add("/norange.bin", Resource(data, ignore_range=True, reset=False,
                                        drop_at=lambda number, first: 700_000 if number == 0 else None))
    results, log = download(server.url("/norange.bin"),
                            f"--out={windows_path(tmp_path / 'norange.bin')}")

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert (tmp_path / "norange.bin").read_bytes() == data
    first, second = server.requests
    assert first.outcome == "dropped" and first.sent == 700_000
    assert second.headers["Range"] == "bytes=700000-" and second.status == 200


# A 206 answer continues the file only where it says it starts at the bytes
# held; anything else must never be appended.
@pytest.mark.parametrize("misplaced_part, label_parts, ranges", [
    # Starts from the first byte, saying so: taken as the whole body.
    (lambda number, asked: 0 if number == 1 else None, True,
     [None, "bytes=700000-"]),
    # Starts elsewhere, saying so: the whole body is asked for again.
    (lambda number, asked: asked - 5000 if number == 1 else None, True,
     [None, "bytes=700000-", None]),
    # Says nothing of where it starts: the same.
    (None, False, [None, "bytes=700000-", None]),
], ids=["from_first_byte", "elsewhere", "no_content_range"])
def test_misplaced_partial_answer_gives_a_byte_exact_file(server, download, tmp_path,
                                                          misplaced_part, label_parts, ranges):
    data = os.urandom(2 * MB)
    server.add("/part.bin", Resource(data, misplaced_part=misplaced_part, label_parts=label_parts,
                                     reset=False,
                                     drop_at=lambda number, first: 700_000 if number == 0 else None))
    results, log = download(server.url("/part.bin"),
                            f"--out={windows_path(tmp_path / 'part.bin')}")

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert (tmp_path / "part.bin").read_bytes() == data
    assert [request.headers.get("Range") for request in server.requests] == ranges


# A server that keeps the connection open and sends nothing more: WinINet's
# own time-outs never fire under Wine, so the downloader's watch must give
# the attempt up and resume where the bytes held end.
@pytest.mark.parametrize("silent_point, ranges", [
    (700_000, [None, "bytes=700000-"]),
    (SILENT_BEFORE_HEADERS, [None, "bytes=0-"]),
], ids=["mid_body", "before_headers"])
def test_connection_gone_silent_is_resumed_byte_exact(server, download, tmp_path,
                                                     silent_point, ranges):
    data = os.urandom(2 * MB)
    server.add("/quiet.bin", Resource(
        data, silent_at=lambda number, first: silent_point if number == 0 else None))
    results, log = download(server.url("/quiet.bin"),
                            f"--out={windows_path(tmp_path / 'quiet.bin')}", "--timeout-ms=2000")

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert (tmp_path / "quiet.bin").read_bytes() == data
    assert [request.headers.get("Range") for request in server.requests] == ranges
    assert server.requests[0].outcome == "silent"


def test_partial_answer_after_a_failed_first_attempt_is_not_taken_for_the_whole(
        server, download, tmp_path):
    # The first attempt is turned away, so no whole answer ever told the size;
    # the part that follows is cut short and must be resumed.
    data = os.urandom(1 * MB)
    server.add("/late.bin", Resource(data, statuses=[503], reset=False,
                                     drop_at=lambda number, first: 400_000 if number == 1 else None))
    results, log = download(server.url("/late.bin"),
                            f"--out={windows_path(tmp_path / 'late.bin')}")

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert (tmp_path / "late.bin").read_bytes() == data
    assert [request.headers.get("Range") for request in server.requests] == \
        [None, "bytes=0-", "bytes=400000-"]
    assert result["total_progress"] == len(data)


def test_escaped_path_and_query_reach_the_server_as_written(server, download):
    path = "/signed/a%2Bb%3Dc%2Fd"
    query = "?expires=1%2B2&signature=x%2By%3D%2F"
    server.add(path, Resource(b"signed body"))
    results, log = download(server.url(path + query + "#fragment"))

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert result["body"] == "signed body"
    (request,) = server.requests
    assert request.path == path + query


def test_post_sends_the_body_without_a_content_type(server, download):
    server.add("/feedback", Resource(b"ok"))
    results, log = download(server.url("/feedback"), '--body={"report": "a+b=c"}')

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    (request,) = server.requests
    assert request.method == "POST"
    assert request.body == b'{"report": "a+b=c"}'
    assert "Content-Type" not in request.headers
    assert request.headers["User-Agent"].startswith("Tarvo NetInstaller/")


# The whole table of host checks is a unit test; these are real hosts.
@pytest.mark.parametrize("host, allowed, accepted", [
    ("127.0.0.1", "7.0.0.1", False),  # a bare text suffix, not a whole label
    ("localhost", "tarvo.example,LocalHost", True),
    ("127.0.0.1", "", True),  # no list: every host
])
def test_hosts_outside_the_allowed_suffixes_are_refused(server, download, host, allowed,
                                                        accepted):
    server.add("/location", Resource(b"reply"))
    results, log = download(server.url("/location", host=host), f"--allow={allowed}")

    (result,) = results
    if accepted:
        assert result["state"] == COMPLETED, result["errors"]
        assert len(server.requests) == 1
    else:
        assert result.get("started") == 0 and result["completions"] == 0
        assert result["errors"] == f"Domain disallowed {host}\n"
        assert server.requests == []


def test_redirect_to_a_refused_host_fails_and_delivers_nothing(server, download):
    target = server.url("/elsewhere", host="localhost")
    server.add("/elsewhere", Resource(b"from the refused host"))
    server.add("/moved", Resource(b"second answer", statuses=[302], location=target))
    # The same downloader twice: the first ends on the refusal, the second
    # (no redirect any more) shows that the refused one left it usable.
    results, log = download(server.url("/moved"), "--allow=127.0.0.1", "--repeat=2")

    refused, after = results
    assert refused["state"] == FAILED and refused["completions"] == 1
    assert refused["errors"] == f"Redirect URL is disallowed {target}\n"
    assert refused["chunks"][0]["redirected_url"] == target
    assert refused["body"] == ""
    assert after["state"] == COMPLETED and after["body"] == "second answer"
    # The refused host never hears of the download.
    assert [request.path for request in server.requests] == ["/moved", "/moved"]


# What no HTTP download may be sent to, whatever hosts it may talk to: a
# local or network file, another scheme.
@pytest.mark.parametrize("location", [
    "file:///C:/windows/win.ini",
    "\\\\127.0.0.1\\share\\package.exe",
    "/\\127.0.0.1/share/package.exe",
    "ftp://127.0.0.1/package.exe",
], ids=["file", "unc", "unc_after_a_slash", "ftp"])
def test_redirect_out_of_http_is_refused(server, download, location):
    server.add("/moved", Resource(statuses=[302], location=location))
    results, log = download(server.url("/moved"), "--retry-limit=3")

    (result,) = results
    assert result["state"] == FAILED and result["completions"] == 1
    assert result["errors"].startswith("Redirect URL is disallowed "), result["errors"]
    assert result["retry_count"] == 0 and result["body"] == ""
    assert [request.path for request in server.requests] == ["/moved"]


def test_allowed_redirect_is_followed(server, download):
    server.add("/final", Resource(b"final body"))
    server.add("/first", Resource(statuses=[303], location=server.url("/final")))
    results, log = download(server.url("/first"), "--allow=127.0.0.1")

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert result["body"] == "final body"
    assert result["chunks"][0]["redirected_url"] == server.url("/final")
    # The chunk records the answer that brought the body.
    assert result["chunks"][0]["http_status"] == 200
    assert [request.path for request in server.requests] == ["/first", "/final"]


# Each hop asks where the Location leads, resolved against the URL that
# answered; a POST stays one only through 307 and 308.
@pytest.mark.parametrize("status, location, body, method, path", [
    (302, "/final?from=302", "", "GET", "/final?from=302"),
    (301, "final", "", "GET", "/dir/final"),
    (302, "../final?q=a%2Bb", "", "GET", "/final?q=a%2Bb"),
    (303, "/final", "report", "GET", "/final"),
    (302, "//127.0.0.1:{port}/final", "report", "GET", "/final"),
    (307, "../final", "report", "POST", "/final"),
    (308, "http://127.0.0.1:{port}/final", "report", "POST", "/final"),
])
def test_redirect_methods_and_relative_locations(server, download, status, location, body,
                                                 method, path):
    server.add("/final", Resource(b"final body"))
    server.add("/dir/final", Resource(b"final body"))
    server.add("/dir/first", Resource(statuses=[status],
                                      location=location.format(port=server.port)))
    results, log = download(server.url("/dir/first"), *([f"--body={body}"] if body else []),
                            "--allow=127.0.0.1")

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert result["body"] == "final body"
    assert result["chunks"][0]["redirected_url"] == server.url(path)
    first, second = server.requests
    assert first.method == ("POST" if body else "GET")
    assert (second.method, second.path) == (method, path)
    assert second.body == (body.encode() if method == "POST" else b"")


# A resume asks the first URL again and takes every hop with its range; a
# whole answer to it at the end of the hops still restarts the file.
@pytest.mark.parametrize("ignore_range, statuses", [(False, 206), (True, 200)],
                         ids=["part", "whole_again"])
def test_resume_follows_the_redirect_with_its_range(server, download, tmp_path, ignore_range,
                                                   statuses):
    data = os.urandom(2 * MB)
    server.add("/latest", Resource(statuses=[302] * 10, location="/files/package.bin"))
    server.add("/files/package.bin", Resource(
        data, ignore_range=ignore_range, reset=False,
        drop_at=lambda number, first: 700_000 if number == 0 else None))
    results, log = download(server.url("/latest"),
                            f"--out={windows_path(tmp_path / 'package.bin')}")

    (result,) = results
    assert result["state"] == COMPLETED, result["errors"]
    assert (tmp_path / "package.bin").read_bytes() == data
    assert [(request.path, request.headers.get("Range"), request.status)
            for request in server.requests] == [
        ("/latest", None, 302), ("/files/package.bin", None, 200),
        ("/latest", "bytes=700000-", 302), ("/files/package.bin", "bytes=700000-", statuses)]


def test_stop_during_a_transfer_leaves_nothing_behind(server, download, tmp_path):
    # At 64 kB every 20 ms the body takes 20 s: the stop comes long before.
    data = os.urandom(64 * MB)
    server.add("/slow.bin", Resource(data, delay=0.02))
    results, log = download(server.url("/slow.bin"), "--stop-at=262144",
                            f"--out={windows_path(tmp_path / 'slow.bin')}")

    (result,) = results
    assert result["state"] == STOPPED
    assert result["completions"] == 0
    # Counted after the downloader is gone: its termination thread and its
    # file handle, nothing process-wide.
    assert result["termination_threads"] == 0
    assert result["file_handles"] == 0
    # Its connection is gone too: the server's next write fails.
    server.wait_for(lambda requests: requests[0].outcome)
    (request,) = server.requests
    assert request.outcome == "aborted" and request.sent < len(data)
    assert "Download completed" not in log


def test_gateway_errors_are_retried_a_bounded_number_of_times(server, download):
    server.add("/busy", Resource(b"never", statuses=[503] * 5))
    results, log = download(server.url("/busy"), "--retry-limit=1")

    (result,) = results
    assert result["state"] == FAILED and result["completions"] == 1
    assert result["errors"] == "Number of retries exceeded, last error: 503\n"
    # Limit 1: two retries, each 6 s later; the third check gives up, and is
    # the first that tells of a stall.
    assert [request.status for request in server.requests] == [503, 503, 503]
    assert result["stalled"] == 1


def test_gateway_error_then_success(server, download):
    server.add("/recovers", Resource(b"at last", statuses=[502]))
    results, log = download(server.url("/recovers"))

    (result,) = results
    assert result["state"] == COMPLETED and result["body"] == "at last"
    assert result["retry_count"] == 0 and result["stalled"] == 0
    # The retry asks for the body from its first byte.
    assert [request.status for request in server.requests] == [502, 206]


# The pause before a retry (6 s) outlasts this time-out: the attempt paused
# is over, not a connection gone silent, and is resumed once.
def test_pause_before_a_retry_longer_than_the_time_out_resumes_once(server, download):
    server.add("/recovers", Resource(b"at last", statuses=[503]))
    results, log = download(server.url("/recovers"), "--timeout-ms=2000")

    (result,) = results
    assert result["state"] == COMPLETED and result["body"] == "at last", result["errors"]
    # One retry; its number counts the wait, which a busy machine may stretch.
    assert len(retry_numbers(log)) == 1
    assert [request.status for request in server.requests] == [503, 206]


# InternetErrorDlg cannot run under Wine: the tool's UI delegate answers each
# prompt with the result the dialog would have given.
@pytest.mark.parametrize("replies, prompts, log_line", [
    ("0", 1, "The user cancelled the prompt for proxy credentials"),
    ("1223", 1, "The user cancelled the prompt for proxy credentials"),
    ("87", 1, "Failed to obtain credentials for proxy"),
    ("12032,0", 2, "Logged in to proxy - resuming download"),
])
def test_proxy_asking_for_credentials(server, download, replies, prompts, log_line):
    server.add("/behind-proxy", Resource(b"unreachable"))
    with ProxyAskingForCredentials() as proxy:
        results, log = download(server.url("/behind-proxy"), f"--proxy-replies={replies}",
                                proxy=f"http://127.0.0.1:{proxy.port}")
        requests = list(proxy.requests)

    (result,) = results
    assert result["state"] == FAILED and result["completions"] == 1
    assert result["prompts"] == prompts
    assert log_line in log
    # Each prompt answered a request that went through the proxy; a retry
    # after the login asks again, from the byte it has.
    assert [request.path for request in requests] == [server.url("/behind-proxy")] * prompts
    assert [request.headers.get("Range") for request in requests][1:] == ["bytes=0-"] * (prompts - 1)
    assert all(chunk["http_status"] == 407 for chunk in result["chunks"])
    # The proxy sends no X-Served-By: an absent header is recorded empty.
    assert all(chunk["headers"]["X-Served-By"] == "" for chunk in result["chunks"])
    assert server.requests == []


# Every download ends, whatever the server does. The bounds themselves are
# constants of the downloader; these show each one ends its case.
# On the wire: the first request and at most ten hops, then nothing more.
@pytest.mark.parametrize("hops, completes", [(1, True), (10, True), (11, False)])
def test_a_request_follows_at_most_ten_redirects(server, download, hops, completes):
    server.add("/final", Resource(b"final body"))
    targets = [server.url(f"/hop{i}") for i in range(1, hops)] + [server.url("/final")]
    for i, target in enumerate(targets):
        server.add(f"/hop{i}", Resource(statuses=[302] * 100, location=target))
    results, log = download(server.url("/hop0"))

    (result,) = results
    assert result["completions"] == 1
    paths = [request.path for request in server.requests]
    if completes:
        assert result["state"] == COMPLETED and result["body"] == "final body", result["errors"]
        assert paths == [f"/hop{i}" for i in range(hops)] + ["/final"]
        return
    assert result["state"] == FAILED
    assert result["errors"] == f"Too many redirects (more than 10), last to {targets[10]}\n"
    assert result["body"] == ""
    assert paths == [f"/hop{i}" for i in range(11)]


def test_redirect_loop_fails_as_too_many_redirects(server, download):
    server.add("/a", Resource(statuses=[302] * 1000, location=server.url("/b")))
    server.add("/b", Resource(statuses=[302] * 1000, location="/a"))
    # Twice on one downloader: the loop must not go on behind the first
    # download's end, nor stand in the way of the second.
    results, log = download(server.url("/a"), "--retry-limit=3", "--repeat=2")

    for result in results:
        assert result["state"] == FAILED and result["completions"] == 1
        assert result["errors"] == \
            f"Too many redirects (more than 10), last to {server.url('/b')}\n"
        # Not retried: the same loop would come again.
        assert result["retry_count"] == 0 and result["body"] == ""
    # Each download: the first request and ten hops.
    assert [request.path for request in server.requests] == (["/a", "/b"] * 5 + ["/a"]) * 2


LIMIT = 4 * 1024 * 1024


@pytest.mark.parametrize("resource, error", [
    (Resource(endless=True), f"Response larger than the limit of {LIMIT} bytes\n"),
    # Closing the request must not read the rest of the body first.
    (Resource(endless=True, keep_alive=True),
     f"Response larger than the limit of {LIMIT} bytes\n"),
    (Resource(b"short", declared_length=LIMIT + 1),
     f"Response of {LIMIT + 1} bytes is larger than the limit of {LIMIT} bytes\n"),
    (Resource(b"y" * LIMIT), ""),
], ids=["endless", "endless_kept_alive", "declared_too_large", "at_the_limit"])
def test_an_answer_stops_at_its_writers_size_limit(server, download, resource, error):
    # The string writer's limit, as the location reply has it.
    server.add("/answer", resource)
    results, log = download(server.url("/answer"), "--retry-limit=3")

    (result,) = results
    assert result["errors"] == error
    assert result["completions"] == 1
    if not error:
        assert result["state"] == COMPLETED and result["size"] == LIMIT
        return
    assert result["state"] == FAILED and result["retry_count"] == 0
    assert result["size"] <= LIMIT
    # The server saw the client go (or never had to send the body).
    assert len(server.requests) == 1


# The least a body must bring is 4 KiB per window of the time-out, here
# shortened to 2 s as the silence tests do. Each side ten times away from
# it (400 bytes, 40 KiB a window), so that a busy machine's late reads or
# writes do not move a case across it; the slow body lasts three windows.
@pytest.mark.parametrize("block, completes", [(10, False), (1024, True)],
                         ids=["trickle", "slow_but_moving"])
def test_a_trickling_body_fails_and_a_slow_one_completes(server, download, block, completes):
    # Text: the tool prints the body in its result line, and random bytes
    # may hold what Python takes for the end of a line.
    data = os.urandom(64 * 1024).hex().encode()
    server.add("/trickle.bin", Resource(data, block=block, delay=0.05))
    results, log = download(server.url("/trickle.bin"), "--timeout-ms=2000", "--retry-limit=3")

    (result,) = results
    assert result["completions"] == 1
    if completes:
        assert result["state"] == COMPLETED and result["sha256"] == sha256(data), result["errors"]
        return
    assert result["state"] == FAILED and result["retry_count"] == 0
    assert result["errors"].startswith("Download too slow: "), result["errors"]
    assert result["errors"].endswith(" ms, fewer than 4096\n")
    assert len(server.requests) == 1


def retry_numbers(log):
    return [int(number) for number in re.findall(r"Retrying (\d+) of ", log)]


# A head that trickles without end, or never comes, is given up on at the
# time-out after its request was sent, and its connection with it: the
# server never answers two requests at once. Each attempt's 13 s in vain
# count as the two retries an unreachable server would have had meanwhile.
@pytest.mark.parametrize("resource", [
    Resource(endless_headers=True, block=1, delay=0.05),
    Resource(silent_at=lambda number, first: SILENT_BEFORE_HEADERS),
], ids=["trickling_head", "silent"])
def test_an_answer_without_its_head_costs_what_an_unreachable_server_would(
        server, download, resource):
    server.add("/head", resource)
    results, log = download(server.url("/head"), "--timeout-ms=13000", "--retry-limit=5")

    (result,) = results
    assert result["state"] == FAILED and result["completions"] == 1
    assert result["errors"] == "Number of retries exceeded, last error: 12002\n"
    retries = retry_numbers(log)
    assert retries and retries[0] >= 2, retries
    assert all(later - earlier >= 3 for earlier, later in zip(retries, retries[1:])), retries
    # Each attempt's request is let go before the next is sent. (WinINet may
    # send a request again on its own, so the count of requests is no
    # measure of the attempts.)
    assert server.most_open("/head") == 1



HEAD_BOUND = re.compile(r"The head of the answer grew the process by \d+ bytes while it was "
                        r"awaited, past the bound of \d+ bytes")


# A head without end sent as fast as the server can is given up on once
# what WinINet holds of it passes the downloader's memory bound: each
# attempt ends there as a bad answer, retried as one, and its connection
# with it. The time-out lies beyond the hang guard, so that a busy machine
# cannot end an attempt before the bound does.
def test_a_head_without_end_is_given_up_at_its_memory_bound(server, download):
    server.add("/head", Resource(endless_headers=True))
    results, log = download(server.url("/head"), "--retry-limit=1",
                            f"--timeout-ms={HANG_GUARD * 1000}")

    (result,) = results
    assert result["state"] == FAILED and result["completions"] == 1
    assert result["errors"] == "Number of retries exceeded, last error: 12152\n"
    assert len(HEAD_BOUND.findall(log)) == len(retry_numbers(log)) + 1
    assert "No answer from the server in" not in log
    assert server.most_open("/head") == 1
