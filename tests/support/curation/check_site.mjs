// On the caches that real browsers made from the test site, save-all and warc with
// --with-assets must hold the game's movie and the two files it loads (a configuration and a
// second movie), with their URLs and the served bytes; warcio reads the archive and every
// digest verifies.
// Usage: node check_site.mjs SARNIKA_CLI SITE_FOLDER HOME...
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { readArchive } from "./warc_reader.mjs";

const [cli, site, ...homes] = process.argv.slice(2);
const served = JSON.parse(fs.readFileSync(path.join(site, "manifest.json"), "utf8"));
const game = served.filter((file) => file.path.startsWith("/games/quest/"));
let failures = 0;
const check = (ok, what) => {
    if (!ok) {
        failures++;
        console.error(`FAIL: ${what}`);
    }
};
check(game.length === 3, "the site has no game of three files");

for (const home of homes) {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), "sarnika-site-"));
    // The browsers' caches are found below HOME as they are for their user; ours goes there too.
    const env = { ...process.env, HOME: home };
    delete env.XDG_CACHE_HOME;
    delete env.XDG_CONFIG_HOME;
    const name = path.basename(home);
    const manifest = path.join(work, "saved.jsonl");
    execFileSync(cli, ["save-all", path.join(work, "saved"), "--with-assets", "--manifest", manifest], { env });
    const saved = new Map();
    const savedAt = new Map();
    for (const line of fs.readFileSync(manifest, "utf8").split("\n").filter(Boolean)) {
        const entry = JSON.parse(line);
        saved.set(entry.url, fs.readFileSync(entry.saved));
        savedAt.set(entry.url, entry.saved);
    }
    const archive = path.join(work, "site.warc.gz");
    execFileSync(cli, ["warc", archive, "--with-assets"], { env });
    const archived = await readArchive(`${name}/site.warc.gz`, archive, check);
    for (const file of game) {
        const bytes = fs.readFileSync(path.join(site, file.file));
        const urls = [...archived.keys()].filter((url) => new URL(url).pathname === file.path);
        check(urls.length > 0, `${name}: ${file.path} is not in the archive`);
        for (const url of urls) {
            check(archived.get(url).payload.equals(bytes), `${name}: ${url} in the archive is not the served file`);
            check(saved.has(url) && saved.get(url).equals(bytes), `${name}: ${url} not saved with the served bytes`);
            // In the tree by host and path, where the movie's relative URLs find it.
            check(savedAt.get(url)?.endsWith(file.path), `${name}: ${url} saved as ${savedAt.get(url)}`);
        }
    }
    console.log(`${name}: ${archived.size} files archived, the game and the two files it loads among them`);
    fs.rmSync(work, { recursive: true, force: true });
}
process.exit(failures === 0 ? 0 : 1);
