#!/usr/bin/env python3
"""Writes synthetic browser caches in the real on-disk formats, for benchmarks and demos.

usage: make_synthetic_caches.py OUT [--entries N] [--swf N] [--seed S]

Creates a home folder OUT/home with
  .cache/chromium/Default/Cache/Cache_Data/   a Chromium simple cache of N entries
  .cache/mozilla/firefox/synthetic.default/cache2/entries/   a Firefox cache2 of N entries
Each holds --swf Flash movies (FWS and CWS, 2 to 120 KB, some served gzip-encoded) among
pages, images and scripts. Only the Python standard library is used.
"""
import argparse
import gzip
import hashlib
import os
import random
import struct
import zlib

SIMPLE_INITIAL_MAGIC = 0xFCFB6D1BA7725C30
SIMPLE_FINAL_MAGIC = 0xF4FA6F45970D41D8
HEADER = struct.Struct("<QIII4x")
EOF = struct.Struct("<QIII4x")
EOF_HAS_CRC32 = 1
FIREFOX_CHUNK = 256 * 1024
WINDOWS_EPOCH_US = 11644473600 * 1000000


def lookup2(data, initval=0):
    """Bob Jenkins' lookup2 hash, as Firefox's cache2 metadata uses it."""
    def mix(a, b, c):
        a = (a - b - c) & 0xFFFFFFFF; a ^= c >> 13
        b = (b - c - a) & 0xFFFFFFFF; b ^= (a << 8) & 0xFFFFFFFF
        c = (c - a - b) & 0xFFFFFFFF; c ^= b >> 13
        a = (a - b - c) & 0xFFFFFFFF; a ^= c >> 12
        b = (b - c - a) & 0xFFFFFFFF; b ^= (a << 16) & 0xFFFFFFFF
        c = (c - a - b) & 0xFFFFFFFF; c ^= b >> 5
        a = (a - b - c) & 0xFFFFFFFF; a ^= c >> 3
        b = (b - c - a) & 0xFFFFFFFF; b ^= (a << 10) & 0xFFFFFFFF
        c = (c - a - b) & 0xFFFFFFFF; c ^= b >> 15
        return a, b, c

    length = len(data)
    a = b = 0x9E3779B9
    c = initval
    k = 0
    while length - k >= 12:
        a = (a + struct.unpack_from("<I", data, k)[0]) & 0xFFFFFFFF
        b = (b + struct.unpack_from("<I", data, k + 4)[0]) & 0xFFFFFFFF
        c = (c + struct.unpack_from("<I", data, k + 8)[0]) & 0xFFFFFFFF
        a, b, c = mix(a, b, c)
        k += 12
    c = (c + length) & 0xFFFFFFFF
    rest = data[k:]
    shifts_c = {10: 24, 9: 16, 8: 8}
    shifts_b = {7: 24, 6: 16, 5: 8, 4: 0}
    shifts_a = {3: 24, 2: 16, 1: 8, 0: 0}
    for i in range(len(rest) - 1, -1, -1):
        if i in shifts_c:
            c = (c + (rest[i] << shifts_c[i])) & 0xFFFFFFFF
        elif i in shifts_b:
            b = (b + (rest[i] << shifts_b[i])) & 0xFFFFFFFF
        else:
            a = (a + (rest[i] << shifts_a[i])) & 0xFFFFFFFF
    a, b, c = mix(a, b, c)
    return c


