"""An HTTP/1.1 server of the tests' own on 127.0.0.1 and a free port, with
the behaviours a download client must survive: byte ranges (206), answers
that ignore a range, partial answers from the wrong byte or without
Content-Range, status sequences (503 then 200), redirects, a connection
dropped at a chosen byte, a connection that goes silent, a slow body, a
body that never ends or is smaller than it claims; and a
proxy that asks for
credentials (407). Every request is recorded as the server saw it, the path
exactly as it came on the request line.

    with HttpTestServer() as server:
        server.add("/file.bin", Resource(data))
        url = server.url("/file.bin")
        ...
        server.requests  # [Request(...), ...]

Standard library only, so that other tests can import it."""

import http.server
import itertools
import select
import socket
import socketserver
import struct
import threading
import time
from dataclasses import dataclass, field
from typing import Callable, List, Optional

# Body pieces are written in blocks of this size, so that a drop or a slow
# body can fall between them.
BLOCK = 64 * 1024
# silent_at's answer for a connection that gets nothing at all.
SILENT_BEFORE_HEADERS = -1
# How long a silent connection is held at most; close() ends it sooner.
SILENCE_LIMIT = 600


@dataclass
class Resource:
    """What the server answers for one path.

    statuses: statuses to answer, one per request in turn, before the body is
        served (e.g. [503, 503]); an empty list serves the body at once.
    location: the Location of a redirect status among `statuses`.
    ignore_range: answer every request with 200 and the whole body.
    drop_at: drop_at(request_number, first_byte) -> absolute byte offset at
        which to break the connection, or None to send the whole answer.
    reset: break a connection with a reset (RST) rather than a clean close.
    silent_at: silent_at(request_number, first_byte) -> absolute byte offset
        at which the answer stops and the connection stays open, sending
        nothing more until the server closes; SILENT_BEFORE_HEADERS sends not
        even the status line; None answers normally.
    misplaced_part: misplaced_part(request_number, asked_byte) -> the byte at
        which a range request's 206 answer really starts, or None to start
        where asked.
    label_parts: send Content-Range with 206 answers.
    delay: seconds to wait before each block of the body.
    block: size of those blocks.
    headers: extra response headers.
    endless: serve `data` (or zeros) over and over, without Content-Length,
        until the client goes away or the server closes.
    keep_alive: with `endless`, send the body in chunks on a connection
        kept alive rather than one closed at its end.
    endless_headers: answer with a status line and then header lines
        without end, `block` bytes at a time each after `delay` seconds,
        until the client goes away or the server closes: one byte a second
        is a status line that trickles.
    declared_length: the Content-Length to send instead of the body's.
    """
    data: bytes = b""
    statuses: List[int] = field(default_factory=list)
    location: str = ""
    ignore_range: bool = False
    drop_at: Optional[Callable[[int, int], Optional[int]]] = None
    reset: bool = True
    silent_at: Optional[Callable[[int, int], Optional[int]]] = None
    misplaced_part: Optional[Callable[[int, int], Optional[int]]] = None
    label_parts: bool = True
    delay: float = 0.0
    block: int = BLOCK
    headers: dict = field(default_factory=dict)
    endless: bool = False
    keep_alive: bool = False
    endless_headers: bool = False
    declared_length: Optional[int] = None


@dataclass
class Request:
    method: str
    path: str
    headers: dict
    body: bytes
    client: tuple
    status: int = 0
    # How the answer ended: "complete", "dropped" (by the server, at
    # `sent`), "silent" (held open from `sent` on) or "aborted" (the client
    # went away after `sent` body bytes).
    outcome: str = ""
    first_byte: int = 0
    sent: int = 0


