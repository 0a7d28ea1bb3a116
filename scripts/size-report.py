#!/usr/bin/env python3
"""Prints where the bytes of a linked Windows executable come from, read from the GNU ld link map
written next to it (-Wl,-Map). Informational: a change that adds tens of kilobytes shows at once.

Usage: size-report.py EXE MAP [--top N] [--summary] [--publisher-check on|off] [--test-build]
  --summary: one line (size and the largest parts) instead of the whole report
  --publisher-check: said with the size, so an exe built without the check is seen as such
  --test-build: the exe trusts a test CA; said on the first line, so nobody ships it unawares
"""
import argparse
import collections
import os
import re
import sys

# Input sections that take no room in the file.
NO_FILE_BYTES = {".bss", ".tbss"}

# Archive (or object) name -> the part of the program it belongs to.
PARTS = [
    (r"^libcurl\.a$", "libcurl"),
    (r"^libz\.a$", "zlib"),
    (r"^libstdc\+\+\.a$", "libstdc++"),
    (r"^libpthread\.a$|^libwinpthread", "winpthread"),
    (r"^libgcc(_eh)?\.a$", "libgcc (unwinder)"),
    (r"^(libmingwex|libmingw32|libmsvcrt|libmoldname)\.a$|^crt.*\.o$", "C runtime"),
    (r"\.res$", "resources (icon, manifest, version)"),
    (r"^dll stuff$|^lib[a-z0-9_]+\.a$", "imports, relocations"),
]

# Parts of our own code worth a line of their own: input sections (or objects) by name.
OWN_DATA = [
    (re.compile(r"kGeneratedCa|build_config\.cpp"), "CA roots (compressed)"),
    (re.compile(r"kTableData|kTables|locale_tables_data\.cpp"), "translation tables"),
]

ENTRY = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def input_sections(map_text):
    """Yields (output section, input section name, size, input file) of the memory map."""
    lines = map_text.split("\n")
    try:
        start = lines.index("Linker script and memory map")
    except ValueError:
        sys.exit("size-report: no memory map in the map file")
    output_section = None
    pending_name = None
    for line in lines[start + 1:]:
        head = re.match(r"^(\.\S+)", line)
        if head:
            output_section = head.group(1)
            continue
        if re.match(r"^ \S+$", line):  # a long input section name stands on a line of its own
            pending_name = line.strip()
            continue
        entry = ENTRY.match(line)
        if not entry:
            pending_name = None
            continue
        name = entry.group(1) or pending_name
        pending_name = None
        size = int(entry.group(3), 16)
        if name is None or size == 0 or output_section in NO_FILE_BYTES or name.startswith("*"):
            continue
        path = entry.group(4).strip()
        if re.match(r"^(BYTE|SHORT|LONG|QUAD) ", path):  # filler the linker script writes itself
            path = "dll stuff"
        yield output_section, name, size, path


def classify(name, path):
    base = os.path.basename(path)
    archive = re.sub(r"\(.*$", "", base)
    member = re.sub(r"^[^(]*\(|\)$", "", base)
    ours = archive.startswith("libombrel_") or ".ltrans" in base or base.endswith(".cpp.obj")
    if ours:
        for pattern, label in OWN_DATA:
            if pattern.search(name) or pattern.search(member):
                return label, label
        return "our code", member if ".ltrans" not in base else "our code (LTO)"
    for pattern, label in PARTS:
        if re.search(pattern, archive):
            return label, f"{label}: {member}" if member != archive else label
    return "other", base


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("map")
    parser.add_argument("--top", type=int, default=8)
    parser.add_argument("--summary", action="store_true")
    parser.add_argument("--publisher-check", choices=("on", "off"), help="whether the build checks the publisher")
    parser.add_argument("--test-build", action="store_true", help="the build trusts a test CA (OMBREL_TEST_BUILD)")
    args = parser.parse_args()

    parts = collections.Counter()
    inputs = collections.Counter()
    with open(args.map, encoding="utf-8", errors="replace") as f:
        for _, name, size, path in input_sections(f.read()):
            part, item = classify(name, path)
            parts[part] += size
            inputs[item] += size
    file_size = os.path.getsize(args.exe)
    counted = sum(parts.values())
    parts["headers, section alignment"] = max(file_size - counted, 0)

    def kib(n):
        return f"{n / 1024:7.1f} KiB"

    test_build = " (TEST BUILD: trusts a test CA, not for shipping)" if args.test_build else ""
    if args.summary:
        largest = ", ".join(f"{part} {size / 1024:.0f}" for part, size in parts.most_common(6))
        check = f"; publisher check: {args.publisher_check}" if args.publisher_check else ""
        print(f"size: {os.path.basename(args.exe)}{test_build}: {file_size:,} bytes; largest parts (KiB): {largest}{check}")
        return
    print(f"size: {os.path.basename(args.exe)}{test_build}: {file_size:,} bytes ({file_size / 1024:.1f} KiB)")
    if args.publisher_check:
        print(f"size: publisher check: {args.publisher_check}")
    print("size: by part")
    for part, size in parts.most_common():
        print(f"size:   {kib(size)}  {part}")
    print("size: largest inputs")
    for item, size in inputs.most_common(args.top):
        print(f"size:   {kib(size)}  {item}")


if __name__ == "__main__":
    main()
