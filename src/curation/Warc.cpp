#include "curation/Warc.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <random>

#include <zlib.h>

#include "base/DateTime.h"
#include "base/Text.h"
#include "curation/Sha1.h"

namespace sarnika::curation {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{64} * 1024;
// After this much input a member whose output is nearly as large stops compressing: most of an
// archive's bytes are movies, images and sounds that are compressed already, and deflating them
// again costs far more time than it saves room.
constexpr uLong kSampleBytes = uLong{64} * 1024;
constexpr double kIncompressible = 0.95;

// Deflates what it is given into one gzip member and hands the output on.
class GzipMember {
public:
    explicit GzipMember(const ByteSink& out) : m_out(out) {
        // 15 window bits, +16 for the gzip wrapper; level 6 as gzip itself.
        m_ready = deflateInit2(&m_stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    GzipMember(const GzipMember&) = delete;
    GzipMember& operator=(const GzipMember&) = delete;
    ~GzipMember() {
        if (m_ready) {
            deflateEnd(&m_stream);
        }
    }

    Status add(std::string_view bytes) {
        SARNIKA_TRY(pump(bytes, Z_NO_FLUSH));
        if (!m_stored && m_stream.total_in >= kSampleBytes &&
            static_cast<double>(m_stream.total_out) >
                kIncompressible * static_cast<double>(m_stream.total_in)) {
            // Level 0 writes stored blocks: the rest goes out as it is, still a gzip member.
            SARNIKA_TRY(pump({}, Z_BLOCK));
            m_stored = deflateParams(&m_stream, 0, Z_DEFAULT_STRATEGY) == Z_OK;
        }
        return {};
    }
    Status finish() { return pump({}, Z_FINISH); }

private:
    Status pump(std::string_view bytes, int flush) {
        if (!m_ready) {
            return makeError(Error::Code::WriteFailed, "the compressor could not start");
        }
        // zlib takes a non-const pointer but does not write through it.
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data())); // NOLINT
        m_stream.avail_in = static_cast<uInt>(bytes.size());
        std::array<char, kChunkBytes> buffer{};
        int result = Z_OK;
        do {
            m_stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
            m_stream.avail_out = static_cast<uInt>(buffer.size());
            result = deflate(&m_stream, flush);
            if (result == Z_STREAM_ERROR) {
                return makeError(Error::Code::WriteFailed, "the compressor failed");
            }
            const std::size_t made = buffer.size() - m_stream.avail_out;
            if (made > 0) {
                SARNIKA_TRY(m_out(std::string_view(buffer.data(), made)));
            }
        } while (m_stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
        return {};
    }

    const ByteSink& m_out;
    z_stream m_stream{};
    bool m_ready = false;
    bool m_stored = false;
};

struct BlockFacts {
    std::uint64_t payloadBytes = 0;
    std::string blockDigest;
    std::string payloadDigest;
};

Result<BlockFacts> measure(const WarcRecord& record) {
    Sha1 block;
    Sha1 payload;
    BlockFacts facts;
    block.update(record.head);
    if (record.payload) {
        SARNIKA_TRY(record.payload([&](std::string_view bytes) -> Status {
            block.update(bytes);
            payload.update(bytes);
            facts.payloadBytes += bytes.size();
            return {};
        }));
    }
    facts.blockDigest = warcDigest(block);
    facts.payloadDigest = warcDigest(payload);
    return facts;
}

std::string recordHeader(const WarcRecord& record, const BlockFacts& facts) {
    std::string header = "WARC/1.1\r\nWARC-Type: " + record.type +
                         "\r\nWARC-Record-ID: " + record.recordId +
                         "\r\nWARC-Date: " + record.date + "\r\n";
    if (!record.targetUri.empty()) {
        header += "WARC-Target-URI: " + record.targetUri + "\r\n";
    }
    for (const auto& [name, value] : record.fields) {
        header.append(name).append(": ").append(value).append("\r\n");
    }
    if (!record.contentType.empty()) {
        header += "Content-Type: " + record.contentType + "\r\n";
    }
    header += "WARC-Block-Digest: " + facts.blockDigest + "\r\n";
    if (record.digestPayload) {
        header += "WARC-Payload-Digest: " + facts.payloadDigest + "\r\n";
    }
    header +=
        "Content-Length: " + std::to_string(record.head.size() + facts.payloadBytes) + "\r\n\r\n";
    return header;
}

// A header's name, for comparison: "transfer-encoding" of "Transfer-Encoding: chunked".
std::string headerName(std::string_view line) {
    const auto colon = line.find(':');
    return colon == std::string_view::npos ? std::string() : lowerCaseAscii(line.substr(0, colon));
}

std::string_view headerValueOf(std::string_view line) {
    std::string_view value = line.substr(line.find(':') + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
    }
    return value;
}

} // namespace

WarcWriter::WarcWriter(ByteSink out, bool gzipMembers)
    : m_out(std::move(out)), m_gzip(gzipMembers) {}

Status WarcWriter::write(const WarcRecord& record) {
    SARNIKA_TRY_ASSIGN(facts, measure(record));
    std::uint64_t written = 0;
    const auto emit = [&](const ByteSink& to) -> Status {
        SARNIKA_TRY(to(recordHeader(record, facts)));
        SARNIKA_TRY(to(record.head));
        if (record.payload) {
            SARNIKA_TRY(record.payload([&](std::string_view bytes) -> Status {
                written += bytes.size();
                return to(bytes);
            }));
        }
        return to("\r\n\r\n");
    };
    if (m_gzip) {
        GzipMember member(m_out);
        SARNIKA_TRY(emit([&member](std::string_view bytes) { return member.add(bytes); }));
        SARNIKA_TRY(member.finish());
    } else {
        SARNIKA_TRY(emit(m_out));
    }
    if (written != facts.payloadBytes) {
        return makeError(Error::Code::Malformed,
                         "the body of " + record.targetUri + " changed while it was archived");
    }
    return {};
}

std::string newRecordId() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    std::array<unsigned char, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const std::uint64_t value = generator();
        for (std::size_t j = 0; j < 8; ++j) {
            bytes[i + j] = static_cast<unsigned char>(value >> (8U * j));
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0FU) | 0x40U); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3FU) | 0x80U); // RFC 4122 variant
    std::string id = "<urn:uuid:";
    static constexpr std::string_view kHex = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            id += '-';
        }
        id += kHex[bytes[i] >> 4U];
        id += kHex[bytes[i] & 0x0FU];
    }
    return id + ">";
}

