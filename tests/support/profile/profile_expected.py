#!/usr/bin/env python3
"""Expected records for the profile readers' tests, computed with the shared Python readers
(db_summary.open_copy for the databases, chromium_sql.iter_sql_cache for the SQL cache).

usage: profile_expected.py SHARED_DIR KIND PATH [USER]
  KIND: chromium-cookies, chromium-history, firefox-cookies, firefox-history, sql-cache
Prints one tab-separated line per record:
  url, size, lastAccess, lastModified, expires, useCount, lastSync
Times are file times (100 ns since 1601, 0 when unknown); lastSync of the SQL cache is in
microseconds since 1970 as the reference reader rounds it, empty elsewhere.
"""
import os
import sqlite3
import sys
import tempfile

EPOCH_1601_TO_1970_US = 11644473600 * 1000000


def webkit(us):
    return us * 10 if us and us > 0 else 0


def prtime(us):
    return (us + EPOCH_1601_TO_1970_US) * 10 if us and us > 0 else 0


def host_url(user, host, path):
    if host.startswith("."):
        host = host[1:]
    return "Cookie:%s@%s%s" % (user, host, path or "/")


def merged_cookies(rows, user):
    out = {}
    for host, path, created, access, expires in rows:
        url = host_url(user, host, path)
        old = out.get(url, (0, 0, 0))
        out[url] = (max(old[0], access), max(old[1], created), max(old[2], expires))
    return [(url, 0, a, m, e, 0, "") for url, (a, m, e) in out.items()]


def chromium_cookies(con, user):
    rows = con.execute("select host_key, path, creation_utc, last_access_utc, expires_utc "
                       "from cookies").fetchall()
    return merged_cookies([(h, p, webkit(c), webkit(a), webkit(e)) for h, p, c, a, e in rows],
                          user)


def firefox_cookies(con, user):
    version = con.execute("pragma user_version").fetchone()[0]
    rows = con.execute("select host, path, creationTime, lastAccessed, expiry "
                       "from moz_cookies").fetchall()

    def expiry(v):
        if not v or v <= 0:
            return 0
        seconds, millis = (v // 1000, v % 1000) if version >= 16 else (v, 0)
        return (seconds + 11644473600) * 10000000 + millis * 10000

    return merged_cookies([(h, p, prtime(c), prtime(a), expiry(e)) for h, p, c, a, e in rows],
                          user)


def history(con, user, places, visits, place_col, time_col, last_col, convert):
    last_seen = {}
    for place, when in con.execute("select %s, %s from %s" % (place_col, time_col, visits)):
        last_seen[place] = max(last_seen.get(place, 0), when or 0)
    out = []
    for pid, url, count, last in con.execute(
            "select id, url, visit_count, %s from %s order by id" % (last_col, places)):
        if not (count or 0) > 0 and not (last or 0) > 0 and pid not in last_seen:
            continue
        when = last if last and last > 0 else last_seen.get(pid, 0)
        out.append(("Visited: %s@%s" % (user, url), 0, convert(when), 0, 0, count or 0, ""))
    return out


def sql_cache(shared, cache_dir):
    import chromium_sql
    out = []
    for entry in chromium_sql.iter_sql_cache(cache_dir):
        shard, res_id = entry["file"].split("#")
        con = sqlite3.connect("file:%s?immutable=1" % os.path.join(cache_dir, shard), uri=True)
        last_used, body_end = con.execute(
            "select last_used, body_end from resources where res_id = ?", (int(res_id),)).fetchone()
        con.close()
        response = entry["info"].get("response_time")
        out.append((entry["url"], body_end, webkit(last_used), 0, 0, 0,
                    "%d" % round(response * 1e6) if response else ""))
    return out


def main():
    shared, kind, path = sys.argv[1:4]
    user = sys.argv[4] if len(sys.argv) > 4 else ""
    sys.path.insert(0, os.path.join(shared, "tools", "browser-caches"))
    import db_summary
    with tempfile.TemporaryDirectory(prefix="expected") as scratch:
        # open_copy leaves its copies behind: keep them inside our scratch folder.
        tempfile.tempdir = scratch
        if kind == "sql-cache":
            rows = sql_cache(shared, path)
        else:
            con = db_summary.open_copy(path)
            if kind == "chromium-cookies":
                rows = chromium_cookies(con, user)
            elif kind == "firefox-cookies":
                rows = firefox_cookies(con, user)
            elif kind == "chromium-history":
                rows = history(con, user, "urls", "visits", "url", "visit_time",
                               "last_visit_time", webkit)
            else:
                rows = history(con, user, "moz_places", "moz_historyvisits", "place_id",
                               "visit_date", "last_visit_date", prtime)
            con.close()
        tempfile.tempdir = None
    for row in rows:
        print("\t".join(str(v) for v in row))


if __name__ == "__main__":
    main()
