#!/usr/bin/env python3
"""Makes the signed and spoiled copies of one program that the Windows signature tests check,
at test time, with openssl and osslsigncode:

  good.exe            signed by the build's test publisher under its (pinned) root
  body-byte.exe       good.exe with one byte of the program changed
  signature-byte.exe  good.exe with one byte of the signature value changed
  unsigned.exe        the program as built
  other-name.exe      signed under the pinned root by a certificate of another name
  unpinned-root.exe   signed by the publisher's name under a root the build does not pin
  truncated.exe       the first half of good.exe
  forged-issuer.exe   the publisher's name issued by a look-alike of the pinned root (same name,
                      other key); the pinned root travels in the signature
  leaf-as-ca.exe      the publisher's name issued by a code-signing certificate (no CA) of the
                      pinned root
  reissued-root.exe   signed by the publisher under a second certificate of the pinned root's key
                      (same name, other serial and dates), which the signature carries instead
  expired-signer.exe  the publisher's certificate valid only 2010-2011, no timestamp
  future-signer.exe   the publisher's certificate valid only from 2040
  server-signer.exe   the publisher's certificate for server authentication only
  server-issuer.exe   the publisher under an intermediate CA restricted to server authentication
  no-cert-sign.exe    the publisher under an intermediate CA whose key usage lacks keyCertSign
  expired-issuer.exe  the publisher under an intermediate CA valid only 2010-2011
  no-eku-signer.exe   the publisher's certificate without an extended key usage extension
  critical-ext-signer.exe  the publisher's certificate with a critical extension nobody knows
  name-constrained.exe  the publisher under an intermediate CA whose name constraints exclude
                      the publisher's organization
  ts-stranger.exe     good.exe's signer, timestamped now by a time-stamping authority (TSA)
                      under a root the build does not pin
  expired-ts-stranger.exe  expired-signer.exe's certificate, timestamped inside its validity
                      (2011-06-01) by that TSA
  expired-ts-pinned.exe    the same, timestamped by a TSA under the pinned key

The timestamps come from tools/timestamp_responder on loopback (openssl ts, dated with faketime);
each is checked with osslsigncode verify against its TSA's root before the tests see it.

  signed_files.py --publisher-dir DIR --name NAME --program EXE --out DIR
"""
import argparse
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

RESPONDER = Path(__file__).resolve().parents[2] / "tools" / "timestamp_responder" / "timestamp_responder.py"


LEAF = ("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
        "extendedKeyUsage=codeSigning\nauthorityKeyIdentifier=none\nsubjectKeyIdentifier=none\n")
CA = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
TSA = LEAF.replace("extendedKeyUsage=codeSigning", "extendedKeyUsage=critical,timeStamping")
# `openssl ca` can date a certificate in the past or the future, which `x509 -req` cannot.
CA_CONFIG = """[ca]
default_ca = dated
[dated]
database = index.txt
new_certs_dir = .
serial = serial.txt
default_md = sha256
policy = any
unique_subject = no
[any]
organizationName = optional
commonName = supplied
"""


def run(*args, cwd):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def dated(since):
    """The command prefix that runs a program with the clock set to `since` (UTC), if any."""
    return ("env", "TZ=UTC", "faketime", "-f", f"@{since}") if since else ()


class Keys:
    def __init__(self, folder):
        self.folder = Path(folder)

    def root(self, name, subject, since=None):
        """A self-signed CA certificate of a new key, valid ten years from now or (`since`, UTC
        YYYY-MM-DD HH:MM:SS) forty years from then."""
        run(*dated(since), "openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
            "-days", "14600" if since else "3650", "-keyout", f"{name}.key", "-out", f"{name}.pem", "-subj", subject,
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            cwd=self.folder)

    def reissue(self, name, root, subject, since=None):
        """A second self-signed certificate of `root`'s key and name: other serial, other dates
        (from `since` for forty years, as in root())."""
        run(*dated(since), "openssl", "req", "-x509", "-new", "-key", f"{root}.key", "-sha256",
            "-days", "14600" if since else "1000", "-set_serial", "78" if since else "77",
            "-out", f"{name}.pem", "-subj", subject, "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=self.folder)

    def leaf(self, name, common_name, issuer, extensions=LEAF, dates=None):
        """A code-signing certificate (or what `extensions` make it); without an authority key
        identifier, so a chain builder can only go by the issuer's name. `dates`: (start, end)
        as YYYYMMDDHHMMSSZ instead of ten years from now."""
        (self.folder / f"{name}.ext").write_text(extensions, encoding="ascii")
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
            "-utf8", "-subj", f"/O=Ombrel Tests/CN={common_name}", cwd=self.folder)
        if dates is None:
            run("openssl", "x509", "-req", "-in", f"{name}.csr", "-CA", f"{issuer}.pem", "-CAkey", f"{issuer}.key",
                "-CAcreateserial", "-days", "3650", "-sha256", "-extfile", f"{name}.ext",
                "-out", f"{name}.pem", cwd=self.folder)
            return
        (self.folder / "dated.cnf").write_text(CA_CONFIG, encoding="ascii")
        (self.folder / "index.txt").write_text("", encoding="ascii")
        (self.folder / "serial.txt").write_text(f"{len(list(self.folder.glob('*.csr'))) + 4096:04x}\n", encoding="ascii")
        run("openssl", "ca", "-batch", "-config", "dated.cnf", "-cert", f"{issuer}.pem", "-keyfile", f"{issuer}.key",
            "-in", f"{name}.csr", "-out", f"{name}.pem", "-startdate", dates[0], "-enddate", dates[1],
            "-extfile", f"{name}.ext", "-notext", "-preserveDN", "-utf8", cwd=self.folder)

    def bag(self, name, *certificates):
        (self.folder / f"{name}-chain.pem").write_bytes(
            b"".join((self.folder / f"{c}.pem").read_bytes() for c in certificates))
        return self.folder / f"{name}-chain.pem"


