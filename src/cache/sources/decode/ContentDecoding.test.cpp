#include "cache/sources/decode/ContentDecoding.h"

#include <brotli/encode.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "support/PosixFiles.h"

namespace sarnika::sources {
namespace {

constexpr std::uint64_t kNoCap = 1ULL << 30U;

// Compressible but not trivially, and longer than one output chunk.
std::string payload(std::size_t size, unsigned start = 7) {
    std::string out;
    for (unsigned n = start; out.size() < size; n = n * 1103515245U + 12345U) {
        out += "FWS frame " + std::to_string(n % 5000) + ' ';
    }
    return out.substr(0, size);
}

// windowBits as zlib takes them: 15 zlib-wrapped, -15 raw, 31 gzip.
std::string deflated(std::string_view input, int windowBits = 31) {
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

std::string brotli(std::string_view input) {
    std::size_t size = BrotliEncoderMaxCompressedSize(input.size());
    std::string out(size, '\0');
    EXPECT_TRUE(BrotliEncoderCompress(5, 22, BROTLI_MODE_GENERIC, input.size(),
                                      reinterpret_cast<const std::uint8_t*>(input.data()), &size,
                                      reinterpret_cast<std::uint8_t*>(out.data())));
    out.resize(size);
    return out;
}

TEST(ContentDecoding, RoundTripsEncodingsAndChains) {
    const std::string body = payload(300'000);
    const std::string a = payload(5000, 1);
    const std::string b = payload(7000, 2);
    const std::pair<std::string, std::string> cases[][2] = {
        {{deflated(body), "gzip"}, {body, ""}},
        {{deflated(body), "x-gzip"}, {body, ""}},
        {{deflated(body, 15), "deflate"}, {body, ""}},
        {{deflated(body, -15), "deflate"}, {body, ""}},
        {{brotli(body), "br"}, {body, ""}},
        {{body, "identity"}, {body, ""}},
        {{body, ""}, {body, ""}},
        {{deflated(deflated(body, 15)), "deflate, gzip"}, {body, ""}},
        {{deflated(brotli(body)), " BR ,\tGZip "}, {body, ""}},
        // Concatenated members join; padding after a finished stream is not body.
        {{deflated(a) + deflated(b), "gzip"}, {a + b, ""}},
        {{deflated(a) + std::string(3, '\0'), "gzip"}, {a, ""}},
        {{"", "gzip"}, {"", ""}},
    };
    for (const auto& [input, expected] : cases) {
        const auto decoded = decodeContent(input.first, input.second, kNoCap);
        ASSERT_TRUE(decoded) << input.second << ": " << decoded.error().message;
        EXPECT_TRUE(*decoded == expected.first) << input.second;
    }
}

TEST(ContentDecoding, CapsTheOutput) {
    const std::string body = payload(100'000);
    const std::string zeros(64U << 20U, '\0'); // a small bomb of about 64 KiB
    for (const auto& [encoded, encoding, cap] :
         {std::tuple{deflated(body), "gzip", body.size()},
          std::tuple{deflated(body, -15), "deflate", body.size()},
          std::tuple{brotli(body), "br", body.size()}, std::tuple{body, "identity", body.size()},
          std::tuple{deflated(zeros), "gzip", std::size_t{1} << 20U},
          std::tuple{brotli(zeros), "br", std::size_t{1} << 20U}}) {
        if (cap == body.size()) {
            EXPECT_TRUE(decodeContent(encoded, encoding, cap)) << encoding;
        }
        const auto over = decodeContent(encoded, encoding, cap - 1);
        ASSERT_FALSE(over) << encoding;
        EXPECT_EQ(over.error().code, Error::Code::TooLarge) << encoding;
    }
}

TEST(ContentDecoding, RejectsUnknownCorruptAndTruncatedData) {
    for (const std::string_view encoding : {"compress", "zstd", "gzip, sdch"}) {
        const auto decoded = decodeContent(deflated("abc"), encoding, kNoCap);
        ASSERT_FALSE(decoded) << encoding;
        EXPECT_EQ(decoded.error().code, Error::Code::Unsupported) << encoding;
    }
    const std::string body = payload(20'000);
    std::string badCrc = deflated(body);
    badCrc[badCrc.size() - 6] ^= 0x55;
    for (const auto& [encoded, encoding] :
         {std::pair{deflated(body), "gzip"}, std::pair{deflated(body, 15), "deflate"},
          std::pair{deflated(body, -15), "deflate"}, std::pair{brotli(body), "br"}}) {
        for (std::size_t cut = 1; cut < encoded.size(); cut += 97) {
            const auto truncated = decodeContent(encoded.substr(0, cut), encoding, kNoCap);
            ASSERT_FALSE(truncated) << encoding << " cut at " << cut;
            EXPECT_EQ(truncated.error().code, Error::Code::Malformed) << encoding << cut;
        }
        const auto garbage = decodeContent("not compressed, not even a little", encoding, kNoCap);
        ASSERT_FALSE(garbage) << encoding;
        EXPECT_EQ(garbage.error().code, Error::Code::Malformed) << encoding;
    }
    EXPECT_FALSE(decodeContent(badCrc, "gzip", kNoCap));
}

// `count` zero bytes, gzip-compressed piece by piece: a bomb of a few KiB or MiB.
std::string gzipOfZeros(std::size_t count) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
    const std::string zeros(1U << 20U, '\0');
    std::string out;
    std::string chunk(1U << 16U, '\0');
    for (std::size_t done = 0; done <= count;) {
        const std::size_t piece = std::min(zeros.size(), count - done);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        zs.avail_in = static_cast<uInt>(piece);
        done += piece;
        const int flush = done == count ? Z_FINISH : Z_NO_FLUSH;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
            zs.avail_out = static_cast<uInt>(chunk.size());
            deflate(&zs, flush);
            out.append(chunk.data(), chunk.size() - zs.avail_out);
        } while (zs.avail_out == 0);
        if (flush == Z_FINISH) {
            break;
        }
    }
    deflateEnd(&zs);
    return out;
}

long peakKiB() {
    return testing::peakMemoryKiB();
}

// Decompression bombs: the decoder hands its output on in pieces and holds none of it.
TEST(ContentDecoding, StreamsBombsWithoutHoldingTheirOutput) {
    constexpr std::size_t kDecoded = std::size_t{256} << 20U;
    const std::string bomb = gzipOfZeros(kDecoded);
    const std::string nested = deflated(bomb);
    ASSERT_LT(nested.size(), 64U << 10U);
    const long before = peakKiB();
    for (const auto& [body, encoding] :
         {std::pair<std::string_view, std::string_view>(bomb, "gzip"),
          std::pair<std::string_view, std::string_view>(nested, "gzip, gzip")}) {
        std::size_t total = 0;
        std::size_t largest = 0;
        ASSERT_TRUE(decodeContentTo(body, encoding, [&](std::string_view piece) {
            total += piece.size();
            largest = std::max(largest, piece.size());
            return Status();
        }));
        EXPECT_EQ(total, kDecoded);
        EXPECT_LE(largest, 64U << 10U);
    }
    EXPECT_LT(peakKiB() - before, 32 * 1024) << "decoding held its output";
    // A sink that stops ends the decoding with its error at once.
    std::size_t seen = 0;
    const Status stopped = decodeContentTo(nested, "gzip, gzip", [&seen](std::string_view piece) {
        seen += piece.size();
        return seen > 100000 ? Status(makeError(Error::Code::TooLarge, "enough")) : Status();
    });
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().message, "enough");
    EXPECT_LE(seen, 100000U + (64U << 10U));
    // A chain of many codings, each step with its own buffers, is no real body.
    std::string chain = "gzip";
    for (int i = 0; i < 1000; ++i) {
        chain += ", gzip";
    }
    const Status tooMany =
        decodeContentTo(nested, chain, [](std::string_view) { return Status(); });
    ASSERT_FALSE(tooMany);
    EXPECT_EQ(tooMany.error().code, Error::Code::Unsupported);
}

} // namespace
} // namespace sarnika::sources
