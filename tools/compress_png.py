#!/usr/bin/env python3
"""Rewrites PNG files in place with their image data deflated at zlib's best
level. The stand-in server saves its screenshots in stored (uncompressed)
blocks; ./run pictures passes the README's picture through this before it goes
into docs/ and the release zip: python3 tools/compress_png.py FILE..."""
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def compress(path):
    data = open(path, "rb").read()
    if not data.startswith(SIGNATURE):
        sys.exit(f"{path}: not a PNG file")
    chunks, image, at = [], b"", len(SIGNATURE)
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IDAT":
            image += body
            if not any(k == b"IDAT" for k, _ in chunks):
                chunks.append((kind, None))  # where the image data goes
        else:
            chunks.append((kind, body))
    packed = zlib.compress(zlib.decompress(image), 9)
    out = SIGNATURE + b"".join(chunk(k, packed if b is None else b) for k, b in chunks)
    open(path, "wb").write(out)


if __name__ == "__main__":
    for name in sys.argv[1:]:
        compress(name)
