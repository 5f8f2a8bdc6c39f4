#!/usr/bin/env bash
# sarnika-cli.exe under Wine, checked from the Linux side: first on a WinINet cache that
# seed_wininet_cache.exe filled (names, sizes, saved bytes), then with Chromium and Firefox
# caches in the Wine user's %LOCALAPPDATA% as well (every movie found, bodies byte-exact).
# Usage: cli_under_wine.sh WINE SEED_EXE CLI_EXE [SHARED_DIR]
set -euo pipefail
wine=$1 seed=$2 cli=$3 shared=${4:-}
out=$(mktemp -d "${TMPDIR:-/tmp}/sarnika-cli-wine.XXXXXX")
local_unix=
cleanup() {
    rm -rf "$out"
    if [[ -n $local_unix ]]; then
        rm -rf "$local_unix/Chromium" "$local_unix/Mozilla/Firefox" "$local_unix/sarnika"
    fi
}
trap cleanup EXIT

# Wine shows the Linux file system as drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

"$wine" "$seed" >"$out/seeded.txt"
"$wine" "$cli" list --json >"$out/list.json"
"$wine" "$cli" save-all "$(windows_path "$out/saved")" >"$out/save.txt"

python3 - "$out" <<'PY'
import json, os, sys

out = sys.argv[1]
movie_head = b"FWS\x0a"
rows = json.load(open(os.path.join(out, "list.json")))
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
assert set(saved.values()) == {movie_head + b"c" * 1000, movie_head + b"i" * 300}, sorted(saved)
assert set(saved) == {r["suggestedName"] + ".swf" for r in rows}, sorted(saved)
assert "2 movie(s) saved" in open(os.path.join(out, "save.txt")).read()
print("WinINet cache: list and save-all as expected")
PY

site=$shared/testdata/made-here
if [[ -z $shared || ! -f $site/chromium-cache.tar.gz ]]; then
    echo "no made-here caches under '$shared': the other browsers' part is left out"
    exit 0
fi
# The made-here caches come from Linux browsers; their files are the same on Windows.
mkdir -p "$out/made"
tar -xzf "$site/chromium-cache.tar.gz" -C "$out/made"
tar -xzf "$site/firefox-cache.tar.gz" -C "$out/made"
local_windows=$("$wine" cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
local_unix=${WINEPREFIX:-$HOME/.wine}/drive_c/${local_windows#C:\\}
local_unix=${local_unix//\\//}
mkdir -p "$local_unix/Chromium/User Data/Default/Cache" "$local_unix/Mozilla/Firefox/Profiles/p.default"
cp -r "$out/made/home/.cache/chromium/Default/Cache/Cache_Data" \
    "$local_unix/Chromium/User Data/Default/Cache/"
cp -r "$out/made/home/.cache/mozilla/firefox/"*/cache2 "$local_unix/Mozilla/Firefox/Profiles/p.default/"

"$wine" "$cli" list --json >"$out/all.json"
"$wine" "$cli" save-all "$(windows_path "$out/all-saved")" >"$out/all-save.txt"

python3 - "$out" "$site" "${WINEPREFIX:-$HOME/.wine}" <<'PY'
import collections, hashlib, json, os, sys

out, site, prefix = sys.argv[1:4]
rows = json.load(open(os.path.join(out, "all.json")))
manifest = {e["path"]: e for e in json.load(open(os.path.join(site, "site", "manifest.json")))}

def unix(path):
    assert path[:3].upper() == "C:\\", path
    return os.path.join(prefix, "drive_c", path[3:].replace("\\", "/"))

def sha(data):
    return hashlib.sha256(data).hexdigest()

families = collections.Counter(r["source"]["family"] for r in rows)
# Each made-here cache holds the site's nine movies with the same bytes, so each is listed once,
# from one cache or the other; WinINet's two come on top.
made = [r["url"] for r in rows if r["source"]["family"] != "WinINet"]
assert families["WinINet"] == 2 and set(families) <= {"WinINet", "Chromium", "Firefox"}, families
assert len(made) == 9 and len(set(made)) == 9, made
sizes = [r["size"] for r in rows]
assert sizes == sorted(sizes, reverse=True), sizes
bodies = []
for row in rows:
    body = open(unix(row["localFile"]), "rb").read()
    bodies.append(sha(body))
    if row["source"]["family"] != "WinINet":
        path = row["url"].split("/", 3)[3]
        served = manifest["/" + path]
        assert sha(body) == served["sha256"], (row["url"], row["localFile"])

saved_dir = os.path.join(out, "all-saved")
saved = [sha(open(os.path.join(saved_dir, n), "rb").read()) for n in os.listdir(saved_dir)]
assert collections.Counter(saved) == collections.Counter(bodies)
print("WinINet, Chromium and Firefox caches: %d movies listed and saved byte-exact" % len(rows))
PY
