"""The shipped online installer against the tests' update server made to
misbehave, silent, per user: partner files that are programs, redirects
without end, a package that trickles, a location reply that never ends,
with or without keeping its connection, and a server that sends no whole
head: silent, trickling or without end, for the location or the report.
Each run must end, with what the server sent placed only when it is content
or signed, a clear reason in the statistics report and bounded memory,
measured from Linux (Wine's own process counters read 0): the peak resident
size (VmHWM) of the installer's front-end process. A server without a head
may hold a run for the hour an unreachable one would: those runs are ended
from Linux once their first retries show what each attempt cost."""

import hashlib
import os
import re
import subprocess
import threading
import time
from pathlib import Path

import pytest

import installer_files as files
from conftest import Logs
from http_test_server import SILENT_BEFORE_HEADERS, Resource
from test_silent_installation import (HANG_GUARD, VERSIONS, Machine, installed_tree,  # noqa: F401
                                      package_tree, downloads, machine, packages, pki, server)
from update_server import FEEDBACK, PACKAGE
from wine_process import kill_if_still

UNSIGNED_DLL = "desktop/windows/installer/load_check_test_library.dll"
UNSIGNED_EXE = "desktop/windows/installer/installer.exe"
TEXT = b"partner content"
# Far above what a Wine process of the installer holds, far below what an
# answer without a size limit reaches in the minutes of a run.
PEAK_MEMORY_BOUND = 512 * 1024 * 1024
# What the front end holds besides an answer's head (its peak resident size
# in a run without one is some 40 MiB), and what Wine may take at once
# while it reads one (its table of header lines grows by doubling, some
# 32 MiB at the downloader's bound).
FRONT_END_SIZE = 128 * 1024 * 1024


def partner_item(server, name, data):
    path = "/files/" + hashlib.sha256(name.encode()).hexdigest()
    return {"type": "partner_content", "archive": 0, "filename": name,
            "location": server.add_file(path, data),
            "checksum": hashlib.sha256(data).hexdigest()}


def online(build_dir, machine, pki, server):
    return files.online_installer(build_dir, machine.tmp_path / "online", pki,
                                  autoupdate_url=server.autoupdate_url)


def marked_processes(marker):
    """The Linux processes whose command line holds `marker`: the run's."""
    found = []
    for proc in Path("/proc").iterdir():
        try:
            if proc.name.isdigit() and marker.encode() in (proc / "cmdline").read_bytes():
                found.append(proc)
        except OSError:
            continue
    return found


