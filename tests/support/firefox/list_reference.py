#!/usr/bin/env python3
"""Lists a cache2 folder with the shared reference reader, one tab-separated line per entry file:
file, url, body size, last fetched, expiration (0 for none), fetch count; or file, ERROR.

usage: list_reference.py READER_DIR CACHE2_DIR
"""
import sys

sys.path.insert(0, sys.argv[1])
import firefox_cache  # noqa: E402

for entry in firefox_cache.iter_entries(sys.argv[2]):
    if "error" in entry:
        print("%s\tERROR" % entry["file"])
        continue
    print("\t".join(str(v) for v in (
        entry["file"], entry["url"], entry["body_size"], entry["last_fetched"],
        entry["expiration"] or 0, entry["fetch_count"])))
