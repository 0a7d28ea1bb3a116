#!/usr/bin/env python3
"""Test distribution host: HTTPS on 127.0.0.1, serving a folder the way nginx does.

Answers like nginx 1.22 with a static folder (ETag "hexmtime-hexsize", Last-Modified, byte
ranges, If-Range, 416), plus faults scripted per test through a control file. Standard library
only; certificates are made with the openssl command at start, signed by the CA given.

Subcommands:
  serve  run in the foreground (what tests start as a child process)
  start  start a detached `serve`, wait until it listens, print its ports (ctest fixtures)
  stop   stop the host started by `start` in the same state folder

State folder (--state-dir):
  ports.json      {"pid": N, "main": port, ...} written once every listener is up
  control.json    faults for the next requests; re-read whenever it changes (see below)
  requests.jsonl  one JSON object per request: listener, method, path, headers, status
  certs/          made keys and certificates (unless --cert-cache names another folder)
  www/            the served folder unless --root is given

Ports: any free one per listener, unless --port fixes some (e.g. --port main=47443), as a
demo build with its base URL compiled in needs.

Listeners (--listen, comma separated; the name is also the key in ports.json):
  main         HTTPS, certificate for "localhost" signed by the CA
  wrongname    HTTPS, certificate for "wrong-name.test" signed by the CA
  expired      HTTPS, certificate for "localhost" signed by the CA, valid 2020-01-01 to 2020-02-01
  notyetvalid  HTTPS, certificate for "localhost" signed by the CA, valid 2040-01-01 to 2040-02-01
  unknownca    HTTPS, certificate for "localhost" signed by a CA made at start and trusted by nobody
  plain        plain HTTP (for redirects to http:// and http:// URLs)

control.json:
  {"id": any, "gzip_json": true, "rules": [rule, ...]}
  A new content resets the per-rule counters. For each request the first rule that matches is
  applied; a rule matches when its optional "path" (exact, without the query), "listener" and
  "ranged" (true: only requests with a Range header, false: only those without) match and its
  optional "first" count (apply to the first N matching requests) is not used up.
  Rule members (all optional):
    status: N             answer with status N and a short text body instead of the file
    delay_head: S         wait S seconds before answering at all
    redirect: "loc"       answer 302 (or "redirect_status") with Location loc; "{main}", "{plain}"
                          etc. expand to "https://localhost:PORT" / "http://localhost:PORT"
    drop_after: N         close the connection abruptly after N body bytes
    end_after: N          end the body in good order after N bytes (for chunked or
                          close-delimited bodies: a clean end short of the file)
    stall_after: N        after N body bytes stop sending for stall_seconds (default 60)
    rate: N               send at most N body bytes per second
    ignore_range: true    answer a range request with the whole file (200)
    ignore_if_range: true answer a range request with the range (206) whatever If-Range says,
                          as a server that does not implement If-Range
    range_shift: N        answer a range request from N bytes after the asked start (206, with
                          a Content-Range that says so)
    extra_bytes: N        send N bytes more than the file or range holds (Content-Length counts
                          them; Content-Range does not)
    etag: "\"v\""         ETag to send and to compare If-Range with (instead of mtime-size);
                          null sends none
    weak_etag: true       send the ETag as W/"..." (If-Range with it never matches)
    last_modified: "..."  Last-Modified to send and to compare If-Range with; null sends none
    no_validators: true   send neither ETag nor Last-Modified
    no_content_length: true  no Content-Length: the body ends when the connection closes
    chunked: true         chunked transfer coding instead of Content-Length
    gzip: true|false      gzip the body when the client accepts it (default: JSON files only,
                          as nginx with "gzip on"); like nginx it turns the ETag weak, sends
                          chunked and ignores Range
  Built-in route: /__redirect/N/<path> redirects N times (302), then serves /<path>.
"""

import argparse
import email.utils
import fcntl
import gzip
import http.server
import io
import json
import os
import secrets
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

LISTENERS = ("main", "wrongname", "expired", "notyetvalid", "unknownca", "plain")
CHUNK = 65536


# ---------------------------------------------------------------- certificates