def sign(program, out, chain, key, timestamp_url=None):
    timestamp = ["-ts", timestamp_url] if timestamp_url else []
    run("osslsigncode", "sign", "-certs", str(chain), "-key", str(key), "-h", "sha256", *timestamp,
        "-in", str(program), "-out", str(out), cwd=Path(out).parent)


class TimestampResponder:
    """tools/timestamp_responder for the length of a `with`: its URL, or a failure to start."""

    def __init__(self, cert, key, certs, time=None):
        self.args = [sys.executable, str(RESPONDER), "--cert", str(cert), "--key", str(key), "--certs", str(certs)]
        self.args += ["--time", time] if time else []

    def __enter__(self):
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().split()
        if len(line) != 2 or line[0] != "port":
            self.process.kill()
            raise RuntimeError(f"the timestamp responder did not start: {line}")
        return f"http://127.0.0.1:{line[1]}/"

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()


def signature_end(data):
    """Offset just past the PKCS#7 blob in the certificate table, whose last bytes are the RSA
    signature value (osslsigncode adds no unsigned attributes without a timestamp)."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    magic = int.from_bytes(data[pe + 24:pe + 26], "little")
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    table = int.from_bytes(data[directories + 32:directories + 36], "little")  # entry 4: security
    pkcs7 = table + 8  # past the WIN_CERTIFICATE header
    assert data[pkcs7] == 0x30 and data[pkcs7 + 1] == 0x82, "unexpected signature encoding"
    return pkcs7 + 4 + int.from_bytes(data[pkcs7 + 2:pkcs7 + 4], "big")


def flip(data, offset):
    changed = bytearray(data)
    changed[offset] ^= 0x01
    return bytes(changed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--publisher-dir", required=True, help="the build's test publisher")
    parser.add_argument("--name", required=True, help="the publisher's common name")
    parser.add_argument("--program", required=True, help="an unsigned Windows program")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    out = Path(args.out)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    publisher = Path(args.publisher_dir)
    with tempfile.TemporaryDirectory() as scratch:
        keys = Keys(scratch)
        for name in ("root", "signer"):
            shutil.copy(publisher / f"{name}.pem", scratch)
            shutil.copy(publisher / f"{name}.key", scratch)
        root_subject = subprocess.run(["openssl", "x509", "-in", str(publisher / "root.pem"), "-noout", "-subject",
                                       "-nameopt", "compat"], check=True, capture_output=True,
                                      text=True).stdout.strip().removeprefix("subject=")

        program = out / "unsigned.exe"
        shutil.copy(args.program, program)
        good = out / "good.exe"
        good_chain = keys.bag("good", "signer", "root")
        sign(program, good, good_chain, publisher / "signer.key")

        keys.leaf("impostor", "Ombrel Impostor", "root")
        sign(program, out / "other-name.exe", keys.bag("impostor", "impostor", "root"), Path(scratch, "impostor.key"))

        keys.root("stranger-root", "/O=Ombrel Tests/CN=Ombrel Stranger Root")
        keys.leaf("stranger", args.name, "stranger-root")
        sign(program, out / "unpinned-root.exe", keys.bag("stranger", "stranger", "stranger-root"),
             Path(scratch, "stranger.key"))

        keys.root("lookalike-root", root_subject)
        keys.leaf("forger", args.name, "lookalike-root")
        sign(program, out / "forged-issuer.exe", keys.bag("forger", "forger", "root"), Path(scratch, "forger.key"))

        keys.leaf("helper", "Ombrel Helper", "root")
        keys.leaf("helped", args.name, "helper")
        sign(program, out / "leaf-as-ca.exe", keys.bag("helped", "helped", "helper", "root"),
             Path(scratch, "helped.key"))

        keys.reissue("reissued-root", "root", root_subject)
        sign(program, out / "reissued-root.exe", keys.bag("reissued", "signer", "reissued-root"),
             publisher / "signer.key")

        past, future = ("20100101000000Z", "20111231000000Z"), ("20400101000000Z", "20491231000000Z")
        server = LEAF.replace("codeSigning", "serverAuth")
        for file, extensions, dates in (("expired-signer", LEAF, past), ("future-signer", LEAF, future),
                                        ("server-signer", server, None)):
            keys.leaf(file, args.name, "root", extensions, dates)
            sign(program, out / f"{file}.exe", keys.bag(file, file, "root"), Path(scratch, f"{file}.key"))
        for file, extensions, dates in (("server-issuer", CA + "extendedKeyUsage=serverAuth\n", None),
                                        ("no-cert-sign", CA.replace("keyCertSign,", "digitalSignature,"), None),
                                        ("expired-issuer", CA, past)):
            keys.leaf(f"{file}-ca", f"Ombrel {file} CA", "root", extensions, dates)
            keys.leaf(file, args.name, f"{file}-ca")
            sign(program, out / f"{file}.exe", keys.bag(file, file, f"{file}-ca", "root"), Path(scratch, f"{file}.key"))

        no_eku = LEAF.replace("extendedKeyUsage=codeSigning\n", "")
        critical_ext = LEAF + "1.3.6.1.4.1.55555.1=critical,ASN1:NULL\n"
        for file, extensions in (("no-eku-signer", no_eku), ("critical-ext-signer", critical_ext)):
            keys.leaf(file, args.name, "root", extensions)
            sign(program, out / f"{file}.exe", keys.bag(file, file, "root"), Path(scratch, f"{file}.key"))
        constrained = CA + "nameConstraints=critical,excluded;dirName:excluded\n[excluded]\nO=Ombrel Tests\n"
        keys.leaf("name-constrained-ca", "Ombrel name-constrained CA", "root", constrained)
        keys.leaf("name-constrained", args.name, "name-constrained-ca")
        sign(program, out / "name-constrained.exe", keys.bag("constrained", "name-constrained", "name-constrained-ca",
                                                               "root"), Path(scratch, "name-constrained.key"))

        # Timestamps of 2011, inside expired-signer's validity, need issuers valid then: a copy of
        # the pinned root's key and a stranger root, both valid 2009-2049, under which two
        # time-stamping authorities are valid 2010-2049.
        since, inside = "2009-01-01 00:00:00", "2011-06-01 12:00:00"
        keys.reissue("old-root", "root", root_subject, since)
        keys.root("stranger-old-root", "/O=Ombrel Tests/CN=Ombrel Stranger TSA Root", since)
        for tsa, issuer in (("pinned-tsa", "root"), ("stranger-tsa", "stranger-old-root")):
            keys.leaf(tsa, f"Ombrel {tsa}", issuer, TSA, ("20100101000000Z", "20491231000000Z"))
        expired = (keys.bag("expired-old", "expired-signer", "old-root"), Path(scratch, "expired-signer.key"))
        anchors, folder = keys.bag("anchors", "root", "old-root"), Path(scratch)
        for file, tsa, issuer, time, (chain, key) in (
                ("ts-stranger", "stranger-tsa", "stranger-old-root", None, (good_chain, publisher / "signer.key")),
                ("expired-ts-stranger", "stranger-tsa", "stranger-old-root", inside, expired),
                ("expired-ts-pinned", "pinned-tsa", "old-root", inside, expired)):
            with TimestampResponder(folder / f"{tsa}.pem", folder / f"{tsa}.key", folder / f"{issuer}.pem", time) as url:
                sign(program, out / f"{file}.exe", chain, key, url)
            # The token verifies under its TSA's root and dates the signature inside the signer's
            # validity: the file is what its name says, whichever root a verifier trusts.
            run("osslsigncode", "verify", "-in", str(out / f"{file}.exe"), "-CAfile", str(anchors),
                "-TSA-CAfile", str(folder / f"{issuer}.pem"), cwd=folder)

    data = good.read_bytes()
    (out / "body-byte.exe").write_bytes(flip(data, len(data) // 2))
    (out / "signature-byte.exe").write_bytes(flip(data, signature_end(data) - 16))
    (out / "truncated.exe").write_bytes(data[:len(data) // 2])
    print(f"signed files in {out}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except subprocess.CalledProcessError as error:
        sys.stderr.write(f"{' '.join(map(str, error.cmd))} failed: {error.stderr.decode(errors='replace')}\n")
        sys.exit(1)
