#!/usr/bin/env bash
# Renders resources/ombrel-icon.svg into resources/ombrel.ico: six 32-bit images, 256 to 16
# pixels, each stored as PNG. Windows has read PNG images of any size in icons since Vista, and
# the program needs Windows 10; as DIBs the three small ones took 15 KB of the exe, as PNG 3 KB.
# Needs rsvg-convert (librsvg2-bin) and python3. The .ico is committed; run this only after
# changing the drawing.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
src="$ROOT/resources/ombrel-icon.svg"
out="${1:-$ROOT/resources/ombrel.ico}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The small sizes drop the quarter-unit shading, which would only smear their pixels.
python3 - "$src" "$work/small.svg" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
small, n = re.subn(r'<g id="shade".*?</g>', "", text, flags=re.S)
assert n == 1, "the drawing must have exactly one shade group"
open(sys.argv[2], "w", encoding="utf-8").write(small)
PY

for size in 256 128 64 48 32 16; do
  drawing="$src"
  [ "$size" -lt 48 ] && drawing="$work/small.svg"
  rsvg-convert --width "$size" --height "$size" --format png "$drawing" -o "$work/$size.png"
done

python3 - "$work" "$out" <<'PY'
import struct, sys, zlib

work, out = sys.argv[1], sys.argv[2]
SIZES = [256, 128, 64, 48, 32, 16]
AS_PNG = set(SIZES)

def read_png_rgba(path):
    """Decodes an 8-bit RGBA, non-interlaced PNG (what rsvg-convert writes) into rows of bytes."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    width, height, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 6, 0), f"{path}: not 8-bit RGBA"
    raw, stride, bpp = zlib.decompress(idat), width * 4, 4
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if kind == 1: line[x] = (line[x] + a) & 255
            elif kind == 2: line[x] = (line[x] + b) & 255
            elif kind == 3: line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, rows

def dib(path):
    """BITMAPINFOHEADER + bottom-up BGRA pixels + the 1-bit AND mask (set where fully transparent)."""
    width, height, rows = read_png_rgba(path)
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(width):
            r, g, b, a = row[4 * x:4 * x + 4]
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)

images = []
for size in SIZES:
    path = f"{work}/{size}.png"
    images.append(open(path, "rb").read() if size in AS_PNG else dib(path))

offset = 6 + 16 * len(SIZES)
directory, blobs = b"", b""
for size, blob in zip(SIZES, images):
    side = 0 if size == 256 else size
    directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(blob), offset + len(blobs))
    blobs += blob
with open(out, "wb") as f:
    f.write(struct.pack("<HHH", 0, 1, len(SIZES)) + directory + blobs)
print(f"{out}: {6 + len(directory) + len(blobs)} bytes")
PY

python3 "$ROOT/tests/e2e/check_ico.py" "$out"
