#!/usr/bin/env python3
"""Lists a Chromium cache folder with the shared reference readers, for the tests to compare.

usage: reference_listing.py TOOLS_DIR simple|blockfile CACHE_DIR

One line per entry the reference reads: URL, body size and response time (Unix microseconds,
or - when unknown), tab-separated. Entries the reference cannot read are left out, so the
listing holds what a reader that skips damaged entries should list.
"""
import os
import re
import struct
import sys


def unix_micros(info):
    t = info.get("response_time")
    return "-" if t is None else str(int(round(t * 1e6)))


def simple_entries(cc, cache_dir):
    # The reference reads 24-byte header and EOF records only; caches written by older
    # builds use 20-byte ones, so read those with its record structs switched.
    wide, narrow = struct.Struct("<QIII4x"), struct.Struct("<QIII")
    for name in sorted(os.listdir(cache_dir)):
        if not re.fullmatch(r"[0-9a-f]{16}_0", name):
            continue
        for record in (wide, narrow):
            cc.HDR = cc.EOF = record
            try:
                yield cc.read_simple_entry(os.path.join(cache_dir, name))
                break
            except (cc.CacheFormatError, struct.error):
                continue
    cc.HDR = cc.EOF = wide


def blockfile_entries(cb, cache_dir):
    cache = cb.BlockfileCache(cache_dir)
    seen = set()
    for i in range(cache.table_len):
        addr = struct.unpack_from("<I", cache.index, 368 + 4 * i)[0]
        while addr & 0x80000000 and addr not in seen:
            seen.add(addr)
            try:
                entry = cache.read_entry(addr)
            except (OSError, ValueError, struct.error, cb.CacheFormatError):
                # Missing data files: leave the entry out but keep walking its chain.
                try:
                    addr = struct.unpack_from("<I", cache.read_addr(addr), 4)[0]
                except (OSError, ValueError, struct.error, cb.CacheFormatError):
                    break
                continue
            yield entry
            addr = entry["next"]


def main(argv):
    tools, kind, cache_dir = argv
    sys.path.insert(0, tools)
    import chromium_cache
    import chromium_blockfile
    if kind == "simple":
        entries = simple_entries(chromium_cache, cache_dir)
    else:
        entries = blockfile_entries(chromium_blockfile, cache_dir)
    for e in entries:
        info = e.get("info", {})
        # A response info that fails its checksum or does not parse is damage.
        if "error" in info or e.get("stream0_crc_ok") is False:
            continue
        print("%s\t%d\t%s" % (e["url"], e["body_size"], unix_micros(info)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