def swf_movie(rng, size, compressed):
    """A small valid movie: header, one frame, a binary-data tag as filler, End."""
    bits = "{:05b}".format(15) + "".join("{:015b}".format(v) for v in (0, 11000, 0, 8000))
    bits += "0" * (-len(bits) % 8)
    rect = int(bits, 2).to_bytes(len(bits) // 8, "big")  # a 550 x 400 pixel stage
    filler = rng.randbytes(max(0, size - 40))
    tag = struct.pack("<HI", (87 << 6) | 0x3F, len(filler) + 6) + struct.pack("<HI", 1, 0) + filler
    body = rect + struct.pack("<HH", 24 << 8, 1) + tag + b"\x40\x00" + b"\x00\x00"
    length = 8 + len(body)
    if compressed:
        return b"CWS" + bytes([10]) + struct.pack("<I", length) + zlib.compress(body)
    return b"FWS" + bytes([10]) + struct.pack("<I", length) + body


def make_entries(rng, count, swf_count):
    kinds = [("html", "text/html"), ("png", "image/png"), ("js", "application/javascript"),
             ("css", "text/css"), ("gif", "image/gif")]
    swf_every = max(1, count // max(1, swf_count))
    entries = []
    movies = 0
    for n in range(count):
        site = "site%d.example" % (n % 50)
        if n % swf_every == 0 and movies < swf_count:
            movies += 1
            url = "https://games%d.example/swf/movie%d.swf" % (n % 7, n)
            body = swf_movie(rng, rng.randint(2000, 120000), n % 3 == 0)
            ctype, ext = "application/x-shockwave-flash", "swf"
        else:
            ext, ctype = kinds[n % len(kinds)]
            url = "https://cdn%d.example/assets/%d/file%d.%s" % (n % 100, n // 100, n, ext)
            body = rng.randbytes(rng.randint(200, 4000))
        encoding = "gzip" if n % 5 == 0 else None
        stored = gzip.compress(body, mtime=0) if encoding else body
        headers = ["HTTP/1.1 200 OK", "Content-Type: %s" % ctype, "Content-Length: %d" % len(stored),
                   "Last-Modified: Tue, 03 Mar 2009 10:00:00 GMT"]
        if encoding:
            headers.append("Content-Encoding: %s" % encoding)
        entries.append((site, url, headers, ext, stored))
    return entries


def pickle_response_info(headers, time_us):
    raw = b"\0".join(h.encode("latin-1") for h in headers) + b"\0\0"
    payload = struct.pack("<iqq", 3, time_us, time_us + 1000)
    payload += struct.pack("<i", len(raw)) + raw + b"\0" * ((4 - len(raw) % 4) % 4)
    return struct.pack("<I", len(payload)) + payload


def write_chromium_simple(folder, entries, base_us):
    os.makedirs(folder, exist_ok=True)
    for n, (site, url, headers, _ext, stored) in enumerate(entries):
        key = ("1/0/_dk_https://%s https://%s %s" % (site, site, url)).encode()
        stream0 = pickle_response_info(headers, base_us + n * 1000000)
        data = HEADER.pack(SIMPLE_INITIAL_MAGIC, 5, len(key), zlib.crc32(key)) + key
        data += stored + EOF.pack(SIMPLE_FINAL_MAGIC, EOF_HAS_CRC32, zlib.crc32(stored), 0)
        data += stream0 + EOF.pack(SIMPLE_FINAL_MAGIC, EOF_HAS_CRC32, zlib.crc32(stream0), len(stream0))
        name = "%016x_0" % struct.unpack("<Q", hashlib.sha1(key).digest()[:8])[0]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "index"), "wb") as f:
        f.write(struct.pack("<QIQ", SIMPLE_INITIAL_MAGIC, 9, 0))


def write_firefox_cache2(folder, entries, base_seconds):
    entries_dir = os.path.join(folder, "entries")
    os.makedirs(entries_dir, exist_ok=True)
    os.makedirs(os.path.join(folder, "doomed"), exist_ok=True)
    for n, (site, url, headers, _ext, stored) in enumerate(entries):
        key = "O^partitionKey=%%28https%%2C%s%%29,:%s" % (site, url) if n % 2 else ":" + url
        fetched = base_seconds + n
        chunks = b"".join(struct.pack(">H", lookup2(stored[i:i + FIREFOX_CHUNK]) & 0xFFFF)
                          for i in range(0, len(stored), FIREFOX_CHUNK))
        header = struct.pack(">8I", 4, 1, fetched, fetched, fetched, fetched + 86400,
                             len(key.encode()), 0)
        elements = b"request-method\0GET\0response-head\0" + \
            ("\r\n".join(headers) + "\r\n\r\n").encode("latin-1") + b"\0"
        meta = chunks + header + key.encode() + b"\0" + elements
        data = stored + struct.pack(">I", lookup2(meta)) + meta + struct.pack(">II", 4, len(stored))
        name = hashlib.sha1(key.encode()).hexdigest().upper()
        with open(os.path.join(entries_dir, name), "wb") as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--entries", type=int, default=50000)
    parser.add_argument("--swf", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    entries = make_entries(rng, args.entries, args.swf)
    home = os.path.join(args.out, "home")
    base_us = WINDOWS_EPOCH_US + 1700000000 * 1000000
    write_chromium_simple(os.path.join(home, ".cache/chromium/Default/Cache/Cache_Data"), entries, base_us)
    write_firefox_cache2(os.path.join(home, ".cache/mozilla/firefox/synthetic.default/cache2"),
                         entries, 1700000000)
    print("wrote %d entries (%d Flash movies) per cache under %s" % (
        len(entries), sum(1 for e in entries if e[3] == "swf"), home))


if __name__ == "__main__":
    main()
