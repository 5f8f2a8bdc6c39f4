#include "curation/SiteAssets.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <optional>

#include "cache/sources/FileAccess.h"
#include "cache/sources/swf/SwfTexts.h"
#include "movies/MovieList.h"

namespace sarnika::curation {
namespace {

// Longer texts are data, not links.
constexpr std::size_t kMaxLinkLength = 2048;
constexpr std::size_t kMaxExtensionLength = 5;

struct UrlParts {
    std::string scheme; // lower case
    std::string authority;
    std::string path;
    std::string query; // with its '?', or empty
};

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return lower;
}

// The scheme of a text that starts with one ("http" of "http://..."), in lower case.
std::optional<std::string> schemeOf(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos ||
        !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    const std::string_view scheme = text.substr(0, colon);
    if (!std::all_of(scheme.begin(), scheme.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        })) {
        return std::nullopt;
    }
    return lowerAscii(scheme);
}

bool isWebScheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https" || scheme == "ftp";
}

// The path with its "." and ".." segments applied.
std::string withoutDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    bool trailingSlash = false;
    std::string_view rest = path.starts_with('/') ? path.substr(1) : path;
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        const bool last = slash == std::string_view::npos;
        if (segment == "." || segment == "..") {
            if (segment == ".." && !segments.empty()) {
                segments.pop_back();
            }
            trailingSlash = last;
        } else {
            segments.push_back(segment);
            trailingSlash = false;
        }
        if (last) {
            break;
        }
        rest = rest.substr(slash + 1);
    }
    std::string result;
    for (const std::string_view segment : segments) {
        result += '/';
        result += segment;
    }
    if (result.empty() || trailingSlash) {
        result += '/';
    }
    return result;
}

// An absolute hierarchical URL ("scheme://authority/path?query"), its fragment left out.
std::optional<UrlParts> partsOf(std::string_view url) {
    const auto scheme = schemeOf(url);
    if (!scheme || !isWebScheme(*scheme) || url.substr(scheme->size() + 1, 2) != "//") {
        return std::nullopt;
    }
    url = url.substr(0, url.find('#'));
    std::string_view rest = url.substr(scheme->size() + 3);
    UrlParts parts;
    parts.scheme = *scheme;
    const std::size_t authorityEnd = rest.find_first_of("/?");
    parts.authority = lowerAscii(rest.substr(0, authorityEnd));
    if (parts.authority.empty()) {
        return std::nullopt;
    }
    rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    const std::size_t queryStart = rest.find('?');
    parts.path = withoutDotSegments(rest.substr(0, queryStart));
    if (queryStart != std::string_view::npos) {
        parts.query = rest.substr(queryStart);
    }
    return parts;
}

std::string joined(const UrlParts& parts) {
    return parts.scheme + "://" + parts.authority + parts.path + parts.query;
}

