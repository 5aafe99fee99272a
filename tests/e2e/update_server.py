"""The update server of the tests and the demo, on 127.0.0.1 and a free
port (http_test_server underneath): the package location request of an
online installer, the package, the additional files, the preference defaults
and the statistics reports, as the installer asks for them.

    with UpdateServer() as server:
        server.offer(package_bytes, components=[...])
        installer built with server.autoupdate_url
        ...
        server.reports()  # the statistics reports received, as JSON

Installers reach it through their branding's "autoupdate" URL, which names
the host "localhost": the statistics report may go to no other loopback
host."""

import hashlib
import json

from http_test_server import HttpTestServer, Resource

STREAM = "developer"
PREFIX = "/v4/"
FEEDBACK = PREFIX + "netinstaller/feedback"
PREFS = PREFIX + "api/prefs/"
PACKAGE = "/packages/tarvo_installer.exe"
PREF_DEFAULTS = b'{"homepage": "https://updates.example/home"}'


class UpdateServer:
    def __init__(self):
        self.http = HttpTestServer()
        self.http.add(FEEDBACK, Resource(b"ok"))
        self.http.add(PREFS, Resource(PREF_DEFAULTS))

    def __enter__(self):
        self.http.__enter__()
        return self

    def __exit__(self, *exc):
        self.http.__exit__(*exc)

    @property
    def autoupdate_url(self):
        return self.http.url(PREFIX, host="localhost")

    def url(self, path):
        return self.http.url(path)

    def location_paths(self, stream=STREAM):
        """Where installers of either architecture ask for the package."""
        base = f"{PREFIX}netinstaller/{stream}"
        return [base, base + "/windows/x64/"]

    def offer(self, package, checksum=None, components=(), welcome_url=None, drop_at=None,
              reset=True, reply=None):
        """Answers the location request with the package (bytes), served at
        PACKAGE; `checksum` overrides its SHA-256, `reply` the whole reply;
        `drop_at` and `reset` as http_test_server.Resource has them."""
        self.http.add(PACKAGE, Resource(package, drop_at=drop_at, reset=reset))
        if reply is None:
            reply = {"installer": self.url(PACKAGE),
                     "installer_checksum": checksum or hashlib.sha256(package).hexdigest()}
            if components:
                reply["components"] = list(components)
            if welcome_url:
                reply["url_welcome"] = welcome_url
        body = reply if isinstance(reply, bytes) else json.dumps(reply).encode()
        for path in self.location_paths():
            self.http.add(path, Resource(body))

    def refuse_locations(self, status):
        for path in self.location_paths():
            self.http.add(path, Resource(b"", statuses=[status] * 100))

    def add_file(self, path, data):
        self.http.add(path, Resource(data))
        return self.url(path)

    def refuse_reports(self, status):
        self.http.add(FEEDBACK, Resource(b"", statuses=[status] * 100))

    def requests_to(self, path):
        return [r for r in self.http.requests if r.path.split("?", 1)[0] == path]

    def reports(self):
        return [json.loads(r.body) for r in self.requests_to(FEEDBACK) if r.method == "POST"]

    def package_requests(self):
        return self.requests_to(PACKAGE)
