#include "curation/Warc.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "curation/Sha1.h"

using namespace sarnika;
using namespace sarnika::curation;

namespace {

std::string digestOf(const std::vector<std::string>& pieces) {
    Sha1 sha;
    for (const std::string& piece : pieces) {
        sha.update(piece);
    }
    return warcDigest(sha);
}

BodySource bodyOf(std::string bytes) {
    return [bytes = std::move(bytes)](const ByteSink& sink) {
        return sink(bytes);
    };
}

WarcRecord movieResponse() {
    WarcRecord record;
    record.type = "response";
    record.recordId = "<urn:uuid:00000000-0000-4000-8000-000000000001>";
    record.date = warcDate(1'262'304'000);
    record.targetUri = "http://games.example/a.swf";
    record.contentType = "application/http; msgtype=response";
    record.head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\nContent-Length: "
        "24\r\n\r\n";
    record.payload = bodyOf("FWS\x0a" + std::string(20, 'x'));
    record.digestPayload = true;
    return record;
}

// Splits a file of gzip members into what each member holds, checking that each ends cleanly.
std::vector<std::string> inflateMembers(const std::string& file) {
    std::vector<std::string> members;
    std::size_t at = 0;
    while (at < file.size()) {
        z_stream stream{};
        EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + at)); // NOLINT
        stream.avail_in = static_cast<uInt>(file.size() - at);
        std::string out;
        int result = Z_OK;
        while (result == Z_OK) {
            char buffer[4096];
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            result = inflate(&stream, Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - stream.avail_out);
        }
        EXPECT_EQ(result, Z_STREAM_END);
        at = file.size() - stream.avail_in;
        inflateEnd(&stream);
        members.push_back(out);
        if (result != Z_STREAM_END) {
            break;
        }
    }
    return members;
}

} // namespace

TEST(Sha1, KnownDigestsInAnyPieces) {
    EXPECT_EQ(digestOf({"abc"}), "sha1:VGMT4NSHA2AWVOR6EVYXQUGCNSONBWE5");
    EXPECT_EQ(digestOf({}), "sha1:3I42H3S6NNFQ2MSVX7XZKYAYSCX5QBYJ");
    // A million a's in pieces that straddle the 64-byte blocks.
    std::vector<std::string> pieces;
    for (std::size_t total = 0, size = 1; total < 1'000'000; total += size, size = size % 97 + 13) {
        pieces.emplace_back(std::min<std::size_t>(size, 1'000'000 - total), 'a');
    }
    EXPECT_EQ(digestOf(pieces), "sha1:GSVJOPGUYTNKJ5Q65MV5XLJHGFSTIALP");
}

TEST(WarcWriter, WritesAResponseWithItsDigestsAndLength) {
    std::string file;
    WarcWriter writer(
        [&](std::string_view bytes) {
            file.append(bytes);
            return Status();
        },
        false);
    ASSERT_TRUE(writer.write(movieResponse()));
    EXPECT_EQ(file,
              "WARC/1.1\r\nWARC-Type: response\r\n"
              "WARC-Record-ID: <urn:uuid:00000000-0000-4000-8000-000000000001>\r\n"
              "WARC-Date: 2010-01-01T00:00:00Z\r\nWARC-Target-URI: http://games.example/a.swf\r\n"
              "Content-Type: application/http; msgtype=response\r\n"
              "WARC-Block-Digest: sha1:7UFSYMY46WCMI4WB5R3TY7WK4VZNLUHI\r\n"
              "WARC-Payload-Digest: sha1:C4MWM6NKDYYF5R2MBGNIOGYIIXSC2DK5\r\n"
              "Content-Length: 108\r\n\r\n"
              "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n"
              "Content-Length: 24\r\n\r\nFWS\x0a" +
                  std::string(20, 'x') + "\r\n\r\n");
}

