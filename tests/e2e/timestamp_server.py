"""A time-stamping authority of the tests' own, on 127.0.0.1 and a free port,
signing with a certificate of test_signature's Pki ("tsa", or "rogue_tsa"
under the root nobody trusts). It answers both kinds of request that
osslsigncode sends:

- RFC 3161 (`osslsigncode sign -ts URL`): a TimeStampReq posted as
  application/timestamp-query, answered by `openssl ts -reply` with a
  TimeStampResp whose token (sha256) carries the authority's certificate
  and its CA;
- Authenticode's first form (`osslsigncode sign -t URL`): a base64 request
  whose content is the signature value to countersign, answered with a
  base64 PKCS #7 signed data over that content (`openssl cms -sign`), whose
  signer info, with its signing-time and message-digest attributes, the
  signer puts into the signature as a countersignature.

`at` stamps at another time (openssl run with libfaketime: "-100d", or
"@2025-01-01 00:00:00"); `wrong_imprint` stamps a digest one bit away from
the one asked for, as a token of another signature would.

    with TimestampServer(pki_folder, signer="tsa") as url:
        pki.sign("good", source, target, timestamp=url)

    python3 timestamp_server.py PKI_FOLDER [--signer tsa] [--at=-100d]
        [--wrong-imprint]     prints the URL, serves until killed

Writes only into the PKI folder: its openssl configuration and a work
folder of its own, removed when it stops."""

import argparse
import base64
import binascii
import http.server
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from fake_clock import clock_environment  # noqa: E402

