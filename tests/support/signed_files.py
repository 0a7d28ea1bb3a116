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

  signed_files.py --publisher-dir DIR --name NAME --program EXE --out DIR
"""
import argparse
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path


LEAF = ("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
        "extendedKeyUsage=codeSigning\nauthorityKeyIdentifier=none\nsubjectKeyIdentifier=none\n")
CA = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
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


class Keys:
    def __init__(self, folder):
        self.folder = Path(folder)

    def root(self, name, subject):
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
            "-keyout", f"{name}.key", "-out", f"{name}.pem", "-subj", subject,
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            cwd=self.folder)

    def reissue(self, name, root, subject):
        """A second self-signed certificate of `root`'s key and name: other serial, other dates."""
        run("openssl", "req", "-x509", "-new", "-key", f"{root}.key", "-sha256", "-days", "1000", "-set_serial", "77",
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


def sign(program, out, chain, key):
    run("osslsigncode", "sign", "-certs", str(chain), "-key", str(key), "-h", "sha256", "-in", str(program),
        "-out", str(out), cwd=Path(out).parent)


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
        sign(program, good, keys.bag("good", "signer", "root"), publisher / "signer.key")

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