def _endless_head(size):
    """A status line and header lines without end, in blocks of `size`."""
    head = b"HTTP/1.1 200 OK\r\n"
    line = b"X-Filler: 0123456789abcdef\r\n"
    while True:
        while len(head) < size:
            head += line * (size // len(line) + 1)
        yield head[:size]
        head = head[size:]


def _client_still_there(connection):
    """Whether the client of `connection` has neither closed nor shut down
    its side: an end of stream or an error waiting to be read says it has."""
    try:
        readable, _, _ = select.select([connection], [], [], 0)
        return not readable or connection.recv(1, socket.MSG_PEEK) != b""
    except (OSError, ValueError):
        return False


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        self.server.owner._serve(self)

    do_POST = do_GET
    do_HEAD = do_GET


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def handle_error(self, request, client_address):
        pass


class HttpTestServer:
    def __init__(self):
        self._resources = {}
        self._lock = threading.Lock()
        self._requests: List[Request] = []
        self._counts = {}
        self._open = {}  # path -> the connections answering it
        self._most_open = {}
        self._changed = threading.Condition(self._lock)
        self._closing = threading.Event()
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.05}, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._closing.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    @property
    def port(self):
        return self._server.server_address[1]

    def url(self, path, host="127.0.0.1"):
        return f"http://{host}:{self.port}{path}"

    def add(self, path, resource):
        with self._lock:
            self._resources[path] = resource

    @property
    def requests(self):
        with self._lock:
            return list(self._requests)

    def most_open(self, path):
        """The most requests for `path` the server was answering at one
        time."""
        with self._lock:
            return self._most_open.get(path, 0)

    def wait_for(self, predicate, timeout=600):
        """Waits until predicate(requests) holds; only guards against a hang."""
        end = time.monotonic() + timeout
        with self._changed:
            while not predicate(self._requests):
                remaining = end - time.monotonic()
                if remaining <= 0:
                    raise TimeoutError("the server never saw what was awaited")
                self._changed.wait(remaining)

    def _record(self, request):
        with self._changed:
            self._requests.append(request)
            self._changed.notify_all()

    def _finish(self, request, outcome, sent):
        with self._changed:
            request.outcome = outcome
            request.sent = sent
            self._changed.notify_all()

    def _serve(self, handler):
        path = handler.path.split("?", 1)[0]
        connection = handler.connection
        with self._lock:
            # Asked of the sockets when a request comes, not of the threads
            # answering them: a busy machine may not have run the thread
            # that would see its client gone by then.
            still_open = [c for c in self._open.get(path, []) if _client_still_there(c)]
            still_open.append(connection)
            self._open[path] = still_open
            self._most_open[path] = max(self._most_open.get(path, 0), len(still_open))
        try:
            self._serve_counted(handler)
        finally:
            with self._lock:
                self._open[path] = [c for c in self._open.get(path, []) if c is not connection]

    def _serve_counted(self, handler):
        length = int(handler.headers.get("Content-Length") or 0)
        body = handler.rfile.read(length) if length else b""
        request = Request(handler.command, handler.path, dict(handler.headers.items()), body,
                          handler.client_address)
        path = handler.path.split("?", 1)[0]
        with self._lock:
            resource = self._resources.get(path)
            number = self._counts.get(path, 0)
            self._counts[path] = number + 1
        self._record(request)
        if resource is None:
            self._answer(handler, request, 404, b"not found")
            return
        if number < len(resource.statuses):
            status = resource.statuses[number]
            headers = {"Location": resource.location} if resource.location else {}
            self._answer(handler, request, status, b"status %d" % status, headers)
            return
        self._send_body(handler, request, resource, number)

    def _answer(self, handler, request, status, body, headers=None):
        request.status = status
        handler.send_response(status)
        for name, value in (headers or {}).items():
            handler.send_header(name, value)
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        handler.wfile.write(body)
        self._finish(request, "complete", len(body))

    def _send_body(self, handler, request, resource, number):
        if resource.endless_headers:
            self._send_endless_headers(handler, request, resource)
            return
        if resource.endless:
            self._send_endless(handler, request, resource)
            return
        data = resource.data
        first = 0
        ranged = handler.headers.get("Range")
        if ranged and not resource.ignore_range and ranged.startswith("bytes="):
            first = int(ranged[len("bytes="):].split("-", 1)[0])
            misplaced = resource.misplaced_part(number, first) if resource.misplaced_part else None
            if misplaced is not None:
                first = misplaced
        silent = resource.silent_at(number, first) if resource.silent_at else None
        if silent == SILENT_BEFORE_HEADERS:
            self._hold_silent(handler, request, 0)
            return
        if first > len(data):
            self._answer(handler, request, 416, b"")
            return
        request.first_byte = first
        request.status = 206 if first or (ranged and not resource.ignore_range) else 200
        handler.send_response(request.status)
        handler.send_header("Content-Length", str(len(data) - first
                                                  if resource.declared_length is None
                                                  else resource.declared_length))
        handler.send_header("X-Served-By", "http-test-server")
        if request.status == 206 and resource.label_parts:
            handler.send_header("Content-Range",
                                f"bytes {first}-{len(data) - 1}/{len(data)}")
        for name, value in resource.headers.items():
            handler.send_header(name, value)
        handler.end_headers()
        drop = resource.drop_at(number, first) if resource.drop_at else None
        if silent is not None:
            drop = silent
        end = len(data) if drop is None else max(first, min(drop, len(data)))
        view = memoryview(data)
        position = first
        try:
            while position < end:
                if resource.delay:
                    time.sleep(resource.delay)
                step = min(resource.block, end - position)
                handler.wfile.write(view[position:position + step])
                position += step
            handler.wfile.flush()
        except OSError:
            handler.close_connection = True
            self._finish(request, "aborted", position - first)
            return
        if drop is None:
            self._finish(request, "complete", position - first)
            return
        if silent is not None:
            self._hold_silent(handler, request, position - first)
            return
        self._break_connection(handler, resource.reset)
        self._finish(request, "dropped", position - first)

    def _send_endless(self, handler, request, resource):
        request.status = 200
        handler.send_response(200)
        if resource.keep_alive:
            handler.send_header("Transfer-Encoding", "chunked")
        else:
            handler.send_header("Connection", "close")
        handler.end_headers()
        handler.close_connection = True
        block = resource.data or bytes(resource.block)
        if resource.keep_alive:
            block = b"%x\r\n%s\r\n" % (len(block), block)
        self._send_forever(handler, request, resource, itertools.repeat(block))

    def _send_endless_headers(self, handler, request, resource):
        request.status = 200
        handler.close_connection = True
        self._send_forever(handler, request, resource, _endless_head(resource.block))

    def _send_forever(self, handler, request, resource, blocks):
        """Writes the blocks, each after the resource's delay."""
        sent = 0
        try:
            for block in blocks:
                if self._closing.is_set():
                    break
                if resource.delay:
                    time.sleep(resource.delay)
                handler.wfile.write(block)
                handler.wfile.flush()
                sent += len(block)
        except OSError:
            self._finish(request, "aborted", sent)
            return
        self._finish(request, "complete", sent)

    def _hold_silent(self, handler, request, sent):
        try:
            handler.wfile.flush()
        except OSError:
            pass
        self._finish(request, "silent", sent)
        # Held until the server closes or the client goes away, so that the
        # requests answered at once count only those the client still has.
        end = time.monotonic() + SILENCE_LIMIT
        while not self._closing.is_set() and time.monotonic() < end:
            try:
                readable, _, _ = select.select([handler.connection], [], [], 0.2)
                if readable:
                    if not handler.connection.recv(1, socket.MSG_PEEK):
                        break
                    time.sleep(0.2)
            except OSError:
                break
        handler.close_connection = True

    @staticmethod
    def _break_connection(handler, reset):
        handler.close_connection = True
        connection = handler.connection
        try:
            if reset:
                connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                      struct.pack("ii", 1, 0))
            else:
                connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        connection.close()