TEST(WarcWriter, GivesEachRecordAGzipMemberOfItsOwn) {
    std::string plain;
    std::string packed;
    WarcWriter plainWriter(
        [&](std::string_view b) {
            plain.append(b);
            return Status();
        },
        false);
    WarcWriter packedWriter(
        [&](std::string_view b) {
            packed.append(b);
            return Status();
        },
        true);
    WarcRecord info;
    info.type = "warcinfo";
    info.recordId = newRecordId();
    info.date = warcDate(0);
    info.contentType = "application/warc-fields";
    info.payload = bodyOf("software: Sarnika\r\n");
    // A body bigger than the compressor's buffers, in pieces.
    WarcRecord big = movieResponse();
    big.payload = [](const ByteSink& sink) -> Status {
        for (int i = 0; i < 200; ++i) {
            SARNIKA_TRY(sink(std::string(1000, static_cast<char>('a' + i % 26))));
        }
        return {};
    };
    // A compressed movie's bytes do not shrink: the member turns to stored blocks part way,
    // and still gives back every byte, in no more room than they take.
    WarcRecord noise = movieResponse();
    noise.payload = [](const ByteSink& sink) -> Status {
        std::mt19937 random(7);
        for (int i = 0; i < 64; ++i) {
            std::string piece(16 * 1024, '\0');
            std::generate(piece.begin(), piece.end(),
                          [&random] { return static_cast<char>(random() & 0xffU); });
            SARNIKA_TRY(sink(piece));
        }
        return {};
    };
    for (const WarcRecord* record : {&info, &big, &info, &noise}) {
        const std::size_t before = packed.size();
        ASSERT_TRUE(plainWriter.write(*record));
        ASSERT_TRUE(packedWriter.write(*record));
        if (record == &noise) {
            EXPECT_LT(packed.size() - before, 1024U * 1024U + 4096U);
        }
    }
    const std::vector<std::string> members = inflateMembers(packed);
    ASSERT_EQ(members.size(), 4U);
    EXPECT_EQ(members[0] + members[1] + members[2] + members[3], plain);
    EXPECT_EQ(members[1].rfind("WARC/1.1\r\n", 0), 0U);
    EXPECT_LT(packed.size(), plain.size());
}

TEST(WarcWriter, RefusesABodyThatChangedBetweenItsTwoReadings) {
    WarcRecord record = movieResponse();
    int readings = 0;
    record.payload = [&readings](const ByteSink& sink) {
        return sink(std::string(++readings == 1 ? 10 : 11, 'x'));
    };
    WarcWriter writer([](std::string_view) { return Status(); }, false);
    const Status written = writer.write(record);
    ASSERT_FALSE(written);
    EXPECT_NE(written.error().message.find("http://games.example/a.swf"), std::string::npos);
}

TEST(WarcWriter, NewRecordIdsAreVersion4Uuids) {
    const std::string first = newRecordId();
    ASSERT_EQ(first.size(), 47U);
    EXPECT_EQ(first.substr(0, 10), "<urn:uuid:");
    EXPECT_EQ(first[24], '4');
    EXPECT_NE(std::string("89ab").find(first[29]), std::string::npos);
    EXPECT_NE(first, newRecordId());
}

TEST(ArchivedHttpHead, DescribesTheStoredBody) {
    // Chunked on the wire, stored whole: the length is the stored body's.
    EXPECT_EQ(archivedHttpHead("HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n", 10),
              "HTTP/1.1 200 OK\r\nX-Archive-Orig-Transfer-Encoding: chunked\r\n"
              "Content-Length: 10\r\n\r\n");
    // A length that is not the stored body's is kept aside; the right one stays as it is.
    EXPECT_EQ(archivedHttpHead("HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n", 10),
              "HTTP/1.1 200 OK\r\nX-Archive-Orig-Content-Length: 99\r\n"
              "Content-Length: 10\r\n\r\n");
    EXPECT_EQ(archivedHttpHead("HTTP/1.1 200 OK\r\ncontent-length:  10 \r\n\r\n", 10),
              "HTTP/1.1 200 OK\r\ncontent-length:  10 \r\n\r\n");
    // Stored decoded, the body no longer has the encoding it came in.
    EXPECT_EQ(archivedHttpHead("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n", 10, true),
              "HTTP/1.1 200 OK\r\nX-Archive-Orig-Content-Encoding: gzip\r\n"
              "Content-Length: 10\r\n\r\n");
}

TEST(WarcDate, UtcSecondsAcrossTheCalendar) {
    EXPECT_EQ(warcDate(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(warcDate(951'782'400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(warcDate(1'700'000'000), "2023-11-14T22:13:20Z");
    EXPECT_EQ(warcDate(-1), "1969-12-31T23:59:59Z");
}