std::string warcDate(std::int64_t unixSeconds) {
    constexpr std::int64_t kDay = 86400;
    std::int64_t days = unixSeconds / kDay;
    std::int64_t rest = unixSeconds % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    const std::chrono::year_month_day date = dateOfDayNumber(days + dayNumber(1970, 1, 1));
    std::array<char, 32> text{};
    (void)std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ",
                        static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                        static_cast<unsigned>(date.day()), static_cast<int>(rest / 3600),
                        static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text.data();
}

std::string archivedHttpHead(std::string_view storedHead, std::uint64_t bodyLength,
                             bool bodyDecoded) {
    std::string head;
    bool lengthGiven = false;
    bool first = true;
    std::size_t start = 0;
    while (start < storedHead.size()) {
        std::size_t end = storedHead.find('\n', start);
        if (end == std::string_view::npos) {
            end = storedHead.size();
        }
        std::string_view line = storedHead.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        const std::string name = first ? std::string() : headerName(line);
        first = false;
        if (name == "transfer-encoding" || (bodyDecoded && name == "content-encoding") ||
            (name == "content-length" && headerValueOf(line) != std::to_string(bodyLength))) {
            head += "X-Archive-Orig-";
        } else if (name == "content-length") {
            lengthGiven = true;
        }
        head.append(line);
        head += "\r\n";
    }
    if (!lengthGiven) {
        head += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
    }
    return head + "\r\n";
}

} // namespace sarnika::curation