bool looksLikeLink(std::string_view text) {
    if (text.empty() || text.size() > kMaxLinkLength ||
        text.find_first_of(" \t<>\"{}|\\^`") != std::string_view::npos) {
        return false;
    }
    if (const auto scheme = schemeOf(text)) {
        return isWebScheme(*scheme);
    }
    if (text.starts_with("//")) {
        return true;
    }
    // A relative name: its last part needs a file extension.
    const std::string_view path = text.substr(0, text.find_first_of("?#"));
    const std::string_view name = path.substr(path.rfind('/') + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return false;
    }
    const std::string_view extension = name.substr(dot + 1);
    return !extension.empty() && extension.size() <= kMaxExtensionLength &&
           std::all_of(extension.begin(), extension.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Unix seconds of an entry time in UTC (days since 1899-12-30); none for 0.
std::optional<std::int64_t> unixSecondsOf(double utcDays) {
    constexpr double kDaysFrom1899To1970 = 25569;
    constexpr double kSecondsPerDay = 86400;
    if (utcDays <= 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(
        std::llround((utcDays - kDaysFrom1899To1970) * kSecondsPerDay));
}

std::string withoutQuery(std::string_view url) {
    return std::string(url.substr(0, url.find('?')));
}

} // namespace

std::string resolveUrl(std::string_view base, std::string_view reference) {
    auto parts = partsOf(base);
    reference = reference.substr(0, reference.find('#'));
    if (!parts || reference.empty()) {
        return {};
    }
    if (schemeOf(reference)) {
        const auto absolute = partsOf(reference);
        return absolute ? joined(*absolute) : std::string();
    }
    if (reference.starts_with("//")) {
        const auto absolute = partsOf(parts->scheme + ":" + std::string(reference));
        return absolute ? joined(*absolute) : std::string();
    }
    const std::size_t queryStart = reference.find('?');
    const std::string_view path = reference.substr(0, queryStart);
    const std::string query = queryStart == std::string_view::npos
                                  ? std::string()
                                  : std::string(reference.substr(queryStart));
    if (path.empty()) {
        parts->query = query;
    } else if (path.starts_with('/')) {
        parts->path = withoutDotSegments(path);
        parts->query = query;
    } else {
        const std::string folder = parts->path.substr(0, parts->path.rfind('/') + 1);
        parts->path = withoutDotSegments(folder + std::string(path));
        parts->query = query;
    }
    return joined(*parts);
}

std::vector<std::string> linkedUrls(std::string_view movieUrl,
                                    const std::vector<std::string>& texts) {
    std::vector<std::string> urls;
    for (const std::string& text : texts) {
        if (looksLikeLink(text)) {
            if (std::string url = resolveUrl(movieUrl, text); !url.empty()) {
                urls.push_back(std::move(url));
            }
        }
    }
    return urls;
}

void SiteAssets::addHost(std::string_view host) {
    if (std::string name = HostFromUrl("http://" + std::string(host) + "/"); !name.empty()) {
        m_hosts.insert(std::move(name));
    }
}

std::size_t SiteAssets::addNamedBy(std::string_view movieUrl, const std::string& localFile) {
    const auto file = sources::ReadOnlyFile::open(localFile);
    if (!file) {
        return 0;
    }
    const auto bytes = file->readAll(sources::kSwfTextsLimit);
    if (!bytes) {
        return 0;
    }
    const auto texts = sources::swfTexts(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
    const std::vector<std::string> urls = linkedUrls(movieUrl, texts);
    for (const std::string& url : urls) {
        addUrl(url);
    }
    return urls.size();
}

void SiteAssets::addUrl(std::string_view url) {
    std::string canonical = resolveUrl(url, url);
    if (canonical.empty()) {
        return;
    }
    if (canonical.find('?') == std::string::npos) {
        m_urlsWithoutQuery.insert(canonical);
    }
    m_urls.insert(std::move(canonical));
}

bool SiteAssets::takes(std::string_view url) const {
    if (m_all || m_hosts.contains(HostFromUrl(url))) {
        return true;
    }
    if (m_urls.empty()) {
        return false;
    }
    const std::string canonical = resolveUrl(url, url);
    return !canonical.empty() &&
           (m_urls.contains(canonical) || m_urlsWithoutQuery.contains(withoutQuery(canonical)));
}

std::vector<const TEntryInfo*> siteEntries(const TCacheAnalyzer& analyzer, const SiteAssets& assets,
                                           const std::set<std::string>& movieUrls) {
    std::vector<const TEntryInfo*> taken;
    // A movie's other copies (another browser's, or found only by its bytes) are no site files.
    for (const auto* list : {&analyzer.PageEntries(), &analyzer.ImageEntries(),
                             &analyzer.MultimediaEntries(), &analyzer.OtherEntries()}) {
        for (const auto& entry : *list) {
            std::error_code error;
            if (!entry->LocalFileName.empty() && !movieUrls.contains(entry->SourceUrlName) &&
                assets.takes(entry->SourceUrlName) &&
                std::filesystem::is_regular_file(entry->LocalFileName, error)) {
                taken.push_back(entry.get());
            }
        }
    }
    std::vector<std::string> items;
    for (const TEntryInfo* entry : taken) {
        items.push_back(entry->LocalFileName);
        items.push_back(entry->SourceUrlName);
    }
    const std::vector<std::string> kept = WithoutDuplicateMovies(std::move(items));
    const std::set<std::string> keptFiles(kept.begin(), kept.end());
    std::erase_if(taken, [&keptFiles](const TEntryInfo* entry) {
        return !keptFiles.contains(entry->LocalFileName);
    });
    return taken;
}

ArchivedMovie archivedEntry(const TEntryInfo& entry) {
    ArchivedMovie archived;
    archived.url = entry.SourceUrlName;
    archived.localFile = entry.LocalFileName;
    archived.storedHead = entry.HeaderInfo;
    archived.fetched = unixSecondsOf(entry.LastSyncTime);
    archived.lastAccess = unixSecondsOf(entry.LastAccessTime);
    return archived;
}

} // namespace sarnika::curation
