#include "cache/sources/decode/ContentDecoding.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <memory>
#include <vector>

#ifdef SARNIKA_WITH_BROTLI
#include <brotli/decode.h>
#endif
#include <zlib.h>

namespace sarnika::sources {
namespace {

constexpr std::size_t kOutputChunk = std::size_t{64} * 1024;

Error tooLarge(std::uint64_t maxOutput) {
    return makeError(Error::Code::TooLarge,
                     "decoded body exceeds " + std::to_string(maxOutput) + " bytes");
}

// Room for the next piece of output: one byte past the cap is allowed so that an overrun shows.
std::size_t nextChunk(const std::string& out, std::uint64_t maxOutput) {
    const std::uint64_t room = maxOutput - std::min<std::uint64_t>(out.size(), maxOutput);
    return static_cast<std::size_t>(std::min<std::uint64_t>(kOutputChunk, room + 1));
}

std::string lowerTrimmed(std::string_view text) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

struct InflateStream {
    z_stream stream{};
    bool ready = false;
    ~InflateStream() {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    InflateStream() = default;
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
};

enum class ZlibForm { Gzip, Zlib, Raw };

// Inflates `input`; gzip members following a finished one are inflated too, anything else after
// the end of the stream is ignored as browsers do.
Result<std::string> inflateBody(std::string_view input, ZlibForm form, std::uint64_t maxOutput) {
    InflateStream inflater;
    const int windowBits = form == ZlibForm::Gzip   ? 16 + MAX_WBITS
                           : form == ZlibForm::Zlib ? MAX_WBITS
                                                    : -MAX_WBITS;
    if (inflateInit2(&inflater.stream, windowBits) != Z_OK) {
        return makeError(Error::Code::Unreadable, "zlib cannot start");
    }
    inflater.ready = true;
    z_stream& zs = inflater.stream;

    std::string out;
    std::size_t consumed = 0;
    bool ended = false;
    while (true) {
        if (zs.avail_in == 0 && consumed < input.size()) {
            const std::size_t piece = std::min<std::size_t>(input.size() - consumed, UINT_MAX);
            // zlib's interface is not const-correct; it never writes through next_in.
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + consumed));
            zs.avail_in = static_cast<uInt>(piece);
            consumed += piece;
        }
        const std::size_t before = out.size();
        const std::size_t chunk = nextChunk(out, maxOutput);
        out.resize(before + chunk);
        zs.next_out = reinterpret_cast<Bytef*>(out.data() + before);
        zs.avail_out = static_cast<uInt>(chunk);
        const int status = inflate(&zs, Z_NO_FLUSH);
        out.resize(before + chunk - zs.avail_out);
        if (out.size() > maxOutput) {
            return tooLarge(maxOutput);
        }
        if (status == Z_STREAM_END) {
            ended = true;
            const std::size_t left = zs.avail_in + (input.size() - consumed);
            const std::size_t at = input.size() - left;
            const bool anotherMember = form == ZlibForm::Gzip && left >= 2 &&
                                       static_cast<unsigned char>(input[at]) == 0x1F &&
                                       static_cast<unsigned char>(input[at + 1]) == 0x8B;
            if (!anotherMember) {
                break;
            }
            ended = false;
            if (inflateReset(&zs) != Z_OK) {
                return makeError(Error::Code::Malformed, "gzip member cannot restart");
            }
            continue;
        }
        if (status == Z_BUF_ERROR && zs.avail_in == 0 && consumed == input.size()) {
            break; // input exhausted before the stream's end
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            return makeError(Error::Code::Malformed,
                             std::string("corrupt compressed data: ") +
                                 (zs.msg != nullptr ? zs.msg : "zlib error"));
        }
    }
    if (!ended) {
        return makeError(Error::Code::Malformed, "compressed data ends early");
    }
    return out;
}

bool looksZlibWrapped(std::string_view input) {
    if (input.size() < 2) {
        return false;
    }
    const auto cmf = static_cast<unsigned char>(input[0]);
    const auto flg = static_cast<unsigned char>(input[1]);
    return (cmf & 0x0FU) == 8 && (cmf >> 4U) <= 7 && ((cmf << 8U) | flg) % 31 == 0;
}

Result<std::string> inflateDeflate(std::string_view input, std::uint64_t maxOutput) {
    // Servers disagree on what "deflate" means; browsers accept both forms, as we do.
    if (looksZlibWrapped(input)) {
        auto wrapped = inflateBody(input, ZlibForm::Zlib, maxOutput);
        if (wrapped || wrapped.error().code == Error::Code::TooLarge) {
            return wrapped;
        }
    }
    return inflateBody(input, ZlibForm::Raw, maxOutput);
}

#ifdef SARNIKA_WITH_BROTLI
Result<std::string> decodeBrotli(std::string_view input, std::uint64_t maxOutput) {
    const std::unique_ptr<BrotliDecoderState, void (*)(BrotliDecoderState*)> decoder(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), BrotliDecoderDestroyInstance);
    if (!decoder) {
        return makeError(Error::Code::Unreadable, "brotli cannot start");
    }
    std::string out;
    auto availableIn = input.size();
    const auto* nextIn = reinterpret_cast<const std::uint8_t*>(input.data());
    while (true) {
        const std::size_t before = out.size();
        const std::size_t chunk = nextChunk(out, maxOutput);
        out.resize(before + chunk);
        std::size_t availableOut = chunk;
        auto* nextOut = reinterpret_cast<std::uint8_t*>(out.data() + before);
        const BrotliDecoderResult result = BrotliDecoderDecompressStream(
            decoder.get(), &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
        out.resize(before + chunk - availableOut);
        if (out.size() > maxOutput) {
            return tooLarge(maxOutput);
        }
        switch (result) {
        case BROTLI_DECODER_RESULT_SUCCESS:
            return out;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
            continue;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
            return makeError(Error::Code::Malformed, "brotli data ends early");
        case BROTLI_DECODER_RESULT_ERROR:
        default:
            return makeError(
                Error::Code::Malformed,
                std::string("corrupt brotli data: ") +
                    BrotliDecoderErrorString(BrotliDecoderGetErrorCode(decoder.get())));
        }
    }
}
#else
// The Windows cross-build has no brotli library: such bodies stay undecoded and are skipped.
Result<std::string> decodeBrotli(std::string_view /*input*/, std::uint64_t /*maxOutput*/) {
    return makeError(Error::Code::Unsupported, "brotli decoding is not part of this build");
}
#endif

Result<std::string> decodeOne(std::string_view input, const std::string& coding,
                              std::uint64_t maxOutput) {
    if (coding.empty() || coding == "identity") {
        if (input.size() > maxOutput) {
            return tooLarge(maxOutput);
        }
        return std::string(input);
    }
    if (input.empty()) {
        // Bodies of 204/304 replies carry the header with nothing to decode.
        return std::string();
    }
    if (coding == "gzip" || coding == "x-gzip") {
        return inflateBody(input, ZlibForm::Gzip, maxOutput);
    }
    if (coding == "deflate") {
        return inflateDeflate(input, maxOutput);
    }
    if (coding == "br") {
        return decodeBrotli(input, maxOutput);
    }
    return makeError(Error::Code::Unsupported, "unsupported Content-Encoding \"" + coding + "\"");
}

} // namespace

