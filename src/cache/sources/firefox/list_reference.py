#!/usr/bin/env python3
"""Lists a cache2 folder with the shared reference reader, one tab-separated line per entry file:
file, url, body size, last fetched, expiration (empty for none), fetch count; or file, ERROR.

usage: list_reference.py READER_DIR CACHE2_DIR
"""
import sys

sys.path.insert(0, sys.argv[1])
import firefox_cache  # noqa: E402

for entry in firefox_cache.iter_entries(sys.argv[2]):
    if "error" in entry:
        print("%s\tERROR" % entry["file"])
        continue
    expiration = entry["expiration"]
    print("\t".join(str(v) for v in (
        entry["file"], entry["url"], entry["body_size"], entry["last_fetched"],
        "" if expiration is None else expiration, entry["fetch_count"])))
