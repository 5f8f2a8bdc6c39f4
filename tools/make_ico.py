#!/usr/bin/env python3
"""Packs PNG images into one Windows icon file (.ico), each image stored as PNG.

usage: make_ico.py OUT.ico IMAGE.png...
Windows Vista and later read PNG images inside icons; the sizes come from the PNG headers.
Only the Python standard library is used.
"""
import struct
import sys


def main(out, images):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for path in images:
        with open(path, "rb") as f:
            data = f.read()
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            sys.exit("%s: not a PNG image" % path)
        width, height = struct.unpack(">II", data[16:24])
        # 0 stands for 256 in the directory's one-byte sizes.
        entries.append(struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32,
                                   len(data), offset))
        blobs.append(data)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
