#!/usr/bin/env python3
"""Checks the product icon file: six 32-bit images, 256 to 16 pixels, each as PNG.

Used by scripts/make-icon.sh after writing the file and by the resource tests."""
import struct
import sys

EXPECTED = [(256, "png"), (128, "png"), (64, "png"), (48, "png"), (32, "png"), (16, "png")]


def describe(data):
    """Returns [(size, kind, bits)] for the directory of an ICO file, raising ValueError on a defect."""
    if len(data) < 6:
        raise ValueError("shorter than an ICO header")
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file")
    if len(data) < 6 + 16 * count:
        raise ValueError("directory cut short")
    entries, spans = [], []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        if w != h:
            raise ValueError(f"entry {i}: not square")
        if offset < 6 + 16 * count or offset + size > len(data):
            raise ValueError(f"entry {i}: image outside the file")
        blob = data[offset:offset + size]
        if blob.startswith(b"\x89PNG\r\n\x1a\n"):
            pw, ph, depth, colour = struct.unpack_from(">IIBB", blob, 16)
            if (pw, ph) != (w, h) or (depth, colour) != (8, 6):
                raise ValueError(f"entry {i}: PNG is not {w}x{h} 8-bit RGBA")
            entries.append((w, "png", 32))
        else:
            hsize, bw, bh, bplanes, bbits, compression = struct.unpack_from("<IiiHHI", blob, 0)
            mask_stride = ((w + 31) // 32) * 4
            if hsize != 40 or (bw, bh) != (w, 2 * h) or bbits != 32 or compression != 0:
                raise ValueError(f"entry {i}: DIB header does not describe a {w}x{h} 32-bit image")
            if size != 40 + w * h * 4 + mask_stride * h:
                raise ValueError(f"entry {i}: DIB size {size} does not match its pixels and mask")
            entries.append((w, "dib", bbits))
        if planes != 1 or bits != 32 or colours != 0:
            raise ValueError(f"entry {i}: directory does not say 32 bits, one plane")
        spans.append((offset, offset + size))
    spans.sort()
    for (_, end), (start, _) in zip(spans, spans[1:]):
        if start < end:
            raise ValueError("images overlap")
    return entries


def directory_images(data):
    """The image bytes of an ICO file, in directory order."""
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        images.append(data[offset:offset + size])
    return images


def main(path):
    data = open(path, "rb").read()
    entries = describe(data)
    got = [(size, kind) for size, kind, _ in entries]
    if got != EXPECTED:
        print(f"{path}: images {got}, expected {EXPECTED}", file=sys.stderr)
        return 1
    print(f"{path}: {len(data)} bytes, " + ", ".join(f"{s} {k}" for s, k in got))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
