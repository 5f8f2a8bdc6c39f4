// Reads the web archives that sarnika-cli writes with an independent reader (Webrecorder's
// warcio) and checks them against the movies that save-all copies out of the same caches.
// Usage: node check_warc.mjs SARNIKA_CLI SYNTHETIC_CACHES_TOOL CACHE...
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { readArchive as readRecords } from "./warc_reader.mjs";

const [cli, cacheTool, ...caches] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), "sarnika-warc-"));
const env = { ...process.env, HOME: work, XDG_CACHE_HOME: path.join(work, "cache") };
const cacheArgs = caches.flatMap((cache) => ["--cache", cache]);
let failures = 0;
const check = (ok, what) => {
    if (!ok) {
        failures++;
        console.error(`FAIL: ${what}`);
    }
};
const readArchive = (name, archive) => readRecords(name, archive, check);

// The movies as save-all writes them, by URL.
const saved = new Map();
const manifest = path.join(work, "manifest.jsonl");
execFileSync(cli, [...cacheArgs, "save-all", path.join(work, "movies"), "--manifest", manifest], { env });
for (const line of fs.readFileSync(manifest, "utf8").split("\n").filter(Boolean)) {
    const entry = JSON.parse(line);
    saved.set(entry.url, fs.readFileSync(entry.saved));
}
check(saved.size > 0, "save-all saved no movie");

// The movies alone, compressed and plain; then every cached file (--all).
for (const [name, extra] of [["movies.warc.gz", []], ["movies.warc", []], ["all.warc.gz", ["--all"]]]) {
    const everything = extra.length > 0;
    const archive = path.join(work, name);
    execFileSync(cli, [...cacheArgs, "warc", archive, ...extra], { env });
    const before = fs.readFileSync(archive);
    // Never over an existing file without --force.
    const again = spawnSync(cli, [...cacheArgs, "warc", archive], { env });
    check(again.status === 2 && fs.readFileSync(archive).equals(before), `${name}: replaced without --force`);
    check(name.endsWith(".gz") === (before[0] === 0x1f && before[1] === 0x8b), `${name}: wrong compression`);

    const bodies = await readArchive(name, archive);
    check(everything ? bodies.size > saved.size : bodies.size === saved.size,
          `${name}: ${bodies.size} files archived, ${saved.size} movies saved`);
    for (const [uri, bytes] of saved) {
        const body = bodies.get(uri);
        check(body && body.payload.equals(bytes), `${name}: ${uri} differs from the saved movie`);
        check(body && body.described, `${name}: ${uri} has no metadata record`);
    }
    console.log(`${name}: ${bodies.size} files, digests verified`);
}

// A game whose movie names a configuration, a second movie and music on another host: those
// come along with --with-assets, in the folder tree and in the archive; files of other hosts
// that it does not name stay out.
const game = path.join(work, "game");
execFileSync("python3", [cacheTool, game, "--game"]);
const gameCache = ["--cache", path.join(game, "home", ".cache", "mozilla")];
const gameManifest = path.join(work, "game.jsonl");
execFileSync(cli, [...gameCache, "save-all", path.join(work, "site"), "--with-assets", "--manifest", gameManifest], { env });
const savedSite = new Map();
for (const line of fs.readFileSync(gameManifest, "utf8").split("\n").filter(Boolean)) {
    const entry = JSON.parse(line);
    savedSite.set(entry.url, fs.readFileSync(entry.saved));
}
const gameArchive = path.join(work, "game.warc.gz");
execFileSync(cli, [...gameCache, "warc", gameArchive, "--with-assets"], { env });
const archived = await readArchive("game.warc.gz", gameArchive);
const named = ["https://games.quillmoor.example/quest/game.swf",
    "https://games.quillmoor.example/quest/config.xml",
    "https://games.quillmoor.example/quest/levels/level2.swf?nocache=1796",
    "https://media.tessaly.example/quest/music.mp3"];
for (const uri of named) {
    check(savedSite.has(uri), `save-all --with-assets: ${uri} not saved`);
    check(archived.has(uri) && savedSite.has(uri) && archived.get(uri).payload.equals(savedSite.get(uri)),
          `warc --with-assets: ${uri} missing or not the saved bytes`);
}
check(fs.existsSync(path.join(work, "site", "media.tessaly.example", "quest", "music.mp3")),
      "save-all --with-assets: music.mp3 not under its host and path");
for (const uri of ["https://media.tessaly.example/other/theme.mp3", "https://ads.tessaly.example/track.js"]) {
    check(!savedSite.has(uri) && !archived.has(uri), `--with-assets took ${uri}, which the movie does not name`);
}
console.log(`game.warc.gz: ${archived.size} files, the named ones with the saved bytes`);

fs.rmSync(work, { recursive: true, force: true });
process.exit(failures === 0 ? 0 : 1);