class PeakMemory:
    """The highest VmHWM of the Linux processes whose command line holds
    `marker` while the block runs, polled: the front end's process."""

    def __init__(self, marker):
        self.marker = marker
        self.peak = 0
        self._done = threading.Event()
        self._thread = threading.Thread(target=self._poll, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._done.set()
        self._thread.join()

    def _poll(self):
        while not self._done.wait(0.2):
            for proc in marked_processes(self.marker):
                try:
                    for line in (proc / "status").read_text().splitlines():
                        if line.startswith("VmHWM:"):
                            self.peak = max(self.peak, int(line.split()[1]) * 1024)
                except OSError:
                    continue


def test_partner_programs_are_placed_only_when_signed(build_dir, pki, packages, downloads,
                                                      machine, server, tmp_path, logs):
    unsigned_dll = (build_dir / UNSIGNED_DLL).read_bytes()
    signed_dll = pki.sign(files.GOOD_SIGNER, build_dir / UNSIGNED_DLL,
                          tmp_path / "signed.dll").read_bytes()
    refused = {"winmm.dll": unsigned_dll,
               "helper.exe": (build_dir / UNSIGNED_EXE).read_bytes(),
               # A program under a name Windows would not run: still one.
               "partner.dat": unsigned_dll,
               # The extension in any case.
               "VERSION.DLL": unsigned_dll}
    placed = {"partner_signed.dll": signed_dll, "partner.txt": TEXT}
    server.offer(downloads["current"],
                 components=[partner_item(server, name, data)
                             for name, data in [*refused.items(), *placed.items()]])
    marker = Logs.marker()

    assert machine.run(online(build_dir, machine, pki, server), marker) == 0

    assert installed_tree(machine.folder) == package_tree(
        packages["current"][0], VERSIONS["current"], extra=placed, online=True)
    log = logs.one(marker)[1]
    for name in refused:
        assert f"Refusing unsigned executable additional file {name}" in log, name
    (report,) = server.reports()
    assert report["installation_success"] == 1
    items = report["fetches"][0]["addtional_files"]
    assert [item["download_succeeded"] for item in items] == [0] * len(refused) + [1, 1]
    assert all(item["signature_check_error"] for item in items[:len(refused)])
    assert not machine.download_folder.exists()


# The package's address answers with a redirect, absolute or relative to it.
@pytest.mark.parametrize("location", [PACKAGE, "../../packages/tarvo_installer.exe", None],
                         ids=["path", "relative", "absolute"])
def test_one_redirect_to_the_package_installs(build_dir, pki, packages, downloads, machine,
                                              server, location):
    server.offer(downloads["current"])
    server.http.add("/latest/x64/moved", Resource(statuses=[302] * 10,
                                                  location=location or server.url(PACKAGE)))
    server.offer(downloads["current"], reply={
        "installer": server.url("/latest/x64/moved"),
        "installer_checksum": hashlib.sha256(downloads["current"]).hexdigest()})

    assert machine.run(online(build_dir, machine, pki, server)) == 0

    assert installed_tree(machine.folder) == package_tree(
        packages["current"][0], VERSIONS["current"], online=True)
    (report,) = server.reports()
    assert report["installation_success"] == 1
    assert len(server.requests_to("/latest/x64/moved")) == len(server.package_requests()) == 1


def test_redirect_loop_fails_the_fetch_with_its_reason(build_dir, pki, downloads, machine,
                                                       server):
    server.offer(downloads["current"], reply={
        "installer": server.url("/loop/a"),
        "installer_checksum": hashlib.sha256(downloads["current"]).hexdigest()})
    server.http.add("/loop/a", Resource(statuses=[302] * 10**6, location=server.url("/loop/b")))
    server.http.add("/loop/b", Resource(statuses=[302] * 10**6, location="a"))

    assert machine.run(online(build_dir, machine, pki, server)) == 1

    assert not machine.folder.exists()
    (report,) = server.reports()
    assert report["failure_reason"] == "Fetcher error"
    assert [fetch["result"] for fetch in report["fetches"]] == ["download_failed"] * 3
    for fetch in report["fetches"]:
        assert fetch["failure_reason"] == (
            "Failed downloading the Tarvo package\n"
            f"Too many redirects (more than 10), last to {server.url('/loop/b')}\n")
    # Each of the three attempts: its first request and ten hops, no more.
    loop = [request.path for request in server.http.requests if request.path.startswith("/loop/")]
    assert loop == (["/loop/a", "/loop/b"] * 5 + ["/loop/a"]) * 3


def failed_fetch_reasons(build_dir, pki, machine, server):
    """Runs the online installer, which must fail after three fetches, each
    failed with the front end's memory bounded; the fetches' reasons."""
    marker = Logs.marker()
    with PeakMemory(marker) as memory:
        assert machine.run(online(build_dir, machine, pki, server), marker) == 1
    print(f"peak resident size of the front end: {memory.peak} bytes")
    assert 0 < memory.peak < PEAK_MEMORY_BOUND
    (report,) = server.reports()
    assert [fetch["result"] for fetch in report["fetches"]] == ["download_failed"] * 3
    return [fetch["failure_reason"] for fetch in report["fetches"]]


# A package that comes at one byte a second keeps the silence watch content;
# each attempt ends at the first minute that brought fewer than 4 KiB.
def test_trickling_package_ends_each_attempt_as_too_slow(build_dir, pki, downloads, machine,
                                                         server):
    server.offer(downloads["current"])
    server.http.add(PACKAGE, Resource(downloads["current"], block=1, delay=1.0))

    for reason in failed_fetch_reasons(build_dir, pki, machine, server):
        assert reason.startswith(
            "Failed downloading the Tarvo package\nDownload too slow: "), reason


# Kept alive, the reply's connection must not be read to its end when the
# request is closed.
@pytest.mark.parametrize("keep_alive", [False, True], ids=["closed", "kept_alive"])
def test_endless_location_reply_ends_at_its_size_limit(build_dir, pki, machine, server,
                                                       keep_alive):
    for path in server.location_paths():
        server.http.add(path, Resource(endless=True, keep_alive=keep_alive))

    assert failed_fetch_reasons(build_dir, pki, machine, server) == [
        "Failed fetching the download URL\nResponse larger than the limit of 4194304 bytes\n"] * 3


RETRY = re.compile(r"Retrying (\d+) of 600\n")
# The downloader's line when it gives an attempt up because the head of its
# answer grew the process past its bound: the growth seen, and the bound.
HEAD_BOUND = re.compile(r"The head of the answer grew the process by (\d+) bytes while it was "
                        r"awaited, past the bound of (\d+) bytes")


def run_until(machine, installer, marker, logs, enough):
    """Runs the installer until enough(text of the run's logs) holds, then
    ends the run's processes; that text."""
    runner = subprocess.Popen(machine.command(installer, marker), stdout=subprocess.DEVNULL)
    try:
        end = time.monotonic() + HANG_GUARD
        while not enough(text := "".join(logs.of(marker).values())):
            assert runner.poll() is None, "the run ended first:\n" + text[-3000:]
            assert time.monotonic() < end, "the run never got there:\n" + text[-3000:]
            time.sleep(1)
    finally:
        for proc in marked_processes(marker):
            kill_if_still(int(proc.name), marker)
        runner.wait(timeout=HANG_GUARD)
    return text


def retries(text):
    return [int(number) for number in RETRY.findall(text)]


def assert_each_attempt_counts_its_minute(numbers):
    """An attempt given up after the minute's time-out counts as the ten
    retries, 6 s apart, an unreachable server would have had in it, and as
    one more."""
    assert len(numbers) >= 2 and numbers[0] >= 10, numbers
    assert all(later - earlier >= 11 for earlier, later in zip(numbers, numbers[1:])), numbers


# Without a whole head the fetch would wait about an hour, as for an
# unreachable server; two retries show the cadence. A head that trickles
# must not make the server answer two requests of it at once.
@pytest.mark.parametrize("resource", [
    Resource(silent_at=lambda number, first: SILENT_BEFORE_HEADERS),
    Resource(endless_headers=True, block=1, delay=1.0),
], ids=["silent", "trickling_head"])
def test_location_server_without_a_head_costs_what_an_unreachable_one_would(
        build_dir, pki, machine, server, logs, resource):
    for path in server.location_paths():
        server.http.add(path, resource)
    marker = Logs.marker()

    with PeakMemory(marker) as memory:
        text = run_until(machine, online(build_dir, machine, pki, server), marker, logs,
                         lambda text: len(retries(text)) >= 2)

    assert_each_attempt_counts_its_minute(retries(text))
    assert not HEAD_BOUND.search(text)
    assert max(server.http.most_open(path) for path in server.location_paths()) == 1
    print(f"peak resident size of the front end: {memory.peak} bytes")
    assert 0 < memory.peak < FRONT_END_SIZE


# A head without end, sent as fast as the front end reads it, costs the front
# end the downloader's own bound on a head's memory, whatever the speed: each
# attempt is given up there, not at its deadline, and counts as a retry.
# The attempt's minute runs from its request: the head is handed to the
# socket in pieces larger than what WinINet reads up to the bound (some
# 16 MiB), so no wait for the server's turn on a busy machine eats into it.
HEAD_PIECE = 32 * 1024 * 1024


def test_location_head_without_end_is_given_up_at_the_downloaders_memory_bound(
        build_dir, pki, machine, server, logs):
    paths = server.location_paths()
    for path in paths:
        server.http.add(path, Resource(endless_headers=True, block=HEAD_PIECE))
    marker = Logs.marker()

    with PeakMemory(marker) as memory:
        text = run_until(machine, online(build_dir, machine, pki, server), marker, logs,
                         lambda text: len(retries(text)) >= 2)

    stops = [(int(growth), int(bound)) for growth, bound in HEAD_BOUND.findall(text)]
    numbers = retries(text)
    print(f"peak resident size of the front end: {memory.peak} bytes; growth at each "
          f"stop: {[growth for growth, _ in stops]}")
    assert len(stops) >= len(numbers) >= 2, text[-3000:]
    assert "No answer from the server in" not in text
    assert all(later > earlier for earlier, later in zip(numbers, numbers[1:])), numbers
    assert max(server.http.most_open(path) for path in paths) == 1
    (bound,) = {bound for _, bound in stops}
    assert 0 < memory.peak < bound + FRONT_END_SIZE


def test_silent_report_server_after_an_installation_costs_what_an_unreachable_one_would(
        build_dir, pki, packages, downloads, machine, server, logs):
    server.offer(downloads["current"])
    server.http.add(FEEDBACK, Resource(silent_at=lambda number, first: SILENT_BEFORE_HEADERS))
    marker = Logs.marker()

    def report_retries(text):
        return retries(text.partition("The run succeeded")[2])

    text = run_until(machine, online(build_dir, machine, pki, server), marker, logs,
                     lambda text: len(report_retries(text)) >= 2)

    assert installed_tree(machine.folder) == package_tree(
        packages["current"][0], VERSIONS["current"], online=True)
    assert_each_attempt_counts_its_minute(report_retries(text))
