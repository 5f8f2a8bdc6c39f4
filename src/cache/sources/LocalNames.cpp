#include "cache/sources/LocalNames.h"

#include <algorithm>
#include <array>
#include <utility>

#include "base/Text.h"
#include "cache/sources/HttpHeaders.h"

namespace sarnika::sources {
namespace {

constexpr std::size_t kMaxStemBytes = 80;
constexpr std::size_t kMaxExtensionBytes = 8;

constexpr std::array<std::pair<std::string_view, std::string_view>, 40> kMediaTypes = {{
    {"application/x-shockwave-flash", "swf"},
    {"application/vnd.adobe.flash-movie", "swf"},
    {"application/futuresplash", "swf"},
    {"audio/mpeg", "mp3"},
    {"audio/mp3", "mp3"},
    {"audio/x-mpeg", "mp3"},
    {"audio/wav", "wav"},
    {"audio/x-wav", "wav"},
    {"audio/wave", "wav"},
    {"audio/midi", "mid"},
    {"audio/x-midi", "mid"},
    {"audio/aiff", "aif"},
    {"audio/x-aiff", "aif"},
    {"video/mpeg", "mpg"},
    {"video/quicktime", "mov"},
    {"video/x-msvideo", "avi"},
    {"video/avi", "avi"},
    {"video/x-flv", "flv"},
    {"video/mp4", "mp4"},
    {"image/gif", "gif"},
    {"image/jpeg", "jpg"},
    {"image/pjpeg", "jpg"},
    {"image/png", "png"},
    {"image/bmp", "bmp"},
    {"image/tiff", "tif"},
    {"image/x-xbitmap", "xbm"},
    {"image/webp", "webp"},
    {"image/svg+xml", "svg"},
    {"image/x-icon", "ico"},
    {"image/vnd.microsoft.icon", "ico"},
    {"text/html", "htm"},
    {"application/xhtml+xml", "htm"},
    {"text/plain", "txt"},
    {"text/xml", "xml"},
    {"application/xml", "xml"},
    {"text/css", "css"},
    {"text/javascript", "js"},
    {"application/javascript", "js"},
    {"application/x-javascript", "js"},
    {"application/json", "json"},
}};

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The last segment of the URL's path, without query or fragment.
std::string_view lastSegment(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos) {
        const std::size_t path = url.find('/', scheme + 3);
        url = path == std::string_view::npos ? std::string_view() : url.substr(path);
    }
    const std::size_t slash = url.find_last_of('/');
    return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

bool isSafeByte(unsigned char c) {
    // Control bytes and the characters that no file system of the platforms we serve accepts.
    static constexpr std::string_view kUnsafe = "/\\:*?\"<>|";
    return c >= 0x20 && c != 0x7F && kUnsafe.find(static_cast<char>(c)) == std::string_view::npos;
}

std::string safeStem(std::string_view text) {
    std::string stem;
    for (const char c : text) {
        stem += isSafeByte(static_cast<unsigned char>(c)) ? c : '_';
    }
    // No hidden files, no "." or "..", no names that end in dots or blanks.
    const std::size_t first = stem.find_first_not_of(". ");
    stem = first == std::string::npos ? std::string() : stem.substr(first);
    while (!stem.empty() && (stem.back() == '.' || stem.back() == ' ')) {
        stem.pop_back();
    }
    if (stem.size() > kMaxStemBytes) {
        std::size_t cut = kMaxStemBytes;
        // Do not cut a UTF-8 sequence in two.
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0U) == 0x80U) {
            --cut;
        }
        stem.resize(cut);
    }
    return stem.empty() ? std::string("index") : stem;
}

bool isPlainExtension(std::string_view extension) {
    if (extension.empty() || extension.size() > kMaxExtensionBytes) {
        return false;
    }
    return std::all_of(extension.begin(), extension.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

} // namespace

std::string percentDecode(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                result += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

std::string extensionOfMediaType(std::string_view mediaType) {
    const std::string type = mediaTypeOf(mediaType);
    for (const auto& [name, extension] : kMediaTypes) {
        if (name == type) {
            return std::string(extension);
        }
    }
    return {};
}

std::string extensionOfSignature(std::string_view head) {
    if (head.size() >= 8) {
        const std::string_view signature = head.substr(0, 3);
        if (signature == "FWS" || signature == "CWS" || signature == "ZWS") {
            return "swf";
        }
    }
    return {};
}

LocalName localNameFor(std::string_view url, std::string_view contentType) {
    const std::string segment = percentDecode(lastSegment(url));
    std::string stem = segment;
    std::string segmentExtension;
    if (const std::size_t dot = segment.rfind('.'); dot != std::string::npos && dot > 0) {
        const std::string candidate = lowerCaseAscii(segment.substr(dot + 1));
        if (isPlainExtension(candidate)) {
            segmentExtension = candidate;
            stem = segment.substr(0, dot);
        }
    }
    LocalName name;
    name.stem = safeStem(stem);
    name.extension = extensionOfMediaType(contentType);
    if (name.extension.empty()) {
        name.extension = segmentExtension;
    }
    return name;
}

std::string fileNameOf(const LocalName& name) {
    std::string file = name.stem + "[1]";
    if (!name.extension.empty()) {
        file += "." + name.extension;
    }
    return file;
}

} // namespace sarnika::sources
