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

// One decoding step. Input comes in pieces through push(); output goes on, in pieces of at most
// kOutputChunk bytes, to the next step or the sink. Only the decoder's own state is held.
class Step {
public:
    explicit Step(const DecodeSink& next) : m_next(next) {}
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;
    Step(Step&&) = delete;
    Step& operator=(Step&&) = delete;
    virtual ~Step() = default;
    virtual Status push(std::string_view input) = 0;
    // The input is complete.
    virtual Status finish() = 0;

protected:
    Status emit(std::string_view piece) const { return piece.empty() ? Status() : m_next(piece); }
    // Where the step decodes to, before handing the bytes on.
    std::string& output() { return m_output; }

private:
    const DecodeSink& m_next;
    std::string m_output = std::string(kOutputChunk, '\0');
};

enum class ZlibForm { Gzip, Zlib, Raw, Deflate };

bool looksZlibWrapped(std::string_view input) {
    if (input.size() < 2) {
        return false;
    }
    const auto cmf = static_cast<unsigned char>(input[0]);
    const auto flg = static_cast<unsigned char>(input[1]);
    return (cmf & 0x0FU) == 8 && (cmf >> 4U) <= 7 && ((cmf << 8U) | flg) % 31 == 0;
}

// gzip members following a finished one are inflated too, anything else after the end of the
// stream is ignored as browsers do. "deflate" is zlib-wrapped or raw, told by its first bytes:
// servers disagree on what it means and browsers accept both.
class InflateStep final : public Step {
public:
    InflateStep(ZlibForm form, const DecodeSink& next) : Step(next), m_form(form) {}
    ~InflateStep() override {
        if (m_ready) {
            inflateEnd(&m_stream);
        }
    }
    InflateStep(const InflateStep&) = delete;
    InflateStep& operator=(const InflateStep&) = delete;
    InflateStep(InflateStep&&) = delete;
    InflateStep& operator=(InflateStep&&) = delete;

    Status push(std::string_view input) override {
        if (input.empty() || m_done) {
            return {};
        }
        m_sawInput = true;
        if (!m_carry.empty()) {
            // A byte or two held back until it is known what follows them.
            m_carry.append(input);
            std::string held = std::move(m_carry);
            m_carry.clear();
            return pushHeld(held);
        }
        return pushHeld(input);
    }

    Status finish() override {
        if (!m_sawInput || m_done || (m_ended && m_carry.size() < 2)) {
            return {};
        }
        if (!m_ready && !m_carry.empty()) {
            const std::string held = std::move(m_carry);
            m_carry.clear();
            if (Status started = start(held); !started) {
                return started;
            }
            if (Status pushed = inflateSome(held); !pushed) {
                return pushed;
            }
            if (m_ended || m_done) {
                return {};
            }
        }
        return makeError(Error::Code::Malformed, "compressed data ends early");
    }

private:
    Status pushHeld(std::string_view input) {
        if (!m_ready) {
            if (m_form == ZlibForm::Deflate && input.size() < 2) {
                m_carry.assign(input);
                return {};
            }
            if (Status started = start(input); !started) {
                return started;
            }
        }
        return inflateSome(input);
    }

    Status start(std::string_view first) {
        if (m_form == ZlibForm::Deflate) {
            m_form = looksZlibWrapped(first) ? ZlibForm::Zlib : ZlibForm::Raw;
        }
        const int windowBits = m_form == ZlibForm::Gzip   ? 16 + MAX_WBITS
                               : m_form == ZlibForm::Zlib ? MAX_WBITS
                                                          : -MAX_WBITS;
        if (inflateInit2(&m_stream, windowBits) != Z_OK) {
            return makeError(Error::Code::Unreadable, "zlib cannot start");
        }
        m_ready = true;
        return {};
    }

    Status inflateSome(std::string_view input) {
        std::size_t consumed = 0;
        std::string& out = output();
        while (true) {
            if (m_ended) {
                // What follows a finished stream: another gzip member, or nothing we read.
                const std::string_view left = input.substr(consumed);
                if (left.empty()) {
                    return {};
                }
                if (m_form != ZlibForm::Gzip) {
                    m_done = true;
                    return {};
                }
                if (left.size() < 2) {
                    m_carry.assign(left);
                    return {};
                }
                if (static_cast<unsigned char>(left[0]) != 0x1F ||
                    static_cast<unsigned char>(left[1]) != 0x8B) {
                    m_done = true;
                    return {};
                }
                if (inflateReset(&m_stream) != Z_OK) {
                    return makeError(Error::Code::Malformed, "gzip member cannot restart");
                }
                m_ended = false;
            }
            if (m_stream.avail_in == 0 && consumed < input.size()) {
                const std::size_t piece = std::min<std::size_t>(input.size() - consumed, UINT_MAX);
                // zlib's interface is not const-correct; it never writes through next_in.
                m_stream.next_in =
                    reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + consumed));
                m_stream.avail_in = static_cast<uInt>(piece);
                consumed += piece;
            }
            m_stream.next_out = reinterpret_cast<Bytef*>(out.data());
            m_stream.avail_out = static_cast<uInt>(out.size());
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            const std::size_t produced = out.size() - m_stream.avail_out;
            if (Status sent = emit(std::string_view(out.data(), produced)); !sent) {
                return sent;
            }
            if (status == Z_STREAM_END) {
                m_ended = true;
                consumed -= m_stream.avail_in;
                m_stream.avail_in = 0;
                continue;
            }
            if (status == Z_BUF_ERROR && m_stream.avail_in == 0 && consumed == input.size()) {
                return {}; // wants more input
            }
            if (status != Z_OK && status != Z_BUF_ERROR) {
                return makeError(Error::Code::Malformed,
                                 std::string("corrupt compressed data: ") +
                                     (m_stream.msg != nullptr ? m_stream.msg : "zlib error"));
            }
            if (m_stream.avail_in == 0 && consumed == input.size() && produced < out.size()) {
                return {};
            }
        }
    }

    ZlibForm m_form;
    z_stream m_stream{};
    bool m_ready = false;
    bool m_sawInput = false;
    bool m_ended = false; // the current member or stream is complete
    bool m_done = false;  // nothing more is read
    std::string m_carry;
};

