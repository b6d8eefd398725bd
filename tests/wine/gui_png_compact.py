#!/usr/bin/env python3
"""Recompresses a PNG's image data with zlib at the highest level, in place."""
import struct
import sys
import zlib


def main(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
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
    packed = zlib.compress(zlib.decompress(idat), 9)
    out = [data[:8]]
    for kind, body in chunks:
        if kind == b"IEND":
            out.append(struct.pack(">I", len(packed)) + b"IDAT" + packed +
                       struct.pack(">I", zlib.crc32(b"IDAT" + packed)))
        out.append(struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body)))
    open(path, "wb").write(b"".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
