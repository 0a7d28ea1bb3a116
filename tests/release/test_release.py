"""A release end to end: scripts/release.sh signs a build of this commit with a test PKCS#12 and a
timestamp from the local responder and checks it; scripts/verify-release.sh rebuilds it in a
clone of its own and proves the signed file is that build; a file changed after signing and a
checkout with changes are refused.

release.sh wants a checkout without changes, so it runs in a clone (build/release-test/clone) of
a commit of this checkout's tracked files as they are (`git stash create`, which changes no ref
or file; HEAD when nothing changed): in a developer's tree the test builds the changes, on CI the
commit, and neither is refused. Untracked files stay out until they are added.
scripts/test.sh runs it after the end-to-end build, from which it takes
  OMBREL_DEPS_DIR             the cross-built libcurl, so neither clone builds it again
  OMBREL_TEST_PUBLISHER_DIR   the demo build's test publisher (its key signs the release)
  WINEPREFIX                  the prepared Wine prefix (manifest-check runs under Wine)
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

ROOT = Path(os.environ.get("OMBREL_ROOT", Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(ROOT / "tools" / "pe_check"))
from pe_file import PeFile  # noqa: E402

SCRATCH = ROOT / "build" / "release-test"
CLONE = SCRATCH / "clone"
DIST = CLONE / "dist"
EXE_NAME = "Install Ombrel Loomwork.exe"
# Not the default, so a rebuild that ignored the recorded value would give other bytes.
BASE_URL = "https://releases.example.test/loomwork/"
TSA_EXTENSIONS = ("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=critical,timeStamping\n")


def run(*args, cwd=None, env=None):
    return subprocess.run([str(a) for a in args], cwd=cwd, env=env, capture_output=True, text=True)


def openssl(*args, cwd):
    result = run("openssl", *args, cwd=cwd)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {args[0]}: {result.stderr}")


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def dist_state():
    return {p.name: p.read_bytes() for p in DIST.iterdir()} if DIST.exists() else None


class ReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.deps_dir = Path(os.environ.get("OMBREL_DEPS_DIR", ROOT / "build" / "deps"))
        cls.publisher = Path(os.environ.get("OMBREL_TEST_PUBLISHER_DIR", ROOT / "build" / "win32-demo" / "test-publisher"))
        cls.env = {k: v for k, v in os.environ.items() if k != "OMBREL_ROOT"}
        cls.env["WINEPREFIX"] = os.environ.get("WINEPREFIX", str(ROOT / "build" / "wineprefix"))
        cls.jobs = os.environ.get("JOBS", "2")
        shutil.rmtree(SCRATCH, ignore_errors=True)
        keys = SCRATCH / "keys"
        keys.mkdir(parents=True)

        # The signing key as a vendor holds it: the test publisher's key and chain in a PKCS#12.
        cls.password = keys / "password.txt"
        cls.password.write_text("test release password")
        openssl("pkcs12", "-export", "-inkey", cls.publisher / "signer.key", "-in", cls.publisher / "signer.pem",
                "-certfile", cls.publisher / "root.pem", "-passout", f"file:{cls.password}", "-out", "signing.p12",
                cwd=keys)
        # A time-stamping authority under a root of its own, served on loopback.
        (keys / "tsa.ext").write_text(TSA_EXTENSIONS)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-keyout", "tsa-root.key",
                "-out", "tsa-root.pem", "-subj", "/O=Ombrel Tests/CN=Ombrel Test TSA Root",
                "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign", cwd=keys)
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key", "-out", "tsa.csr",
                "-subj", "/O=Ombrel Tests/CN=Ombrel Test TSA", cwd=keys)
        openssl("x509", "-req", "-in", "tsa.csr", "-CA", "tsa-root.pem", "-CAkey", "tsa-root.key", "-set_serial", "2",
                "-days", "30", "-sha256", "-extfile", "tsa.ext", "-out", "tsa.pem", cwd=keys)
        cls.tsa_roots = keys / "tsa-root.pem"
        cls.responder = subprocess.Popen(
            [sys.executable, str(ROOT / "tools" / "timestamp_responder" / "timestamp_responder.py"),
             "--cert", str(keys / "tsa.pem"), "--key", str(keys / "tsa.key"), "--certs", str(cls.tsa_roots)],
            stdout=subprocess.PIPE, text=True)
        cls.addClassCleanup(cls.stop_responder)
        port = re.fullmatch(r"port (\d+)\n", cls.responder.stdout.readline())
        if not port:
            raise RuntimeError("the timestamp responder did not start")
        cls.timestamp_url = f"http://127.0.0.1:{port.group(1)}/"

        # (A name for the snapshot's commit, where git has none configured.)
        identity = {f"GIT_{who}_{what}": value for who in ("AUTHOR", "COMMITTER")
                    for what, value in (("NAME", "Release test"), ("EMAIL", "release-test@localhost"))}
        snapshot = run("git", "stash", "create", cwd=ROOT, env={**os.environ, **identity}).stdout.strip()
        steps = [("clone", "-q", ROOT, CLONE)]
        if snapshot:
            steps += [("-C", CLONE, "fetch", "-q", ROOT, snapshot), ("-C", CLONE, "checkout", "-q", snapshot)]
        for step in steps:
            result = run("git", *step)
            if result.returncode != 0:
                raise RuntimeError(f"git {' '.join(map(str, step))}: {result.stderr}")
        cls.commit = run("git", "rev-parse", "HEAD", cwd=CLONE).stdout.strip()
        cls.release = cls.release_sh()

    @classmethod
    def stop_responder(cls):
        cls.responder.terminate()
        cls.responder.wait()
        cls.responder.stdout.close()

    @classmethod
    def release_sh(cls, password=None):
        return run("bash", CLONE / "scripts" / "release.sh", "--base-url", BASE_URL,
                   "--publisher-name", (cls.publisher / "name.txt").read_text(encoding="utf-8"),
                   "--publisher-roots", cls.publisher / "root.pem", "--pkcs12", SCRATCH / "keys" / "signing.p12",
                   "--password-file", password or cls.password, "--timestamp-url", cls.timestamp_url,
                   "--tsa-roots", cls.tsa_roots, "--deps-dir", cls.deps_dir, "--jobs", cls.jobs,
                   cwd=CLONE, env=cls.env)

    def verify_release_sh(self, signed, facts):
        return run("bash", CLONE / "scripts" / "verify-release.sh", "--scratch", SCRATCH / "verify",
                   "--deps-dir", self.deps_dir, "--tsa-roots", self.tsa_roots, "--jobs", self.jobs, signed, facts,
                   env=self.env)

    def assertRan(self, result, code):
        self.assertEqual(result.returncode, code, f"exit status; output:\n{result.stdout}\n{result.stderr}")

    def test_release_signs_checks_and_records(self):
        self.assertRan(self.release, 0)
        for check in ("check 1/3: osslsigncode verify: ok",
                      f"check 2/3: manifest-check --check-installer: signer: {(self.publisher / 'name.txt').read_text(encoding='utf-8')}",
                      "check 3/3: PE checks: ok"):
            self.assertIn(check, self.release.stdout)
        self.assertEqual(sorted(p.name for p in DIST.iterdir()), [EXE_NAME, "SHA256SUMS", "release.json"])
        self.assertEqual([p.name for p in CLONE.glob(".release-*")], [], "a staging folder was left")

        signed = DIST / EXE_NAME
        facts = json.loads((DIST / "release.json").read_text(encoding="utf-8"))
        unsigned = CLONE / "build" / "release" / "app" / EXE_NAME
        self.assertEqual(facts["commit"], self.commit)
        self.assertEqual(facts["base_url"], BASE_URL)
        self.assertEqual(facts["publisher_name"], (self.publisher / "name.txt").read_text(encoding="utf-8"))
        self.assertEqual(facts["publisher_roots_pem"], (self.publisher / "root.pem").read_text())
        self.assertEqual(facts["unsigned_sha256"], sha256(unsigned))
        self.assertEqual(facts["size"], unsigned.stat().st_size)
        self.assertEqual(facts["signed_sha256"], sha256(signed))
        self.assertEqual(facts["version"], re.search(r'set\(OMBREL_VERSION "([^"]+)"\)',
                                                     (ROOT / "CMakeLists.txt").read_text()).group(1))
        self.assertEqual(facts["libcurl_source"], re.search(r'ombrel_curl_pinned_version "([^"]+)"',
                                                            (ROOT / "cmake" / "CurlWindows.cmake").read_text()).group(1))
        self.assertRegex(facts["zlib"], r"^\d+\.\d+")
        self.assertRegex(facts["compiler"], r"^i686-w64-mingw32-g\+\+")
        # The pins are the ones the build compiled in (generated/publisher_values.inc).
        generated = (CLONE / "build" / "release" / "generated" / "publisher_values.inc").read_text()
        compiled = ["".join(re.findall(r"0x(..)", row)) for row in re.findall(r"\{(0x[^}]+)\}", generated)]
        self.assertEqual(facts["spki_pins"], compiled)
        self.assertEqual(len(compiled), 1)

        sums = run("sha256sum", "-c", "--ignore-missing", "SHA256SUMS", cwd=DIST)
        self.assertRan(sums, 0)
        self.assertIn(f"{facts['unsigned_sha256']}  unsigned/{EXE_NAME}", (DIST / "SHA256SUMS").read_text())
        # The timestamp is there and is the responder's, checked against its root alone.
        stamped = run("osslsigncode", "verify", "-in", signed, "-CAfile", self.publisher / "root.pem",
                      "-TSA-CAfile", self.tsa_roots)
        self.assertRan(stamped, 0)
        self.assertIn("Timestamp Server Signature verification: ok", stamped.stdout)

    def test_verify_reproduces_and_refuses_a_changed_byte(self):
        self.assertRan(self.release, 0)
        facts = DIST / "release.json"
        reproduced = self.verify_release_sh(DIST / EXE_NAME, facts)
        self.assertRan(reproduced, 0)
        recorded = json.loads(facts.read_text(encoding="utf-8"))["unsigned_sha256"]
        self.assertEqual(reproduced.stdout.splitlines()[-1], f"reproduced: {recorded}")

        # One byte changed after signing, anywhere: in the code, in the headers, in the signature.
        pe = PeFile(DIST / EXE_NAME)
        text = next((start, size) for name, start, size in pe.file_sections if name == ".text")
        certificates, length = pe.directories[4]
        signer_name = (self.publisher / "name.txt").read_text(encoding="utf-8").encode()
        in_signature = pe.data.index(signer_name, certificates, certificates + length)
        rows = [
            (".text", text[0] + text[1] // 2, "in .text"),
            ("link time stamp", int.from_bytes(pe.data[0x3C:0x40], "little") + 8, "in headers"),
            ("checksum", pe.checksum_offset, "its header was changed after signing"),
            ("signer's name", in_signature, "its signature does not verify"),
        ]
        for name, offset, expected in rows:
            with self.subTest(name):
                changed = SCRATCH / "changed" / EXE_NAME
                changed.parent.mkdir(exist_ok=True)
                data = bytearray(pe.data)
                data[offset] ^= 0x01
                changed.write_bytes(data)
                refused = self.verify_release_sh(changed, facts)
                self.assertRan(refused, 1)
                self.assertIn(expected, refused.stdout)
                if expected.startswith("in "):
                    self.assertIn(f"first at offset {offset} ({offset:#x}), {expected}", refused.stdout)

    def test_release_stops_and_leaves_dist_whole(self):
        self.assertRan(self.release, 0)
        before = dist_state()
        wrong_password = SCRATCH / "keys" / "wrong-password.txt"
        wrong_password.write_text("not the password")
        readme, untracked = CLONE / "README.md", CLONE / "notes.txt"
        rows = [
            ("a changed and an untracked file", lambda: (readme.write_text(readme.read_text() + "\nchanged\n"),
                                                        untracked.write_text("new\n")),
             None, ["the checkout has changes", " M README.md", "?? notes.txt"]),
            ("a wrong password", lambda: None, wrong_password, ["release: FAILED: signing with osslsigncode"]),
        ]
        for name, change, password, expected in rows:
            with self.subTest(name):
                change()
                try:
                    result = self.release_sh(password)
                finally:
                    run("git", "checkout", "--", ".", cwd=CLONE)
                    untracked.unlink(missing_ok=True)
                self.assertRan(result, 1)
                for text in expected:
                    self.assertIn(text, result.stderr)
                self.assertEqual(dist_state(), before, "dist/ changed")
                self.assertEqual([p.name for p in CLONE.glob(".release-*")], [], "a staging folder was left")


if __name__ == "__main__":
    unittest.main()