#ifdef SARNIKA_WITH_BROTLI
class BrotliStep final : public Step {
public:
    explicit BrotliStep(const DecodeSink& next)
        : Step(next), m_decoder(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr),
                                BrotliDecoderDestroyInstance) {}

    Status push(std::string_view input) override {
        if (!m_decoder) {
            return makeError(Error::Code::Unreadable, "brotli cannot start");
        }
        if (input.empty() || m_done) {
            return {};
        }
        m_sawInput = true;
        std::string& out = output();
        std::size_t availableIn = input.size();
        const auto* nextIn = reinterpret_cast<const std::uint8_t*>(input.data());
        while (true) {
            std::size_t availableOut = out.size();
            auto* nextOut = reinterpret_cast<std::uint8_t*>(out.data());
            const BrotliDecoderResult result = BrotliDecoderDecompressStream(
                m_decoder.get(), &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
            if (Status sent = emit(std::string_view(out.data(), out.size() - availableOut));
                !sent) {
                return sent;
            }
            switch (result) {
            case BROTLI_DECODER_RESULT_SUCCESS:
                m_done = true;
                return {};
            case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
                continue;
            case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
                return {};
            case BROTLI_DECODER_RESULT_ERROR:
            default:
                return makeError(
                    Error::Code::Malformed,
                    std::string("corrupt brotli data: ") +
                        BrotliDecoderErrorString(BrotliDecoderGetErrorCode(m_decoder.get())));
            }
        }
    }

    Status finish() override {
        if (!m_sawInput || m_done) {
            return {};
        }
        return makeError(Error::Code::Malformed, "brotli data ends early");
    }

private:
    std::unique_ptr<BrotliDecoderState, void (*)(BrotliDecoderState*)> m_decoder;
    bool m_sawInput = false;
    bool m_done = false;
};
#endif

Result<std::unique_ptr<Step>> stepFor(const std::string& coding, const DecodeSink& next) {
    if (coding == "gzip" || coding == "x-gzip") {
        return std::unique_ptr<Step>(std::make_unique<InflateStep>(ZlibForm::Gzip, next));
    }
    if (coding == "deflate") {
        return std::unique_ptr<Step>(std::make_unique<InflateStep>(ZlibForm::Deflate, next));
    }
    if (coding == "br") {
#ifdef SARNIKA_WITH_BROTLI
        return std::unique_ptr<Step>(std::make_unique<BrotliStep>(next));
#else
        // The Windows cross-build has no brotli library: such bodies stay undecoded.
        return makeError(Error::Code::Unsupported, "brotli decoding is not part of this build");
#endif
    }
    return makeError(Error::Code::Unsupported, "unsupported Content-Encoding \"" + coding + "\"");
}

std::vector<std::string> codingsOf(std::string_view contentEncoding) {
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
    // The last coding applied is the first to undo.
    std::reverse(codings.begin(), codings.end());
    return codings;
}

// Servers apply one coding, rarely two; a longer chain is not a real body.
constexpr std::size_t kMaxCodings = 4;

} // namespace

Status decodeContentTo(std::string_view body, std::string_view contentEncoding,
                       const DecodeSink& sink) {
    const std::vector<std::string> codings = codingsOf(contentEncoding);
    if (codings.size() > kMaxCodings) {
        return makeError(Error::Code::Unsupported, "more than 4 content codings");
    }
    if (codings.empty()) {
        for (std::size_t at = 0; at < body.size(); at += kOutputChunk) {
            if (Status sent = sink(body.substr(at, kOutputChunk)); !sent) {
                return sent;
            }
        }
        return {};
    }
    // Built from the last step back: each step hands its output to the one after it.
    std::vector<std::unique_ptr<Step>> steps(codings.size());
    std::vector<DecodeSink> inputs(codings.size());
    for (std::size_t i = codings.size(); i-- > 0;) {
        const DecodeSink& next = i + 1 == codings.size() ? sink : inputs[i + 1];
        auto step = stepFor(codings[i], next);
        if (!step) {
            return step.error();
        }
        steps[i] = std::move(step.value());
        inputs[i] = [raw = steps[i].get()](std::string_view piece) {
            return raw->push(piece);
        };
    }
    if (Status pushed = steps.front()->push(body); !pushed) {
        return pushed;
    }
    for (const auto& step : steps) {
        if (Status finished = step->finish(); !finished) {
            return finished;
        }
    }
    return {};
}

Result<std::string> decodeContent(std::string_view body, std::string_view contentEncoding,
                                  std::uint64_t maxOutput) {
    std::string out;
    const Status decoded =
        decodeContentTo(body, contentEncoding, [&out, maxOutput](std::string_view piece) {
            if (piece.size() > maxOutput - out.size()) {
                return Status(tooLarge(maxOutput));
            }
            out.append(piece);
            return Status();
        });
    if (!decoded) {
        return decoded.error();
    }
    return out;
}

} // namespace sarnika::sources
