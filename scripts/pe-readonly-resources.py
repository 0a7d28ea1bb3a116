#!/usr/bin/env python3
"""Makes the resource section of a linked PE image read-only and rewrites its checksum.

GNU ld always marks .rsrc writable (a BFD rule kept for old tools); nothing writes to the
resources of this program, so a write there can only be an attack and should fault.

Usage: pe-readonly-resources.py EXE
"""
import struct
import sys

IMAGE_SCN_MEM_WRITE = 0x80000000


def checksum(data, checksum_offset):
    """The image checksum as the Windows loader computes it (the field itself counted as zero)."""
    d = bytearray(data)
    d[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(d) % 2:
        d.append(0)
    total = sum(struct.unpack_from(f"<{len(d) // 2}H", d))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main(path):
    data = bytearray(open(path, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE image")
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    table = optional + optional_size
    for i in range(sections):
        header = table + 40 * i
        if data[header:header + 8].rstrip(b"\0") == b".rsrc":
            flags = struct.unpack_from("<I", data, header + 36)[0]
            struct.pack_into("<I", data, header + 36, flags & ~IMAGE_SCN_MEM_WRITE)
    # The checksum was set by the linker; keep it right for the changed header.
    checksum_offset = optional + 64
    if struct.unpack_from("<I", data, checksum_offset)[0] != 0:
        struct.pack_into("<I", data, checksum_offset, checksum(data, checksum_offset))
    open(path, "wb").write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
