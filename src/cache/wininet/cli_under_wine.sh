#!/usr/bin/env bash
# sarnika-cli.exe under Wine on a WinINet cache that seed_wininet_cache.exe filled: the list
# and the saved movies, checked from the Linux side.
# Usage: cli_under_wine.sh WINE SEED_EXE CLI_EXE
set -euo pipefail
wine=$1 seed=$2 cli=$3
out=$(mktemp -d "${TMPDIR:-/tmp}/sarnika-cli-wine.XXXXXX")
trap 'rm -rf "$out"' EXIT

"$wine" "$seed" >"$out/seeded.txt"
"$wine" "$cli" list --json >"$out/list.json"
# Wine shows the Linux file system as drive Z:.
"$wine" "$cli" save-all "Z:${out//\//\\}\\saved" >"$out/save.txt"

python3 - "$out" <<'PY'
import json, os, sys

out = sys.argv[1]
movie_head = b"FWS\x0a"
rows = json.load(open(os.path.join(out, "list.json")))
print(json.dumps(rows, indent=1))
# Largest first, each with its local file in the cache and its size.
expected = [
    ("http://games.example.org/play/clip.swf?a=1", "games.example.org", 1004),
    ("http://flash.example.com/a/Intro.SWF", "flash.example.com", 304),
]
assert [(r["url"], r["host"], r["size"]) for r in rows] == expected, rows
for row in rows:
    assert row["localFile"].lower().endswith(".swf"), row
    assert row["source"]["family"] == "WinINet", row

saved_dir = os.path.join(out, "saved")
saved = {name: open(os.path.join(saved_dir, name), "rb").read() for name in os.listdir(saved_dir)}
print(sorted(saved))
assert set(saved.values()) == {movie_head + b"c" * 1000, movie_head + b"i" * 300}, sorted(saved)
names = {rows[0]["suggestedName"] + ".swf", rows[1]["suggestedName"] + ".swf"}
assert set(saved) == names, (sorted(saved), names)
assert "2 movie(s) saved" in open(os.path.join(out, "save.txt")).read()
print("sarnika-cli.exe under Wine: list and save-all as expected")
PY
