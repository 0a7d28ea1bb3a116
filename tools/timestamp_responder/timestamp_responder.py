#!/usr/bin/env python3
"""An RFC 3161 time-stamping responder on loopback: `openssl ts -reply` behind a few lines of
HTTP, for signing with a timestamp without reaching a public time-stamping authority (TSA).

  timestamp_responder.py --cert TSA.pem --key TSA.key [--certs CHAIN.pem] [--port N]
                         [--time "YYYY-MM-DD HH:MM:SS"] [--policy OID]

It listens on 127.0.0.1 only, on --port or (0, the default) a free port, prints one line
"port N" on standard output once it listens, and then answers every POST of a DER
TimeStampReq with a TimeStampResp whose token --cert/--key signed, until SIGTERM or SIGINT
ends it. A signer points at it with

  osslsigncode sign ... -ts http://127.0.0.1:N/

  --cert    the TSA's certificate (PEM). openssl signs only with one whose extended key usage
            is timeStamping alone, marked critical.
  --key     its private key (PEM, unencrypted).
  --certs   further certificates (PEM, e.g. the TSA's issuers) put into every token beside the
            TSA's own (which goes in when the request asks, as osslsigncode's does), so a
            verifier builds the TSA's chain from the token alone.
  --time    the time the tokens carry instead of the clock's, UTC: dates a token inside an old
            certificate's validity. Runs openssl under faketime (Debian package "faketime").
  --policy  the TSA policy OID the tokens name (default 1.2.3.4.1, a test arc).

A request openssl cannot answer gets HTTP 500 and openssl's message on standard error; nothing
else is logged. Requests are answered one at a time.
"""
import argparse
import datetime
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

CONFIG = """[tsa]
default_tsa = responder
[responder]
serial = {folder}/serial.txt
crypto_device = builtin
signer_cert = {cert}
signer_key = {key}
{certs}signer_digest = sha256
default_policy = {policy}
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class Responder(http.server.BaseHTTPRequestHandler):
    folder: Path  # scratch folder with openssl's config and serial file
    time_prefix: list  # faketime and its arguments, or nothing

    def do_POST(self):  # noqa: N802 (the name http.server calls)
        length = int(self.headers.get("Content-Length") or 0)
        query = self.folder / "query.tsq"
        reply = self.folder / "reply.tsr"
        query.write_bytes(self.rfile.read(length))
        reply.unlink(missing_ok=True)
        result = subprocess.run([*self.time_prefix, "openssl", "ts", "-reply", "-config", str(self.folder / "tsa.cnf"),
                                 "-queryfile", str(query), "-out", str(reply)],
                                capture_output=True, text=True, env={**os.environ, "TZ": "UTC"})
        if result.returncode != 0 or not reply.exists():
            sys.stderr.write(f"timestamp_responder: openssl ts -reply failed: {result.stderr.strip()}\n")
            self.send_error(500, "openssl ts -reply failed")
            return
        body = reply.read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):  # noqa: A002 (http.server's signature)
        pass


def stop(signum, frame):
    raise SystemExit(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cert", required=True, type=Path)
    parser.add_argument("--key", required=True, type=Path)
    parser.add_argument("--certs", type=Path)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--time", help="UTC, YYYY-MM-DD HH:MM:SS")
    parser.add_argument("--policy", default="1.2.3.4.1")
    args = parser.parse_args()

    time_prefix = []
    if args.time:
        datetime.datetime.strptime(args.time, "%Y-%m-%d %H:%M:%S")  # refuses anything else
        if shutil.which("faketime") is None:
            parser.error("--time needs faketime (apt-get install faketime)")
        time_prefix = ["faketime", "-f", f"@{args.time}"]
    for path in filter(None, (args.cert, args.key, args.certs)):
        if not path.is_file():
            parser.error(f"{path} does not exist")

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    with tempfile.TemporaryDirectory(prefix="timestamp-responder-") as scratch:
        folder = Path(scratch)
        (folder / "serial.txt").write_text("01\n", encoding="ascii")
        certs = f"certs = {args.certs.resolve()}\n" if args.certs else ""
        (folder / "tsa.cnf").write_text(CONFIG.format(folder=folder, cert=args.cert.resolve(),
                                                      key=args.key.resolve(), certs=certs, policy=args.policy),
                                        encoding="utf-8")
        Responder.folder = folder
        Responder.time_prefix = time_prefix
        server = http.server.HTTPServer(("127.0.0.1", args.port), Responder)
        print(f"port {server.server_address[1]}", flush=True)
        try:
            server.serve_forever()
        finally:
            server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