class ProxyAskingForCredentials:
    """An HTTP proxy that answers every request with 407 and records the
    request lines (absolute URLs) it was sent."""

    def __init__(self):
        owner = self
        self._lock = threading.Lock()
        self.requests: List[Request] = []

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, format, *args):
                pass

            def do_GET(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                with owner._lock:
                    owner.requests.append(Request(self.command, self.path,
                                                  dict(self.headers.items()), body,
                                                  self.client_address, 407))
                text = b"proxy credentials required"
                self.send_response(407)
                self.send_header("Proxy-Authenticate", 'Basic realm="test proxy"')
                self.send_header("Content-Length", str(len(text)))
                self.end_headers()
                self.wfile.write(text)

            do_POST = do_GET

        self._server = _Server(("127.0.0.1", 0), Handler)
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.05}, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    @property
    def port(self):
        return self._server.server_address[1]


def main():
    """Serves SIZE random bytes at /file.bin until its input closes, for
    benchmarks: prints the URL and the SHA-256 of the bytes first."""
    import argparse
    import hashlib
    import os
    import sys
    parser = argparse.ArgumentParser()
    parser.add_argument("size", type=int)
    size = parser.parse_args().size
    data = os.urandom(size)
    with HttpTestServer() as server:
        server.add("/file.bin", Resource(data, block=1 << 20))
        print(server.url("/file.bin"), hashlib.sha256(data).hexdigest(), flush=True)
        sys.stdin.read()


if __name__ == "__main__":
    main()
