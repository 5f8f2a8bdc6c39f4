#include "cache/sources/decode/ContentDecoding.h"

#include <random>

#include <brotli/encode.h>
#include <zlib.h>

#include <gtest/gtest.h>

namespace sarnika::sources {
namespace {

// Text-like data that compresses but not trivially, longer than one output chunk.
std::string samplePayload(std::size_t size, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        out += "FWS frame " + std::to_string(random() % 5000) + ' ';
    }
    out.resize(size);
    return out;
}

// windowBits as zlib takes them: 15 zlib-wrapped, -15 raw, 31 gzip.
std::string deflateWith(std::string_view input, int windowBits) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&zs, static_cast<uLong>(input.size())) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    zs.avail_in = static_cast<uInt>(input.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string gzip(std::string_view input) {
    return deflateWith(input, 31);
}

std::string brotli(std::string_view input) {
    std::size_t size = BrotliEncoderMaxCompressedSize(input.size());
    std::string out(size, '\0');
    EXPECT_TRUE(BrotliEncoderCompress(5, 22, BROTLI_MODE_GENERIC, input.size(),
                                      reinterpret_cast<const std::uint8_t*>(input.data()), &size,
                                      reinterpret_cast<std::uint8_t*>(out.data())));
    out.resize(size);
    return out;
}

constexpr std::uint64_t kNoCap = 1ULL << 30U;

TEST(ContentDecoding, RoundTripsEveryEncoding) {
    const std::string payload = samplePayload(300'000);
    const struct {
        std::string encoded;
        std::string_view encoding;
    } cases[] = {
        {gzip(payload), "gzip"},
        {gzip(payload), "x-gzip"},
        {deflateWith(payload, 15), "deflate"},
        {deflateWith(payload, -15), "deflate"},
        {brotli(payload), "br"},
        {payload, "identity"},
        {payload, ""},
        {gzip(deflateWith(payload, 15)), "deflate, gzip"},
        {gzip(brotli(payload)), " BR ,\tGZip "},
        {gzip(payload), "identity, gzip"},
    };
    for (const auto& c : cases) {
        const auto decoded = decodeContent(c.encoded, c.encoding, kNoCap);
        ASSERT_TRUE(decoded) << c.encoding << ": " << decoded.error().message;
        EXPECT_TRUE(*decoded == payload) << c.encoding;
    }
}

TEST(ContentDecoding, GzipMembersAndTrailingBytes) {
    const std::string a = samplePayload(5000, 1);
    const std::string b = samplePayload(7000, 2);
    auto joined = decodeContent(gzip(a) + gzip(b), "gzip", kNoCap);
    ASSERT_TRUE(joined) << joined.error().message;
    EXPECT_TRUE(*joined == a + b);

    // Servers pad replies; what follows a finished stream is not part of the body.
    auto padded = decodeContent(gzip(a) + std::string(3, '\0'), "gzip", kNoCap);
    ASSERT_TRUE(padded) << padded.error().message;
    EXPECT_TRUE(*padded == a);

    auto empty = decodeContent("", "gzip", kNoCap);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(ContentDecoding, CapsTheOutput) {
    const std::string payload = samplePayload(100'000);
    for (const auto& [encoded, encoding] :
         {std::pair{gzip(payload), "gzip"}, std::pair{deflateWith(payload, -15), "deflate"},
          std::pair{brotli(payload), "br"}, std::pair{payload, "identity"}}) {
        EXPECT_TRUE(decodeContent(encoded, encoding, payload.size())) << encoding;
        const auto over = decodeContent(encoded, encoding, payload.size() - 1);
        ASSERT_FALSE(over) << encoding;
        EXPECT_EQ(over.error().code, Error::Code::TooLarge) << encoding;
    }
    // A small bomb: 64 MiB of zeros in about 64 KiB stops at the cap.
    const std::string zeros(64U << 20U, '\0');
    for (const auto& [bomb, encoding] :
         {std::pair{gzip(zeros), "gzip"}, std::pair{brotli(zeros), "br"}}) {
        const auto capped = decodeContent(bomb, encoding, 1U << 20U);
        ASSERT_FALSE(capped) << encoding;
        EXPECT_EQ(capped.error().code, Error::Code::TooLarge) << encoding;
    }
}

TEST(ContentDecoding, UnknownEncodingsAreUnsupported) {
    for (const std::string_view encoding : {"compress", "zstd", "gzip, sdch", "x-bzip2"}) {
        const auto decoded = decodeContent("abc", encoding, kNoCap);
        ASSERT_FALSE(decoded) << encoding;
        EXPECT_EQ(decoded.error().code, Error::Code::Unsupported) << encoding;
    }
}

TEST(ContentDecoding, CorruptAndTruncatedDataIsMalformed) {
    const std::string payload = samplePayload(20'000);
    const std::string garbage = "this is not compressed at all, not even a little";
    for (const auto& [encoded, encoding] :
         {std::pair{gzip(payload), "gzip"}, std::pair{deflateWith(payload, 15), "deflate"},
          std::pair{deflateWith(payload, -15), "deflate"}, std::pair{brotli(payload), "br"}}) {
        for (std::size_t cut = 1; cut < encoded.size(); cut += 97) {
            const auto truncated = decodeContent(encoded.substr(0, cut), encoding, kNoCap);
            ASSERT_FALSE(truncated) << encoding << " cut at " << cut;
            EXPECT_EQ(truncated.error().code, Error::Code::Malformed) << encoding << cut;
        }
        const auto bad = decodeContent(garbage, encoding, kNoCap);
        ASSERT_FALSE(bad) << encoding;
        EXPECT_EQ(bad.error().code, Error::Code::Malformed) << encoding;
    }
    std::string flipped = gzip(payload);
    flipped[flipped.size() - 6] ^= 0x55; // the CRC-32 of the member
    EXPECT_FALSE(decodeContent(flipped, "gzip", kNoCap));
}

TEST(ContentDecoding, HeaderValues) {
    const std::string headers = "HTTP/1.1 200 OK\r\n"
                                "Content-Type: application/x-shockwave-flash\r\n"
                                "content-encoding:  gzip \r\n"
                                "Content-Encoding: br\r\n"
                                "X-Long: first\r\n"
                                "\tsecond\r\n"
                                "\r\n"
                                "After-End: no\r\n";
    EXPECT_EQ(headerValue(headers, "Content-Encoding"), "gzip");
    EXPECT_EQ(headerValue(headers, "CONTENT-TYPE"), "application/x-shockwave-flash");
    EXPECT_EQ(headerValue(headers, "x-long"), "first \tsecond");
    EXPECT_EQ(headerValue(headers, "Content-Length"), "");
    EXPECT_EQ(headerValue(headers, "After-End"), "");
    EXPECT_EQ(headerValue(headers, "HTTP/1.1 200 OK"), "");
    EXPECT_EQ(headerValue("Content-Type: text/html\n", "content-type"), "text/html");
    EXPECT_EQ(headerValue("", "content-type"), "");
}

} // namespace
} // namespace sarnika::sources