Result<std::string> decodeContent(std::string_view body, std::string_view contentEncoding,
                                  std::uint64_t maxOutput) {
    std::vector<std::string> codings;
    while (!contentEncoding.empty()) {
        const std::size_t comma = contentEncoding.find(',');
        std::string coding = lowerTrimmed(contentEncoding.substr(0, comma));
        if (!coding.empty() && coding != "identity") {
            codings.push_back(std::move(coding));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        contentEncoding.remove_prefix(comma + 1);
    }
    if (codings.empty()) {
        return decodeOne(body, {}, maxOutput);
    }
    // The last coding applied is the first to undo.
    std::reverse(codings.begin(), codings.end());
    std::string current;
    bool first = true;
    for (const std::string& coding : codings) {
        auto decoded = decodeOne(first ? body : std::string_view(current), coding, maxOutput);
        if (!decoded) {
            return decoded.error();
        }
        current = std::move(decoded).value();
        first = false;
    }
    return current;
}

std::string headerValue(std::string_view headers, std::string_view name) {
    const auto sameName = [name](std::string_view field) {
        return field.size() == name.size() &&
               std::equal(field.begin(), field.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    bool firstLine = true;
    std::string found;
    bool inFound = false;
    while (!headers.empty()) {
        const std::size_t end = headers.find('\n');
        std::string_view line = headers.substr(0, end);
        headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break; // the end of the header block
        }
        const bool continuation = line.front() == ' ' || line.front() == '\t';
        if (inFound) {
            if (!continuation) {
                break;
            }
            found += ' ';
            found += line;
            continue;
        }
        if (firstLine && line.substr(0, 5) == "HTTP/") {
            firstLine = false;
            continue;
        }
        firstLine = false;
        const std::size_t colon = line.find(':');
        if (continuation || colon == std::string_view::npos) {
            continue;
        }
        std::string_view field = line.substr(0, colon);
        while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) {
            field.remove_suffix(1);
        }
        if (sameName(field)) {
            found = std::string(line.substr(colon + 1));
            inFound = true;
        }
    }
    if (!inFound) {
        return {};
    }
    const std::size_t first = found.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return found.substr(first, found.find_last_not_of(" \t") - first + 1);
}

} // namespace sarnika::sources
