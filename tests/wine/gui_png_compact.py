#!/usr/bin/env python3
"""Recompresses a PNG's image data with zlib at the highest level, in place,
and prints its size and share of non-black pixels. Fails (exit 1) on a
picture that is not an 8-bit RGB PNG or has no pixel other than black."""
import struct
import sys
import zlib


def non_black_share(width, height, raw):
    """Share of non-black pixels in unfiltered 8-bit RGB scanlines."""
    stride = 1 + width * 3
    if len(raw) != stride * height or any(raw[y * stride] != 0 for y in range(height)):
        return None  # filtered scanlines: not written by the GUI test
    lit = 0
    for y in range(height):
        row = raw[y * stride + 1:(y + 1) * stride]
        lit += sum(1 for x in range(0, len(row), 3) if row[x] or row[x + 1] or row[x + 2])
    return lit / (width * height)


def main(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        print("not a PNG file")
        return 1
    chunks, idat, pos = [], b"", 8
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IDAT":
            idat += body
        else:
            chunks.append((kind, body))
    header = dict(chunks).get(b"IHDR", b"")
    if len(header) != 13 or header[8:10] != b"\x08\x02":
        print("not an 8-bit RGB PNG")
        return 1
    width, height = struct.unpack(">II", header[:8])
    raw = zlib.decompress(idat)
    share = non_black_share(width, height, raw)
    packed = zlib.compress(raw, 9)
    out = [data[:8]]
    for kind, body in chunks:
        if kind == b"IEND":
            out.append(struct.pack(">I", len(packed)) + b"IDAT" + packed +
                       struct.pack(">I", zlib.crc32(b"IDAT" + packed)))
        out.append(struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body)))
    open(path, "wb").write(b"".join(out))
    if share is None:
        print(f"{width} x {height} pixels, scanlines filtered (not measured)")
        return 1
    print(f"{width} x {height} pixels, {100 * share:.1f} % not black")
    return 0 if share > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
