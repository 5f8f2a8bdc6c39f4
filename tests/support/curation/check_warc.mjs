// Reads the web archives that sarnika-cli writes with an independent reader (Webrecorder's
// warcio) and checks them against the movies that save-all copies out of the same caches.
// Usage: node check_warc.mjs SARNIKA_CLI CACHE...
import { execFileSync, spawnSync } from "node:child_process";
import { createHash } from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { WARCParser } from "warcio";

const [cli, ...caches] = process.argv.slice(2);
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

const base32 = (bytes) => {
    const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    let bits = 0, value = 0, text = "";
    for (const byte of bytes) {
        value = (value << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            text += alphabet[(value >>> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    return bits > 0 ? text + alphabet[(value << (5 - bits)) & 31] : text;
};
const sha1 = (bytes) => "sha1:" + base32(createHash("sha1").update(bytes).digest());

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

    const records = [];
    for await (const record of new WARCParser(fs.createReadStream(archive), { parseHttp: false })) {
        const block = Buffer.from(await record.readFully(false));
        records.push({ record, block });
    }
    check(records[0]?.record.warcType === "warcinfo", `${name}: no warcinfo first`);
    const bodies = new Map();
    const concurrent = new Set();
    for (const { record, block } of records) {
        const type = record.warcType;
        const uri = record.warcTargetURI;
        check(record.warcHeader("WARC-Block-Digest") === sha1(block), `${name}: block digest of ${type} ${uri}`);
        check(/^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/.test(record.warcDate), `${name}: date ${record.warcDate}`);
        if (type === "metadata") {
            concurrent.add(record.warcHeader("WARC-Concurrent-To"));
        }
        if (type !== "response" && type !== "resource") {
            continue;
        }
        let payload = block;
        if (type === "response") {
            const end = block.indexOf("\r\n\r\n");
            const head = block.subarray(0, end).toString("latin1");
            payload = block.subarray(end + 4);
            check(/^HTTP\/1\.[01] \d{3}/.test(head), `${name}: status line of ${uri}`);
            check(!/^transfer-encoding:/im.test(head), `${name}: ${uri} keeps Transfer-Encoding`);
            const length = /^content-length:\s*(\d+)/im.exec(head);
            check(length && Number(length[1]) === payload.length, `${name}: Content-Length of ${uri}`);
        }
        check(record.warcHeader("WARC-Payload-Digest") === sha1(payload), `${name}: payload digest of ${uri}`);
        bodies.set(uri, { payload, id: record.warcHeader("WARC-Record-ID") });
    }
    check(everything ? bodies.size > saved.size : bodies.size === saved.size,
          `${name}: ${bodies.size} files archived, ${saved.size} movies saved`);
    for (const [uri, bytes] of saved) {
        const body = bodies.get(uri);
        check(body && body.payload.equals(bytes), `${name}: ${uri} differs from the saved movie`);
        check(body && concurrent.has(body.id), `${name}: ${uri} has no metadata record`);
    }
    console.log(`${name}: ${records.length} records, ${bodies.size} files, digests verified`);
}
fs.rmSync(work, { recursive: true, force: true });
process.exit(failures === 0 ? 0 : 1);
