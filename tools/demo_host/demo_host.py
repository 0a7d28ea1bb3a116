#!/usr/bin/env python3
"""The distribution host of the demo build: the test host on 127.0.0.1:47443 (the port the demo
build's base URL names) serving a folder laid out like the real host, signed by the demo
build's own test CA.

  prepare  lay out the folder: prod/win32-{x64,x86,arm64}/latest.json naming
           "OmbrelLoomworkSetup.exe" (relative) and that installer beside each manifest
  start    prepare, then start the host in the background and wait until it listens
  stop     stop it

The installer is the demo payload's demo-installer.exe; --trailer appends a behaviour line
("OMBREL-DEMO:exit=3;..."), --pad-to makes the file at least that many bytes (room for
interrupted and resumed downloads). When the build has a test publisher (the installer then
checks the payload's signature), a changed copy is signed again with osslsigncode, as the
publisher's release process would. End-to-end tests use the functions here directly.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
TESTHOST = ROOT / "tools" / "testhost" / "testhost.py"
PORT = 47443
ARCHES = ("x64", "x86", "arm64")
INSTALLER_NAME = "OmbrelLoomworkSetup.exe"


def installer_path(arch="x64"):
    """The installer's URL path for one architecture."""
    return f"/prod/win32-{arch}/{INSTALLER_NAME}"


def manifest_path(arch="x64"):
    return f"/prod/win32-{arch}/latest.json"


def test_publisher(demo_installer):
    """The test publisher of the build that made <build>/tools/demo_payload/demo-installer.exe,
    or None when that build checks no signature."""
    folder = Path(demo_installer).resolve().parents[2] / "test-publisher"
    return folder if (folder / "chain.pem").exists() else None


def osslsigncode(*args, cwd):
    result = subprocess.run(["osslsigncode", *map(str, args)], cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"osslsigncode {args[0]} failed: {result.stdout.strip()} {result.stderr.strip()}")


def installer_bytes(demo_installer, trailer=None, pad_to=0):
    data = Path(demo_installer).read_bytes()
    tail = b"\nOMBREL-DEMO:" + trailer.encode() + b"\n" if trailer else b""
    if not tail and pad_to <= len(data):
        return data
    publisher = test_publisher(demo_installer)
    with tempfile.TemporaryDirectory() as scratch:
        if publisher:
            # Appended bytes would break the build's signature: sign the changed copy anew.
            osslsigncode("remove-signature", "-in", demo_installer, "-out", "plain.exe", cwd=scratch)
            data = Path(scratch, "plain.exe").read_bytes()
        # Zero padding sits between the program and the trailer, which the installer looks for
        # near its end (before the signature).
        missing = pad_to - len(data) - len(tail)
        if missing > 0:
            data += b"\0" * missing
        data += tail
        if publisher:
            Path(scratch, "changed.exe").write_bytes(data)
            osslsigncode("sign", "-certs", publisher / "chain.pem", "-key", publisher / "signer.key", "-h", "sha256",
                         "-in", "changed.exe", "-out", "signed.exe", cwd=scratch)
            data = Path(scratch, "signed.exe").read_bytes()
    return data


def replace_file(path, data):
    """Replaced, not rewritten in place: a size or mtime change gives a new ETag."""
    partial = path.with_name(path.name + ".partial")
    partial.write_bytes(data)
    os.replace(partial, path)


def prepare(www, demo_installer, trailer=None, pad_to=0, manifest=None):
    """Lays out the served folder; returns the installer's size in bytes."""
    www = Path(www)
    data = installer_bytes(demo_installer, trailer, pad_to)
    text = json.dumps(manifest if manifest is not None else {"latestInstallFile": INSTALLER_NAME})
    for arch in ARCHES:
        folder = www / "prod" / f"win32-{arch}"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "latest.json").write_text(text + "\n", encoding="utf-8")
        replace_file(folder / INSTALLER_NAME, data)
    return len(data)


def change_one_byte(www):
    """Spoils every served installer the way a faulty mirror would: one byte in the middle of
    the program flipped, size and signature left as they are."""
    for arch in ARCHES:
        installer = Path(www) / "prod" / f"win32-{arch}" / INSTALLER_NAME
        data = bytearray(installer.read_bytes())
        data[len(data) // 2] ^= 0x01
        replace_file(installer, bytes(data))


def ca_files(build_dir):
    ca = Path(build_dir) / "test-ca"
    return ca / "ca.pem", ca / "ca.key"


def start(state_dir, build_dir):
    """Starts the host (stopping an earlier one in the same state folder); returns its ports."""
    ca_cert, ca_key = ca_files(build_dir)
    if not ca_cert.exists():
        raise RuntimeError(f"{ca_cert} is missing: configure the demo build first")
    state_dir = Path(state_dir)
    result = subprocess.run([sys.executable, str(TESTHOST), "start", "--state-dir", str(state_dir),
                             "--ca-cert", str(ca_cert), "--ca-key", str(ca_key), "--listen", "main",
                             "--port", f"main={PORT}", "--cert-cache", str(state_dir.parent / "demo-host-certs")],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"the demo host did not start: {result.stderr.strip()}")
    return json.loads(result.stdout)


def stop(state_dir):
    subprocess.run([sys.executable, str(TESTHOST), "stop", "--state-dir", str(state_dir)],
                   capture_output=True)


def set_faults(state_dir, name, rules):
    """Replaces the host's scripted faults; the name makes each content new (fresh counters)."""
    control = Path(state_dir) / "control.json"
    partial = control.with_suffix(".partial")
    partial.write_text(json.dumps({"id": name, "rules": rules}), encoding="utf-8")
    os.replace(partial, control)


def requests(state_dir):
    """The host's request log, oldest first."""
    log = Path(state_dir) / "requests.jsonl"
    if not log.exists():
        return []
    return [json.loads(line) for line in log.read_text(encoding="ascii").splitlines() if line.strip()]


def clear_requests(state_dir):
    (Path(state_dir) / "requests.jsonl").write_text("", encoding="ascii")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=("prepare", "start", "stop"))
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "win32-demo"), help="the win32-demo build")
    parser.add_argument("--state-dir", help="host state folder (default: <build-dir>/demo-host)")
    parser.add_argument("--trailer", help="installer behaviour, e.g. exit=3 or sleep=5;expand")
    parser.add_argument("--pad-to", type=int, default=0, help="minimum installer size in bytes")
    args = parser.parse_args()
    build_dir = Path(args.build_dir).resolve()
    state_dir = Path(args.state_dir or build_dir / "demo-host").resolve()
    if args.command == "stop":
        stop(state_dir)
        return 0
    demo_installer = build_dir / "tools" / "demo_payload" / "demo-installer.exe"
    if not demo_installer.exists():
        sys.stderr.write(f"{demo_installer} is missing: build the demo build's ombrel_demo_installer\n")
        return 1
    size = prepare(state_dir / "www", demo_installer, args.trailer, args.pad_to)
    if args.command == "prepare":
        print(f"www: {state_dir / 'www'} (installer {size} bytes)")
        return 0
    start(state_dir, build_dir)
    print(f"demo host: https://localhost:{PORT}/ serving {state_dir / 'www'} (installer {size} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
