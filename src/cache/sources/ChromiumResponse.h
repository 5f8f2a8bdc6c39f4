#pragma once

#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "base/Result.h"

namespace sarnika::sources {

// The parts of a Chromium HTTP cache entry's response info (its stream 0) that we use.
struct ChromiumResponseInfo {
    // Status line and headers, each ended by CR LF, then an empty line.
    std::string headers;
    FileTime requestTime = 0;
    FileTime responseTime = 0;
    bool truncated = false;
};

// Parses the pickled response info; fails on any length that runs past the data.
Result<ChromiumResponseInfo> parseChromiumResponseInfo(std::string_view stream0);

// The URL of a cache key: "1/0/_dk_<site> <site> <url>" and older forms ("0/<url>", "<url>").
std::string urlFromChromiumKey(std::string_view key);

} // namespace sarnika::sources