CONFIG_NAME = "tsa.cnf"
# The serial file is each server's own, named by the environment, so that
# servers on one PKI folder never share it.
CONFIG = """\
# The test time-stamping authority's answers (timestamp_server.py).
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = $ENV::TSA_SERIAL
crypto_device = builtin
signer_digest = sha256
# A policy of the tests' own.
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""

# A request is a few hundred bytes: a signature value and its framing.
MAX_REQUEST = 64 * 1024
RFC3161_QUERY = "application/timestamp-query"
PEM_END = "-----END CERTIFICATE-----"
# Where openssl's input file goes among its arguments.
INPUT = object()


def der_item(data, offset):
    """(tag, contents start, end) of the DER element at `offset`, bounded by
    the data; raises ValueError on a header that does not fit."""
    if offset + 2 > len(data):
        raise ValueError("truncated")
    tag, length = data[offset], data[offset + 1]
    start = offset + 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or start + count > len(data):
            raise ValueError("bad length")
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    if start + length > len(data):
        raise ValueError("truncated")
    return tag, start, start + length


def der_children(data, item):
    children, offset = [], item[1]
    while offset < item[2]:
        children.append(der_item(data, offset))
        offset = children[-1][2]
    return children


def legacy_request_content(request):
    """The signature value in an Authenticode time-stamp request:
    SEQUENCE { type, ContentInfo { data, [0] { OCTET STRING } } }."""
    fields = der_children(request, der_item(request, 0))
    content_info = [f for f in fields if f[0] == 0x30][-1]
    explicit = der_children(request, content_info)[1]
    octets = der_children(request, explicit)[0]
    if octets[0] != 0x04:
        raise ValueError("content is not an octet string")
    return request[octets[1]:octets[2]]


def flip_imprint(query):
    """The RFC 3161 query with the last byte of its message imprint changed:
    TimeStampReq { version, MessageImprint { algorithm, hashedMessage }, ...}."""
    query = bytearray(query)
    imprint = der_children(query, der_item(query, 0))[1]
    hashed = der_children(query, imprint)[1]
    query[hashed[2] - 1] ^= 0x01
    return bytes(query)


class TimestampServer:
    def __init__(self, pki_folder, signer="tsa", at=None, wrong_imprint=False):
        self.folder = Path(pki_folder).resolve()
        self.signer = signer
        self.at = at
        self.wrong_imprint = wrong_imprint
        self.lock = threading.Lock()
        self.work = None
        self.httpd = None
        self.thread = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        (self.folder / CONFIG_NAME).write_text(CONFIG)
        self.work = Path(tempfile.mkdtemp(prefix="tsa_", dir=self.folder))
        (self.work / "serial").write_text("01\n")
        # The token carries the authority's certificate and the CAs above
        # it: what its chain file holds after its own certificate.
        chain = (self.folder / f"{self.signer}_chain.pem").read_text()
        (self.work / "issuers.pem").write_text(chain.split(PEM_END, 1)[1].lstrip())
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                authority.answer(self)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        return self.url

    @property
    def url(self):
        return f"http://127.0.0.1:{self.httpd.server_address[1]}/"

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None
        if self.work:
            shutil.rmtree(self.work, ignore_errors=True)
            self.work = None

    def answer(self, handler):
        try:
            length = int(handler.headers.get("Content-Length", "0"))
        except ValueError:
            length = -1
        if not 0 < length <= MAX_REQUEST:
            handler.send_error(400)
            return
        body = handler.rfile.read(length)
        content_type = handler.headers.get("Content-Type", "").split(";")[0].strip()
        try:
            if content_type == RFC3161_QUERY:
                reply, reply_type = self.rfc3161_reply(body), "application/timestamp-reply"
            else:
                reply, reply_type = self.legacy_reply(body), "application/octet-stream"
        except (ValueError, IndexError, binascii.Error, subprocess.CalledProcessError) as error:
            print(f"timestamp_server: {error}", file=sys.stderr)
            handler.send_error(500)
            return
        handler.send_response(200)
        handler.send_header("Content-Type", reply_type)
        handler.send_header("Content-Length", str(len(reply)))
        handler.end_headers()
        handler.wfile.write(reply)

    def openssl(self, *arguments, source):
        """Runs openssl (its clock at `at`) with `source` in a file
        whose path stands for INPUT among `arguments`; returns what it
        wrote."""
        with self.lock:
            source_file, output = self.work / "source", self.work / "output"
            source_file.write_bytes(source)
            arguments = [str(source_file) if a is INPUT else a for a in arguments]
            environment = {"PATH": "/usr/bin:/bin", "TSA_SERIAL": str(self.work / "serial")}
            subprocess.run(["openssl", *arguments, "-out", str(output)],
                           cwd=self.folder, check=True, capture_output=True,
                           env=clock_environment(self.at, environment))
            return output.read_bytes()

    def rfc3161_reply(self, query):
        if self.wrong_imprint:
            query = flip_imprint(query)
        return self.openssl(
            "ts", "-reply", "-config", CONFIG_NAME, "-queryfile", INPUT,
            "-signer", f"{self.signer}.pem", "-inkey", f"{self.signer}.key",
            "-chain", str(self.work / "issuers.pem"), "-sha256", source=query)

    def legacy_reply(self, body):
        content = legacy_request_content(base64.b64decode(b"".join(body.split()), validate=True))
        if self.wrong_imprint:
            content = content[:-1] + bytes([content[-1] ^ 0x01])
        signed = self.openssl(
            "cms", "-sign", "-binary", "-nodetach", "-nosmimecap", "-md", "sha256", "-in", INPUT,
            "-signer", f"{self.signer}.pem", "-inkey", f"{self.signer}.key",
            "-certfile", str(self.work / "issuers.pem"), "-outform", "DER", source=content)
        return base64.b64encode(signed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pki_folder")
    parser.add_argument("--signer", default="tsa")
    parser.add_argument("--at", default=None)
    parser.add_argument("--wrong-imprint", action="store_true")
    options = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server = TimestampServer(options.pki_folder, options.signer, options.at,
                             options.wrong_imprint)
    try:
        print(server.start(), flush=True)
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()


if __name__ == "__main__":
    main()
