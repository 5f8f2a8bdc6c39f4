#!/usr/bin/env python3
"""Writes the home of the scan benchmark: big browser caches cloned from real entries.

usage: make_scan_home.py OUT [--shared DIR] [--entries N] [--movies N]

The real caches are the made-here samples in DIR/testdata/made-here (a Chromium simple cache
and a Firefox cache2 written by the browsers themselves). Every entry of OUT/home is a copy of
one of them with its own URL: the same body, response info and metadata, with the key, the
file name and the checksums that depend on the key made anew, so that the browsers' own rules
(and the reference readers' integrity checks) hold for every clone.

Each cache gets --entries entries (default 50,000); --movies (default 1,068) of all entries
are Flash movies, cloned from the samples' entries with ".swf" in the URL, split between the
two caches. The others are clones of the samples' pages and pictures, so that a scan lists
exactly the movies and extracts nothing else. Only the Python standard library is used.
"""
import argparse
import hashlib
import io
import os
import struct
import sys
import tarfile
import zlib
from urllib.parse import urlsplit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from make_synthetic_caches import lookup2  # noqa: E402  Firefox's cache2 metadata hash

SIMPLE_INITIAL_MAGIC = 0xFCFB6D1BA7725C30
SIMPLE_FINAL_MAGIC = 0xF4FA6F45970D41D8
EOF_HAS_KEY_SHA256 = 2
FIREFOX_CHUNK = 256 * 1024
FILLER_TYPES = ("text/html", "image/png", "image/gif", "image/jpeg", "text/css")


def content_type(headers):
    for line in headers.split(b"\0" if b"\0" in headers else b"\r\n"):
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-type":
            return value.strip().split(b";")[0].decode("latin-1").lower()
    return ""


def firefox_url(key):
    """The URL in a cache2 key: after the tags (a letter and a value ended by a comma, in which
    a doubled comma stands for one), from the colon on."""
    at = 0
    while at < len(key) and key[at] != ":":
        end = at + 1
        while end < len(key) and (key[end] != "," or key[end + 1:end + 2] == ","):
            end += 2 if key[end] == "," else 1
        at = end + 1
    return key[at + 1:]


class Template:
    """One real entry: its URL, the key around it, and how to write a clone."""

    def __init__(self, key, url, ctype):
        self.key = key
        self.url = url
        self.ctype = ctype
        self.prefix = key[:len(key) - len(url)]

    def is_movie(self):
        return ".swf" in self.url.lower()

    def is_filler(self):
        return not self.is_movie() and self.ctype in FILLER_TYPES

    def clone_key(self, n):
        """The key with URL https://sN.example/cN/<path>, its sites renamed alike."""
        parts = urlsplit(self.url)
        host = "s%d.example" % (n % 97)
        origin = "%s://%s" % (parts.scheme, host)
        path = "/c%d%s" % (n, parts.path) + ("?" + parts.query if parts.query else "")
        old_origin = "%s://%s" % (parts.scheme, parts.netloc.split(":")[0])
        prefix = self.prefix.replace(old_origin, origin)
        return prefix + origin + path


class ChromiumTemplate(Template):
    def __init__(self, data):
        _magic, self.version, key_length, self.key_hash = struct.unpack_from("<QIII", data, 0)
        self.record = 24 if struct.unpack_from("<Q", data, len(data) - 24)[0] == \
            SIMPLE_FINAL_MAGIC else 20
        key = data[self.record:self.record + key_length].decode("latin-1")
        flags0, crc0, size0 = struct.unpack_from("<III", data, len(data) - self.record + 8)
        end0 = len(data) - self.record - (32 if flags0 & EOF_HAS_KEY_SHA256 else 0)
        self.eof0 = data[len(data) - self.record:]
        self.stream0 = data[end0 - size0:end0]
        eof1_at = end0 - size0 - self.record
        self.body_and_eof1 = data[self.record + key_length:eof1_at + self.record]
        self.has_sha = bool(flags0 & EOF_HAS_KEY_SHA256)
        url = key.split(" ")[-1]
        if "/" in url.split("://")[0]:
            url = url[url.index("http"):]
        super().__init__(key, url, content_type(self.stream0))

    def write(self, folder, n):
        key = self.clone_key(n).encode("latin-1")
        # The header's key hash is kept: no reader checks it against the key.
        header = struct.pack("<QIII", SIMPLE_INITIAL_MAGIC, self.version, len(key),
                             self.key_hash).ljust(self.record, b"\0")
        sha = hashlib.sha256(key).digest() if self.has_sha else b""
        data = header + key + self.body_and_eof1 + self.stream0 + sha + self.eof0
        name = "%016x_0" % struct.unpack("<Q", hashlib.sha1(key).digest()[:8])[0]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


