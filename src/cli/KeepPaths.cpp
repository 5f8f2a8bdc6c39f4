#include "cli/KeepPaths.h"

#include <algorithm>
#include <array>

#include "base/Text.h"
#include "cache/sources/LocalNames.h"

namespace sarnika::cli {
namespace {

// Leaves room for "-<counter>.swf" below the 255 bytes file systems allow for a name.
constexpr std::size_t kMaxPartBytes = 200;

bool isReserved(unsigned char c) {
    static constexpr std::string_view kReserved = "<>:\"/\\|?*";
    return c < 0x20 || c == 0x7F || kReserved.find(static_cast<char>(c)) != std::string_view::npos;
}

bool isDeviceName(std::string_view part) {
    static constexpr std::array<std::string_view, 22> kDevices = {
        "con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4", "com5", "com6", "com7",
        "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
    // Windows reserves the names with any extension too.
    const std::string base = lowerCaseAscii(part.substr(0, part.find('.')));
    return std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end();
}

struct UrlParts {
    std::string host;
    std::string path;
    std::string query;
};

UrlParts splitUrl(std::string_view url) {
    UrlParts parts;
    url = url.substr(0, url.find('#'));
    if (const std::size_t question = url.find('?'); question != std::string_view::npos) {
        parts.query = std::string(url.substr(question + 1));
        url = url.substr(0, question);
    }
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        parts.path = std::string(url);
        return parts;
    }
    std::string_view rest = url.substr(scheme + 3);
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    parts.path = slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash));
    // User names and passwords do not belong in a folder name.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority = authority.substr(at + 1);
    }
    std::string host = lowerCaseAscii(authority);
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        const std::string port = host.substr(colon + 1);
        host.erase(colon);
        if (!port.empty()) {
            host += "_" + port;
        }
    }
    parts.host = host;
    return parts;
}

} // namespace

std::string safePathPart(std::string_view part) {
    std::string safe;
    for (const char c : part) {
        safe += isReserved(static_cast<unsigned char>(c)) ? '_' : c;
    }
    if (safe.size() > kMaxPartBytes) {
        std::size_t cut = kMaxPartBytes;
        // Never cut a UTF-8 sequence in two.
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0U) == 0x80U) {
            --cut;
        }
        safe.resize(cut);
    }
    for (auto it = safe.rbegin(); it != safe.rend() && (*it == '.' || *it == ' '); ++it) {
        *it = '_';
    }
    if (safe.empty()) {
        return "_";
    }
    if (isDeviceName(safe)) {
        safe.insert(0, "_");
    }
    return safe;
}

std::filesystem::path KeptPath::folder() const {
    std::filesystem::path path;
    for (const std::string& part : folders) {
        path /= part;
    }
    return path;
}

std::string KeptPath::fileName(unsigned counter) const {
    std::string name = stem;
    if (counter > 0) {
        name += "-" + std::to_string(counter);
    }
    return name + "." + extension;
}

void KeptPath::fitInto(std::size_t maxBytes) {
    // "-" and six digits of a counter.
    constexpr std::size_t kCounterBytes = 7;
    const auto length = [this] {
        std::size_t bytes = stem.size() + kCounterBytes + 1 + extension.size();
        for (const std::string& part : folders) {
            bytes += part.size() + 1;
        }
        return bytes;
    };
    while (length() > maxBytes && folders.size() > 1) {
        folders.pop_back();
    }
    if (const std::size_t bytes = length(); bytes > maxBytes) {
        std::size_t cut = bytes - maxBytes < stem.size() ? stem.size() - (bytes - maxBytes) : 1;
        while (cut > 1 && (static_cast<unsigned char>(stem[cut]) & 0xC0U) == 0x80U) {
            --cut;
        }
        stem.resize(cut);
    }
}

namespace {

// The folders and the safe name of a URL's path; "index" for a folder.
KeptPath keptFoldersOf(std::string_view url) {
    const UrlParts parts = splitUrl(url);
    KeptPath kept;
    kept.query = parts.query;
    kept.folders.push_back(parts.host.empty() ? std::string("no-host") : safePathPart(parts.host));
    // Dot segments resolve as a browser resolves them and never climb above the host.
    std::vector<std::string> segments;
    bool endsInFolder = true;
    std::size_t start = 0;
    while (start <= parts.path.size()) {
        const std::size_t end = std::min(parts.path.find('/', start), parts.path.size());
        const std::string segment = sources::percentDecode(parts.path.substr(start, end - start));
        start = end + 1;
        endsInFolder = segment.empty() || segment == "." || segment == "..";
        if (segment == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (!endsInFolder) {
            segments.push_back(segment);
        }
    }
    std::string name = "index";
    if (!endsInFolder && !segments.empty()) {
        name = segments.back();
        segments.pop_back();
    }
    for (const std::string& segment : segments) {
        kept.folders.push_back(safePathPart(segment));
    }
    kept.stem = safePathPart(name);
    return kept;
}

} // namespace

KeptPath keptPathOf(std::string_view url) {
    KeptPath kept = keptFoldersOf(url);
    const std::size_t dot = kept.stem.rfind('.');
    if (dot != std::string::npos && dot > 0 && lowerCaseAscii(kept.stem.substr(dot)) == ".swf") {
        kept.extension = kept.stem.substr(dot + 1);
        kept.stem.resize(dot);
    } else {
        kept.extension = "swf";
    }
    return kept;
}

KeptPath keptSitePathOf(std::string_view url, std::string_view fallbackExtension) {
    KeptPath kept = keptFoldersOf(url);
    const std::size_t dot = kept.stem.rfind('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < kept.stem.size()) {
        kept.extension = kept.stem.substr(dot + 1);
        kept.stem.resize(dot);
    } else {
        kept.extension = safePathPart(fallbackExtension.empty() ? "bin" : fallbackExtension);
    }
    return kept;
}

} // namespace sarnika::cli
