#!/usr/bin/env python3
"""Writes seed corpora for the Chromium fuzz targets from real cache folders.

usage: fuzz_seeds.py SHARED_DIR OUT_DIR

OUT_DIR/simple: every <hash>_0 and the-real-index of the simple samples, behind the byte that
sets the first read sizes. OUT_DIR/blockfile: each blockfile sample in the sparse piece form
Blockfile.fuzz.cpp reads, with the hash table cut down to the buckets in use.
"""
import glob
import os
import struct
import sys
import tarfile
import tempfile

FILES = ["index", "data_0", "data_1", "data_2", "data_3",
         "f_000001", "f_000002", "f_000003", "f_000004"]
RUN_LIMIT = {"index": None, "data_0": None, "data_1": None}
# Bytes of each data file a seed keeps (the file keeps its size): seeds stay small enough to
# mutate quickly.
KEEP = 96 * 1024


def pieces(number, data, limit):
    """Non-zero runs of data as pieces of at most 65535 bytes; runs cut at limit bytes."""
    out = []
    at = 0
    while at < len(data):
        if data[at] == 0:
            at += 1
            continue
        end = at
        while end < len(data) and (data[end] != 0 or data[end:end + 16].strip(b"\0")):
            end += 1
        run = data[at:end] if limit is None else data[at:min(end, at + limit)]
        for start in range(0, len(run), 65535):
            chunk = run[start:start + 65535]
            out.append(struct.pack("<BIH", number, at + start, len(chunk)) + chunk)
        at = end
    # A zero-length piece at the end gives the file its size.
    out.append(struct.pack("<BIH", number, len(data), 0))
    return b"".join(out)


def small_index(index):
    table_len = struct.unpack_from("<I", index, 28)[0] or 0x10000
    heads = [a for a in struct.unpack_from("<%dI" % table_len, index, 368)
             if a and 8192 + (a & 0xFFFF) * 256 < KEEP]
    size = 16
    while size < len(heads):
        size *= 2
    header = bytearray(index[:368])
    struct.pack_into("<I", header, 28, size)
    return bytes(header) + struct.pack("<%dI" % size, *(heads + [0] * (size - len(heads))))


def blockfile_seed(cache_dir):
    seed = []
    for number, name in enumerate(FILES):
        path = os.path.join(cache_dir, name)
        if not os.path.exists(path):
            continue
        with open(path, "rb") as f:
            data = f.read()
        if name == "index":
            data = small_index(data)
            seed.append(pieces(number, data, None))
        else:
            kept = pieces(number, data[:KEEP], RUN_LIMIT.get(name, 2048))
            seed.append(kept[:-7] + struct.pack("<BIH", number, len(data), 0))
    return b"".join(seed)


def main(shared, out):
    chromium = os.path.join(shared, "testdata", "chromium")
    os.makedirs(os.path.join(out, "simple"), exist_ok=True)
    os.makedirs(os.path.join(out, "blockfile"), exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for tarball in ("chromium-cache.tar.gz", "chromium-blockfile-cache.tar.gz"):
            with tarfile.open(os.path.join(shared, "testdata", "made-here", tarball)) as t:
                t.extractall(tmp)
        made = glob.glob(os.path.join(tmp, "home*", ".cache", "chromium", "Default", "Cache",
                                      "Cache_Data"))
        simple = [os.path.join(chromium, "simple_chrome68_dfirlabs"),
                  os.path.join(chromium, "simple_v6_20byte_schorlet")]
        simple += [d for d in made if not os.path.exists(os.path.join(d, "data_1"))]
        blockfile = [os.path.join(chromium, "blockfile_chrome8_dfirlabs"),
                     os.path.join(chromium, "blockfile_v3_partial_plaso")]
        blockfile += [d for d in made if os.path.exists(os.path.join(d, "data_1"))]
        count = 0
        for d in simple:
            names = glob.glob(os.path.join(d, "*_0")) + glob.glob(
                os.path.join(d, "index-dir", "the-real-index"))
            for path in names:
                if os.path.getsize(path) > 64 * 1024:
                    continue
                with open(path, "rb") as f:
                    data = f.read()
                for split in (0, 40, 255):
                    count += 1
                    with open(os.path.join(out, "simple", "seed%03d" % count), "wb") as f:
                        f.write(bytes([split]) + data)
        for i, d in enumerate(blockfile):
            with open(os.path.join(out, "blockfile", "seed%d" % i), "wb") as f:
                f.write(blockfile_seed(d))


if __name__ == "__main__":
    main(*sys.argv[1:])
