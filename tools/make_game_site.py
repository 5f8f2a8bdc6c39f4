#!/usr/bin/env python3
"""Writes the browsers' test site with a game added: a movie that loads a configuration file
and a second movie when it starts, as Flash games do, and those two files.

usage: make_game_site.py OUTDIR
The rest of the site comes from gen_files.py of the shared browser-cache tools (found through
BROWSER_CACHE_TOOLS, else ../shared/tools/browser-caches beside the checkout); the game's files
are added to its manifest.json, so the test server serves them and its page fetches them.
"""
import hashlib
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.environ.get("BROWSER_CACHE_TOOLS") or
                os.path.join(HERE, "..", "..", "shared", "tools", "browser-caches"))
import gen_files  # noqa: E402
import make_swf_movies  # noqa: E402

# The URLs as the game's code names them, relative to the movie.
GAME_LOADS = ["config.xml", "levels/level2.swf"]
GAME_FILES = [
    # disk name, URL path, content type, bytes
    ("game.swf", "/games/quest/game.swf", "application/x-shockwave-flash",
     make_swf_movies.build_movie((400, 300), 24, 24, seed=21, compress=True, loads=GAME_LOADS)),
    ("config.xml", "/games/quest/config.xml", "text/xml",
     b'<?xml version="1.0"?>\n<quest><level src="levels/level2.swf"/></quest>\n'),
    ("level2.swf", "/games/quest/levels/level2.swf", "application/x-shockwave-flash",
     make_swf_movies.build_movie((400, 300), 12, 24, seed=22)),
]


def main(outdir):
    gen_files.main(outdir)
    path = os.path.join(outdir, "manifest.json")
    with open(path) as f:
        manifest = json.load(f)
    for name, url, ctype, data in GAME_FILES:
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)
        manifest.append({"file": name, "path": url, "type": ctype, "size": len(data),
                         "encoding": None, "sha256": hashlib.sha256(data).hexdigest()})
        print("%-11s %-20s %7d" % (name, url, len(data)))
    with open(path, "w") as f:
        json.dump(manifest, f, indent=1)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "site")
