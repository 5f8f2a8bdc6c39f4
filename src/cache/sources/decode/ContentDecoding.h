#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace sarnika::sources {

// Decodes a body stored with the given Content-Encoding header value ("gzip", "x-gzip",
// "deflate", "br", "identity", "" and comma-separated chains such as "deflate, gzip", which the
// server applied in order and which are therefore undone in reverse). deflate takes both the
// zlib-wrapped and the raw form; gzip takes concatenated members. No step produces more than
// `maxOutput` bytes (Error::Code::TooLarge); unknown encodings give Error::Code::Unsupported and
// corrupt or truncated data Error::Code::Malformed.
Result<std::string> decodeContent(std::string_view body, std::string_view contentEncoding,
                                  std::uint64_t maxOutput);

// Receives decoded bytes in pieces of at most 64 KiB; an error stops the decoding and is
// returned by it (a sink enforces its own limits this way).
using DecodeSink = std::function<Status(std::string_view piece)>;

// Decodes as decodeContent does, but hands the output on as it comes instead of holding it:
// memory stays at the decoders' own windows whatever the body expands to.
Status decodeContentTo(std::string_view body, std::string_view contentEncoding,
                       const DecodeSink& sink);

} // namespace sarnika::sources