class FirefoxTemplate(Template):
    def __init__(self, data):
        last, before = struct.unpack(">I", data[-4:])[0], struct.unpack(">I", data[-8:-4])[0]
        self.trailer = 8 if 4 <= before <= 16 else 4
        offset = last & 0x7FFFFFFF if self.trailer == 8 else last
        self.body = data[:offset]
        meta = data[offset:len(data) - self.trailer]
        chunks = (offset + FIREFOX_CHUNK - 1) // FIREFOX_CHUNK
        at = 4 + 2 * chunks
        self.version = struct.unpack_from(">I", meta, at)[0]
        fixed = 32 if self.version >= 2 else 28
        key_size = struct.unpack_from(">I", meta, at + 24)[0]
        self.before_key = meta[4:at + fixed]
        key = meta[at + fixed:at + fixed + key_size].decode("latin-1")
        self.elements = meta[at + fixed + key_size:]  # the key's NUL, then the elements
        self.end = data[len(data) - self.trailer:]
        url = firefox_url(key)
        head = self.elements.split(b"response-head\0", 1)
        super().__init__(key, url, content_type(head[1].split(b"\0")[0]) if len(head) > 1 else "")

    def write(self, folder, n):
        key = self.clone_key(n).encode("latin-1")
        at = len(self.before_key) - (32 if self.version >= 2 else 28)
        before = bytearray(self.before_key)
        struct.pack_into(">I", before, at + 24, len(key))
        meta = bytes(before) + key + self.elements
        data = self.body + struct.pack(">I", lookup2(meta)) + meta + self.end
        with open(os.path.join(folder, hashlib.sha1(key).hexdigest().upper()), "wb") as f:
            f.write(data)


def members(archive, part):
    with tarfile.open(archive) as tar:
        for member in tar.getmembers():
            if member.isfile() and part in member.name:
                yield os.path.basename(member.name), tar.extractfile(member).read()


def templates_of(shared):
    samples = os.path.join(shared, "testdata", "made-here")
    chromium = [ChromiumTemplate(data) for name, data in
                members(os.path.join(samples, "chromium-cache.tar.gz"), "/Cache_Data/")
                if name.endswith("_0")]
    firefox = [FirefoxTemplate(data) for _name, data in
               members(os.path.join(samples, "firefox-cache.tar.gz"), "/cache2/entries/")]
    return chromium, firefox


def write_cache(folder, templates, entries, movies, first):
    movie_kinds = [t for t in templates if t.is_movie()]
    fillers = [t for t in templates if t.is_filler()]
    if not movie_kinds or not fillers:
        sys.exit("make_scan_home: the samples lack movies or pages")
    every = max(1, entries // max(1, movies))
    made = 0
    for n in range(entries):
        if n % every == 0 and made < movies:
            movie_kinds[made % len(movie_kinds)].write(folder, first + n)
            made += 1
        else:
            fillers[n % len(fillers)].write(folder, first + n)
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--shared", default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared"))
    parser.add_argument("--entries", type=int, default=50000, help="entries per cache")
    parser.add_argument("--movies", type=int, default=1068, help="movies of both caches")
    args = parser.parse_args()
    chromium, firefox = templates_of(args.shared)
    home = os.path.join(args.out, "home")
    simple = os.path.join(home, ".cache/chromium/Default/Cache/Cache_Data")
    cache2 = os.path.join(home, ".cache/mozilla/firefox/bench.default/cache2")
    os.makedirs(simple)
    os.makedirs(os.path.join(cache2, "entries"))
    os.makedirs(os.path.join(cache2, "doomed"))
    with open(os.path.join(simple, "index"), "wb") as f:
        f.write(struct.pack("<QIQ", SIMPLE_INITIAL_MAGIC, 9, 0))
    movies = write_cache(simple, chromium, args.entries, args.movies // 2, 0)
    movies += write_cache(os.path.join(cache2, "entries"), firefox, args.entries,
                          args.movies - args.movies // 2, args.entries)
    print("wrote %d + %d entries (%d Flash movies) under %s" % (
        args.entries, args.entries, movies, home))


if __name__ == "__main__":
    main()