def run_openssl(args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_leaf(cert_dir, name, dns_name, ca_cert, ca_key, dates=None):
    """Key and certificate for dns_name signed by the CA, valid for 30 days from now or between
    dates ("YYYYMMDDHHMMSSZ", "YYYYMMDDHHMMSSZ"); returns (cert, key) paths."""
    key = os.path.join(cert_dir, name + ".key")
    csr = os.path.join(cert_dir, name + ".csr")
    cert = os.path.join(cert_dir, name + ".pem")
    ext = os.path.join(cert_dir, name + ".ext")
    with open(ext, "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:%s\n" % dns_name)
    run_openssl(["req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                 "-subj", "/CN=" + dns_name], cert_dir)
    if dates is None:
        run_openssl(["x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key,
                     "-set_serial", str(secrets.randbits(63)), "-days", "30", "-sha256",
                     "-extfile", ext, "-out", cert], cert_dir)
    else:
        # "openssl x509" cannot set dates; "openssl ca" takes explicit ones.
        db = os.path.join(cert_dir, name + ".db")
        os.makedirs(db, exist_ok=True)
        open(os.path.join(db, "index.txt"), "w").close()
        conf = os.path.join(cert_dir, name + ".cnf")
        with open(conf, "w") as f:
            f.write("[ca]\ndefault_ca=test\n[test]\n"
                    "database=%s/index.txt\nnew_certs_dir=%s\nrand_serial=yes\n"
                    "default_md=sha256\npolicy=any\nunique_subject=no\n"
                    "[any]\ncommonName=supplied\n" % (db, db))
        run_openssl(["ca", "-batch", "-config", conf, "-cert", ca_cert, "-keyfile", ca_key,
                     "-in", csr, "-out", cert, "-notext", "-extfile", ext,
                     "-startdate", dates[0], "-enddate", dates[1]], cert_dir)
    return cert, key


def make_ca(cert_dir, name):
    key = os.path.join(cert_dir, name + "-ca.key")
    cert = os.path.join(cert_dir, name + "-ca.pem")
    run_openssl(["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                 "-keyout", key, "-out", cert, "-subj", "/CN=Untrusted Test CA",
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign"], cert_dir)
    return cert, key


def cached(cert_dir, name, make):
    """Certificates made by an earlier host are reused for a while: key generation is most of
    a host's start-up time, and tests start many hosts."""
    cert = os.path.join(cert_dir, name + ".pem")
    key = os.path.join(cert_dir, name + ".key")
    stamp = os.path.join(cert_dir, name + ".done")
    with open(os.path.join(cert_dir, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            fresh = time.time() - os.stat(stamp).st_mtime < 10 * 24 * 3600
        except OSError:
            fresh = False
        if not fresh:
            make()
            open(stamp, "w").close()
    return cert, key


def tls_context(listener, cert_dir, ca_cert, ca_key):
    if listener == "plain":
        return None
    # The CA's own mtime is part of the cache key: a build dir that made a new CA gets new leaves.
    cert_dir = os.path.join(cert_dir, "%x" % int(os.stat(ca_cert).st_mtime))
    os.makedirs(cert_dir, exist_ok=True)
    if listener == "main":
        make = lambda: make_leaf(cert_dir, "main", "localhost", ca_cert, ca_key)
    elif listener == "wrongname":
        make = lambda: make_leaf(cert_dir, "wrongname", "wrong-name.test", ca_cert, ca_key)
    elif listener == "expired":
        make = lambda: make_leaf(cert_dir, "expired", "localhost", ca_cert, ca_key,
                                 dates=("20200101000000Z", "20200201000000Z"))
    elif listener == "notyetvalid":
        make = lambda: make_leaf(cert_dir, "notyetvalid", "localhost", ca_cert, ca_key,
                                 dates=("20400101000000Z", "20400201000000Z"))
    elif listener == "unknownca":
        make = lambda: make_leaf(cert_dir, "unknownca", "localhost", *make_ca(cert_dir, "unknown"))
    else:
        raise ValueError("unknown listener " + listener)
    cert, key = cached(cert_dir, listener, make)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    context.set_alpn_protocols(["http/1.1"])
    return context


# ---------------------------------------------------------------- scripted faults

class Control:
    """control.json, re-read when its content changes; counters reset with every new content."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.text = None
        self.config = {}
        self.hits = []

    def pick(self, listener, path, ranged):
        """Returns (rule, gzip_json) for one request and counts the rule's use."""
        with self.lock:
            self._reload()
            rules = self.config.get("rules", [])
            for index, rule in enumerate(rules):
                if "path" in rule and rule["path"] != path:
                    continue
                if "listener" in rule and rule["listener"] != listener:
                    continue
                if "ranged" in rule and bool(rule["ranged"]) != ranged:
                    continue
                if "first" in rule and self.hits[index] >= rule["first"]:
                    continue
                self.hits[index] += 1
                return rule, self.config.get("gzip_json", True)
            return {}, self.config.get("gzip_json", True)

    def _reload(self):
        try:
            with open(self.path, "r", encoding="utf-8") as f:
                text = f.read()
        except FileNotFoundError:
            text = ""
        if text == self.text:
            return
        self.text = text
        try:
            self.config = json.loads(text) if text.strip() else {}
        except ValueError as error:
            sys.stderr.write("testhost: bad control file: %s\n" % error)
            self.config = {}
        self.hits = [0] * len(self.config.get("rules", []))


class RequestLog:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def write(self, entry):
        line = json.dumps(entry, ensure_ascii=True, separators=(",", ":")) + "\n"
        with self.lock, open(self.path, "a", encoding="ascii") as f:
            f.write(line)


# ---------------------------------------------------------------- HTTP

def http_date(seconds):
    return email.utils.formatdate(seconds, usegmt=True)


def parse_range(value, size):
    """nginx's reading of a single "bytes=" range: (start, end) inclusive, "unsatisfiable",
    or None when the header is to be ignored (bad syntax, several ranges)."""
    if not value.startswith("bytes="):
        return None
    spec = value[len("bytes="):].strip()
    if "," in spec or "-" not in spec:
        return None
    first, last = (part.strip() for part in spec.split("-", 1))
    try:
        if first == "":
            if not last.isdigit():
                return None
            suffix = int(last)
            if suffix == 0:
                return "unsatisfiable"
            return (max(0, size - suffix), size - 1)
        if not first.isdigit() or (last and not last.isdigit()):
            return None
        start = int(first)
        end = int(last) if last else size - 1
    except ValueError:
        return None
    if start >= size:
        return "unsatisfiable"
    if end < start:
        return None
    return (start, min(end, size - 1))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "nginx/1.22.1"
    # Without it every keep-alive answer waits for the peer's delayed ACK (40 ms).
    disable_nagle_algorithm = True

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        self.answer(send_body=True)

    def do_HEAD(self):
        self.answer(send_body=False)

    # -- one request

    def answer(self, send_body):
        host = self.server.host
        path = urllib.parse.urlsplit(self.path).path
        rule, gzip_json = host.control.pick(self.server.listener, path, "Range" in self.headers)
        if "delay_head" in rule:
            time.sleep(float(rule["delay_head"]))
        headers = {}
        for name, value in self.headers.items():
            key = name.lower()
            headers[key] = headers[key] + ", " + value if key in headers else value

        def log(status):
            host.log.write({"listener": self.server.listener, "method": self.command,
                            "path": self.path, "status": status, "headers": headers})

        if path.startswith("/__redirect/"):
            rest = path[len("/__redirect/"):]
            count, _, target = rest.partition("/")
            if count.isdigit() and int(count) > 0:
                n = int(count)
                location = "/" + target if n == 1 else "/__redirect/%d/%s" % (n - 1, target)
                log(302)
                return self.send_simple(302, "redirect\n", {"Location": location}, send_body)
            if count == "0":
                path = "/" + target

        if "redirect" in rule:
            location = rule["redirect"]
            for name, port in host.ports.items():
                scheme = "http" if name == "plain" else "https"
                location = location.replace("{%s}" % name, "%s://localhost:%d" % (scheme, port))
            status = rule.get("redirect_status", 302)
            log(status)
            return self.send_simple(status, "redirect\n", {"Location": location}, send_body, rule)

        if "status" in rule:
            status = int(rule["status"])
            log(status)
            return self.send_simple(status, "status %d\n" % status, {}, send_body, rule)

        file_path = self.resolve(path)
        if file_path is None:
            log(404)
            return self.send_simple(404, "<html><body>404 Not Found</body></html>\n",
                                    {"Content-Type": "text/html"}, send_body)
        self.send_file(file_path, rule, gzip_json, headers, send_body, log)

    def resolve(self, path):
        relative = urllib.parse.unquote(path).lstrip("/")
        parts = [p for p in relative.split("/") if p not in ("", ".")]
        if any(p == ".." for p in parts):
            return None
        full = os.path.join(self.server.host.root, *parts)
        return full if os.path.isfile(full) else None

    def send_simple(self, status, body, extra, send_body, rule=None):
        """A short generated answer; a rule's body faults (stall, drop) apply to it too."""
        data = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", extra.pop("Content-Type", "text/plain"))
        for name, value in extra.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if send_body:
            self.send_stream(io.BytesIO(data), len(data), rule or {}, chunked=False)

    def send_file(self, file_path, rule, gzip_json, request_headers, send_body, log):
        stat = os.stat(file_path)
        size = stat.st_size
        mtime = int(stat.st_mtime)
        etag = rule.get("etag", '"%x-%x"' % (mtime, size))
        last_modified = rule.get("last_modified", http_date(mtime))
        if rule.get("weak_etag") and etag is not None:
            etag = "W/" + etag
        if rule.get("no_validators"):
            etag = None
            last_modified = None

        accepts_gzip = "gzip" in request_headers.get("accept-encoding", "")
        wants_gzip = rule.get("gzip", gzip_json and file_path.endswith(".json"))
        content_type = "application/json" if file_path.endswith(".json") else "application/octet-stream"

        if wants_gzip and accepts_gzip:
            with open(file_path, "rb") as f:
                data = gzip.compress(f.read())
            if etag and not etag.startswith("W/"):
                etag = "W/" + etag
            log(200)
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            if last_modified:
                self.send_header("Last-Modified", last_modified)
            if etag:
                self.send_header("ETag", etag)
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            if send_body:
                self.send_chunked_bytes(data, rule)
            return

        status = 200
        start, end = 0, size - 1
        range_header = request_headers.get("range")
        if range_header is not None and not rule.get("ignore_range"):
            wanted = parse_range(range_header, size)
            if_range = request_headers.get("if-range")
            if wanted is not None and if_range is not None and not rule.get("ignore_if_range"):
                strong_match = etag is not None and not etag.startswith("W/") and if_range == etag
                date_match = last_modified is not None and if_range == last_modified
                if not (strong_match or date_match):
                    wanted = None
            if wanted == "unsatisfiable":
                log(416)
                body = b"<html><body>416 Requested Range Not Satisfiable</body></html>\n"
                self.send_response(416)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Content-Range", "bytes */%d" % size)
                self.end_headers()
                if send_body:
                    self.wfile.write(body)
                return
            if wanted is not None:
                status = 206
                start, end = wanted
                # A broken server that sends (and labels) a later part than was asked for.
                start = min(start + int(rule.get("range_shift", 0)), end)

        length = end - start + 1 if size > 0 else 0
        extra = int(rule.get("extra_bytes", 0))
        chunked = bool(rule.get("chunked"))
        close_delimited = bool(rule.get("no_content_length")) and not chunked
        log(status)
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif not close_delimited:
            self.send_header("Content-Length", str(length + extra))
        if last_modified:
            self.send_header("Last-Modified", last_modified)
        if etag:
            self.send_header("ETag", etag)
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.send_header("Accept-Ranges", "bytes")
        if close_delimited:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if not send_body:
            return
        with open(file_path, "rb") as f:
            f.seek(start)
            source = f
            if extra:
                # The asked part, then bytes that belong to nothing.
                source = io.BytesIO(f.read(length) + b"\xA5" * extra)
            self.send_stream(source, length + extra, rule, chunked)

    # -- body with faults

    def send_chunked_bytes(self, data, rule):
        class Reader:
            def __init__(self, data):
                self.data, self.pos = data, 0

            def read(self, n):
                piece = self.data[self.pos:self.pos + n]
                self.pos += len(piece)
                return piece
        self.send_stream(Reader(data), len(data), rule, chunked=True)

    def send_stream(self, source, length, rule, chunked):
        if rule.get("end_after") is not None:
            length = min(length, int(rule["end_after"]))
        drop_after = rule.get("drop_after")
        stall_after = rule.get("stall_after")
        stall_seconds = rule.get("stall_seconds", 60)
        rate = rule.get("rate")
        sent = 0
        started = time.monotonic()
        try:
            while sent < length:
                want = min(CHUNK, length - sent)
                if rate:
                    want = min(want, max(1, int(rate) // 20))
                for limit in (drop_after, stall_after):
                    if limit is not None and sent <= limit:
                        want = min(want, limit - sent)
                piece = source.read(want) if want > 0 else b""
                if piece:
                    self.write_piece(piece, chunked)
                    sent += len(piece)
                if drop_after is not None and sent >= drop_after:
                    self.drop()
                    return
                if stall_after is not None and sent >= stall_after:
                    stall_after = None
                    time.sleep(stall_seconds)
                if rate:
                    ahead = sent / float(rate) - (time.monotonic() - started)
                    if ahead > 0:
                        time.sleep(ahead)
                if not piece and want > 0:
                    break  # the file shrank under us
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            self.close_connection = True

    def write_piece(self, piece, chunked):
        if chunked:
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
        else:
            self.wfile.write(piece)

    def drop(self):
        """Ends the connection without a TLS close_notify, as a broken network would."""
        self.close_connection = True
        self.dropped = True
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, host, listener, context, port=0):
        self.host = host
        self.listener = listener
        self.context = context
        # A fixed port must be free again at once after a host stops (TIME_WAIT connections).
        self.allow_reuse_address = port != 0
        super().__init__(("127.0.0.1", port), Handler)

    def server_bind(self):
        # HTTPServer.server_bind asks for the host's full name, a DNS query that can take
        # seconds without a network.
        socketserver.TCPServer.server_bind(self)
        self.server_name = "localhost"
        self.server_port = self.server_address[1]

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the connection's own thread, so a client that refuses the
        # certificate (what the refusal tests want) never blocks the others.
        connection = request
        try:
            request.settimeout(120)
            if self.context is not None:
                connection = self.context.wrap_socket(request, server_side=True)
            handler = self.RequestHandlerClass(connection, client_address, self)
            if connection is not request and not getattr(handler, "dropped", False):
                # An orderly end sends close_notify, as nginx does: without it a body that ends
                # with the connection cannot be told from a cut one.
                connection.settimeout(1)
                connection.unwrap()
        except (ssl.SSLError, OSError, ValueError):
            pass
        finally:
            if connection is not request:
                try:
                    connection.close()
                except OSError:
                    pass


class Host:
    def __init__(self, args):
        self.state_dir = os.path.abspath(args.state_dir)
        os.makedirs(self.state_dir, exist_ok=True)
        self.root = os.path.abspath(args.root or os.path.join(self.state_dir, "www"))
        os.makedirs(self.root, exist_ok=True)
        self.control = Control(os.path.join(self.state_dir, "control.json"))
        self.log = RequestLog(os.path.join(self.state_dir, "requests.jsonl"))
        self.ports = {}
        self.servers = []
        self.exit_with_parent = args.exit_with_parent
        cert_dir = os.path.abspath(args.cert_cache or os.path.join(self.state_dir, "certs"))
        os.makedirs(cert_dir, exist_ok=True)
        for listener in args.listen.split(","):
            listener = listener.strip()
            if listener not in LISTENERS:
                raise SystemExit("testhost: unknown listener %r" % listener)
            context = tls_context(listener, cert_dir, args.ca_cert, args.ca_key)
            server = Server(self, listener, context, fixed_ports(args).get(listener, 0))
            self.servers.append(server)
            self.ports[listener] = server.server_address[1]

    def serve(self):
        threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
                   for s in self.servers]
        for t in threads:
            t.start()
        ports_file = os.path.join(self.state_dir, "ports.json")
        tmp = ports_file + ".tmp"
        with open(tmp, "w") as f:
            json.dump(dict(self.ports, pid=os.getpid()), f)
        os.replace(tmp, ports_file)
        print(json.dumps(self.ports), flush=True)
        stop = threading.Event()
        signal.signal(signal.SIGTERM, lambda *_: stop.set())
        signal.signal(signal.SIGINT, lambda *_: stop.set())
        parent = os.getppid()
        while not stop.wait(0.1):
            # A test process that crashed or was killed cannot stop its host; the host notices
            # that it has been handed to another parent and ends too.
            if self.exit_with_parent and os.getppid() != parent:
                break
        try:
            os.remove(ports_file)
        except OSError:
            pass
        # Connection threads may sit in a scripted stall: end at once instead of joining them.
        sys.stdout.flush()
        os._exit(0)


# ---------------------------------------------------------------- command line

def fixed_ports(args):
    """--port NAME=PORT[,NAME=PORT...] as {name: port}."""
    ports = {}
    for item in (args.port or "").split(","):
        if not item.strip():
            continue
        name, _, port = item.partition("=")
        if name.strip() not in LISTENERS or not port.strip().isdigit():
            raise SystemExit("testhost: bad --port item %r (want NAME=PORT)" % item)
        ports[name.strip()] = int(port)
    return ports


def cmd_serve(args):
    Host(args).serve()


def cmd_start(args):
    state = os.path.abspath(args.state_dir)
    os.makedirs(state, exist_ok=True)
    ports_file = os.path.join(state, "ports.json")
    cmd_stop(args, quiet=True)
    for name in ("control.json", "requests.jsonl"):
        try:
            os.remove(os.path.join(state, name))
        except OSError:
            pass
    serve_args = [sys.executable, os.path.abspath(__file__), "serve", "--state-dir", state,
                  "--ca-cert", args.ca_cert, "--ca-key", args.ca_key, "--listen", args.listen]
    if args.root:
        serve_args += ["--root", args.root]
    if args.cert_cache:
        serve_args += ["--cert-cache", args.cert_cache]
    if args.port:
        serve_args += ["--port", args.port]
    with open(os.path.join(state, "host.log"), "ab") as out:
        process = subprocess.Popen(serve_args, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                   start_new_session=True, close_fds=True)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if os.path.exists(ports_file):
            with open(ports_file) as f:
                print(f.read(), flush=True)
            return 0
        if process.poll() is not None:
            sys.stderr.write("testhost: the host ended at start, see %s/host.log\n" % state)
            return 1
        time.sleep(0.05)
    process.terminate()
    sys.stderr.write("testhost: the host did not start in time\n")
    return 1


def cmd_stop(args, quiet=False):
    ports_file = os.path.join(os.path.abspath(args.state_dir), "ports.json")
    try:
        with open(ports_file) as f:
            pid = int(json.load(f)["pid"])
    except (OSError, ValueError, KeyError):
        if not quiet:
            sys.stderr.write("testhost: no running host in %s\n" % args.state_dir)
        return 0
    def alive():
        # A detached host that has ended stays a zombie until init reaps it.
        try:
            with open("/proc/%d/stat" % pid) as f:
                return f.read().rsplit(")", 1)[1].split()[0] != "Z"
        except (OSError, IndexError):
            return False

    try:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 10
        while alive() and time.monotonic() < deadline:
            time.sleep(0.02)
        if alive():
            os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        os.remove(ports_file)
    except OSError:
        pass
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("serve", "start", "stop"):
        p = sub.add_parser(name)
        p.add_argument("--state-dir", required=True)
        if name != "stop":
            p.add_argument("--ca-cert", required=True, help="PEM of the CA that signs the certificates")
            p.add_argument("--ca-key", required=True)
            p.add_argument("--root", help="folder to serve (default: <state-dir>/www)")
            p.add_argument("--listen", default="main", help="listeners, e.g. main,plain,expired")
            p.add_argument("--port", help="fixed ports instead of free ones, e.g. main=47443")
            p.add_argument("--exit-with-parent", action="store_true",
                           help="end when the process that started the host ends")
            p.add_argument("--cert-cache", help="folder to keep the made certificates in for reuse "
                                                "(default: <state-dir>/certs)")
    args = parser.parse_args()
    if args.command == "serve":
        cmd_serve(args)
        return 0
    if args.command == "start":
        return cmd_start(args)
    return cmd_stop(args)


if __name__ == "__main__":
    sys.exit(main())
