// Reads a web archive with Webrecorder's warcio and checks what every record must hold.
import { createHash } from "node:crypto";
import fs from "node:fs";
import { WARCParser } from "warcio";

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

// Every record of an archive, its digests and dates verified: the payloads by URI.
export async function readArchive(name, archive, check) {
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
    for (const body of bodies.values()) {
        body.described = concurrent.has(body.id);
    }
    return bodies;
}

