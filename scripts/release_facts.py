#!/usr/bin/env python3
"""The facts of a release, dist/release.json: what scripts/release.sh records about the exe it
signed, and what scripts/verify-release.sh reads back to build the same bytes again.

  release_facts.py write OUT --commit C --build DIR --deps-dir DIR --base-url URL
                   --publisher-name NAME --publisher-roots PEM --unsigned EXE --signed EXE
                   [--timestamp-url URL]
  release_facts.py get RELEASE_JSON FIELD
      one recorded value on standard output, as it is (the roots PEM included)
  release_facts.py toolchain-changes RELEASE_JSON --deps-dir DIR
      one line for each package or source version that differs on this machine (none: nothing)

Another compiler, binutils, MinGW runtime, zlib or curl source gives other bytes without anything
being wrong, so a rebuild that differs says these first.
"""
import argparse
import hashlib
import json
import re
import subprocess
import sys
from pathlib import Path

# The Debian packages whose versions decide the bytes of the i686 exe.
TOOLCHAIN_PACKAGES = ["g++-mingw-w64-i686-posix", "binutils-mingw-w64-i686", "mingw-w64-i686-dev",
                      "libz-mingw-w64-dev"]
ZLIB_HEADER = Path("/usr/i686-w64-mingw32/include/zlib.h")


def package_versions():
    versions = {}
    for package in TOOLCHAIN_PACKAGES:
        result = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package], capture_output=True, text=True)
        versions[package] = result.stdout.strip() if result.returncode == 0 else "not installed"
    return versions


def curl_source_version(deps_dir):
    """The Debian curl source the cross-built libcurl came from (its .dsc beside the source)."""
    for dsc in sorted(Path(deps_dir, "src").glob("curl_*.dsc")):
        found = re.search(r"^Version: (\S+)$", dsc.read_text(encoding="utf-8", errors="replace"), re.MULTILINE)
        if found:
            return found.group(1)
    return "unknown"


def zlib_version():
    found = ZLIB_HEADER.is_file() and re.search(r'#define ZLIB_VERSION "([^"]+)"', ZLIB_HEADER.read_text())
    return found.group(1) if found else "unknown"


def spki_pins(roots_pem):
    """SHA-256 of each certificate's DER SubjectPublicKeyInfo, as the build compiles them in."""
    pins = []
    for certificate in re.findall(r"-----BEGIN CERTIFICATE-----.+?-----END CERTIFICATE-----", roots_pem, re.DOTALL):
        public_key = subprocess.run(["openssl", "x509", "-noout", "-pubkey"], input=certificate.encode(),
                                    capture_output=True, check=True).stdout
        der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=public_key,
                             capture_output=True, check=True).stdout
        pins.append(hashlib.sha256(der).hexdigest())
    return pins


def cache_value(build, name):
    found = re.search(rf"^{name}:[A-Z]+=(.*)$", Path(build, "CMakeCache.txt").read_text(), re.MULTILINE)
    if not found:
        raise ValueError(f"{build}/CMakeCache.txt has no {name}")
    return found.group(1)


def compiler_path(build):
    """The C++ compiler the build used (the toolchain file sets it, so it is not in the cache)."""
    for found in sorted(Path(build, "CMakeFiles").glob("*/CMakeCXXCompiler.cmake")):
        compiler = re.search(r'^set\(CMAKE_CXX_COMPILER "([^"]+)"\)$', found.read_text(), re.MULTILINE)
        if compiler:
            return compiler.group(1)
    raise ValueError(f"{build} names no C++ compiler")


def write(args):
    unsigned, signed = Path(args.unsigned).read_bytes(), Path(args.signed).read_bytes()
    roots_pem = Path(args.publisher_roots).read_text(encoding="ascii")
    compiler = compiler_path(args.build)
    facts = {
        "version": cache_value(args.build, "CMAKE_PROJECT_VERSION"),
        "commit": args.commit,
        "file": Path(args.signed).name,
        "compiler": subprocess.run([compiler, "--version"], capture_output=True, text=True,
                                   check=True).stdout.splitlines()[0],
        "packages": package_versions(),
        "libcurl_source": curl_source_version(args.deps_dir),
        "zlib": zlib_version(),
        "base_url": args.base_url,
        "publisher_name": args.publisher_name,
        "spki_pins": spki_pins(roots_pem),
        "publisher_roots_pem": roots_pem,
        "timestamp_url": args.timestamp_url or None,
        "size": len(unsigned),
        "unsigned_sha256": hashlib.sha256(unsigned).hexdigest(),
        "signed_size": len(signed),
        "signed_sha256": hashlib.sha256(signed).hexdigest(),
    }
    if not facts["spki_pins"]:
        raise ValueError(f"{args.publisher_roots} holds no certificate")
    Path(args.out).write_text(json.dumps(facts, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
    return 0


def read(path):
    facts = json.loads(Path(path).read_text(encoding="utf-8"))
    missing = [f for f in ("commit", "base_url", "publisher_name", "publisher_roots_pem", "unsigned_sha256")
               if not isinstance(facts.get(f), str) or not facts[f]]
    if missing:
        raise ValueError(f"{path} lacks {', '.join(missing)}")
    return facts


def get(args):
    value = read(args.release_json).get(args.field)
    if value is None:
        raise ValueError(f"{args.release_json} has no {args.field}")
    sys.stdout.write(value if isinstance(value, str) else json.dumps(value))
    return 0


def toolchain_changes(args):
    facts = read(args.release_json)
    here = {**package_versions(), "curl source": curl_source_version(args.deps_dir)}
    recorded = {**facts.get("packages", {}), "curl source": facts.get("libcurl_source")}
    for name, version in recorded.items():
        if here.get(name) != version:
            print(f"{name}: the release was built with {version}, this machine has {here.get(name, 'none')}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("write")
    p.add_argument("out")
    for option in ("--commit", "--build", "--deps-dir", "--base-url", "--publisher-name", "--publisher-roots",
                   "--unsigned", "--signed"):
        p.add_argument(option, required=True)
    p.add_argument("--timestamp-url")
    p.set_defaults(run=write)
    p = commands.add_parser("get")
    p.add_argument("release_json")
    p.add_argument("field")
    p.set_defaults(run=get)
    p = commands.add_parser("toolchain-changes")
    p.add_argument("release_json")
    p.add_argument("--deps-dir", required=True)
    p.set_defaults(run=toolchain_changes)
    args = parser.parse_args()
    try:
        return args.run(args)
    except (OSError, ValueError, subprocess.CalledProcessError) as error:
        print(f"release_facts: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
