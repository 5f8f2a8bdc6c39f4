#include "cache/sources/webcache/WebCacheRows.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "cache/sources/FileAccess.h"
#include "cache/sources/webcache/WebCache.h"

namespace sarnika::sources {

namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace {

constexpr std::size_t kSecureDirectoryLength = 8;
// The database engine's file header: its signature at 4, the database's state at 52.
constexpr std::size_t kEseSignatureOffset = 4;
constexpr std::string_view kEseSignature = "\xef\xcd\xab\x89"sv;
constexpr std::size_t kEseStateOffset = 52;
constexpr unsigned char kEseCleanShutdown = 3;
// A folder beside a database with more files than this is not a WebCache folder.
constexpr int kMaxWebCacheFolderFiles = 10'000;

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

// Names from the database become path parts: anything that could leave the folder is refused.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\:\0"sv) == std::string_view::npos;
}

std::vector<std::string_view> pathParts(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t end = path.find_first_of("\\/");
        const std::string_view part = path.substr(0, end);
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (end == std::string_view::npos) {
            break;
        }
        path.remove_prefix(end + 1);
    }
    return parts;
}

// Windows 8 kept content under "Temporary Internet Files\Content.IE5", later versions under
// "INetCache\IE": a database carried over from one to the other may name the folder the disk
// no longer has. The same parts with the other one's names, or none.
std::optional<std::vector<std::string>> otherContentParts(std::vector<std::string> parts) {
    const std::size_t n = parts.size();
    if (n < 2) {
        return std::nullopt;
    }
    const bool low = n >= 3 && equalNoCase(parts[n - 2], "Low");
    const std::size_t first = low ? n - 3 : n - 2;
    if (equalNoCase(parts[first], "INetCache") && equalNoCase(parts[n - 1], "IE")) {
        parts[first] = "Temporary Internet Files";
        parts[n - 1] = "Content.IE5";
        return parts;
    }
    if (equalNoCase(parts[first], "Temporary Internet Files") &&
        equalNoCase(parts[n - 1], "Content.IE5")) {
        parts[first] = "INetCache";
        parts[n - 1] = "IE";
        return parts;
    }
    return std::nullopt;
}

// The folder of the profile a recorded directory lies in, and the parts below it.
std::optional<std::pair<fs::path, std::vector<std::string>>>
containerParts(std::string_view windowsDirectory, const fs::path& databaseFolder) {
    const std::vector<std::string_view> parts = pathParts(windowsDirectory);
    // ".../AppData/Local/Microsoft/Windows/WebCache": the profile's local folder is three up.
    const fs::path windowsFolder = databaseFolder.parent_path();
    const fs::path localFolder = windowsFolder.parent_path().parent_path();
    std::optional<std::pair<fs::path, std::size_t>> start;
    for (std::size_t i = 0; i + 1 < parts.size() && !start; ++i) {
        if (equalNoCase(parts[i], "AppData") && equalNoCase(parts[i + 1], "Local")) {
            start.emplace(localFolder, i + 2);
        }
    }
    for (std::size_t i = 0; i + 1 < parts.size() && !start; ++i) {
        if (equalNoCase(parts[i], "Microsoft") && equalNoCase(parts[i + 1], "Windows")) {
            start.emplace(windowsFolder, i + 2);
        }
    }
    if (!start || start->second >= parts.size() || start->first.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> below;
    for (std::size_t i = start->second; i < parts.size(); ++i) {
        if (!isPlainName(parts[i])) {
            return std::nullopt;
        }
        below.emplace_back(parts[i]);
    }
    return std::make_pair(start->first, std::move(below));
}

fs::path joined(fs::path base, const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
        base /= part;
    }
    return base;
}

bool isLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

bool isThere(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Unknown: the Containers table was lost, the container's rows are told apart by their URLs.
enum class ContainerUse { Content, History, Cookies, Unknown, None };

ContainerUse useOf(const WebCacheContainer& container) {
    if (equalNoCase(container.name, "Content")) {
        return ContainerUse::Content;
    }
    if (equalNoCase(container.name, "History")) {
        return ContainerUse::History;
    }
    if (equalNoCase(container.name, "Cookies")) {
        return ContainerUse::Cookies;
    }
    return container.name.empty() ? ContainerUse::Unknown : ContainerUse::None;
}

std::optional<RecordKind> kindOfRow(ContainerUse use, std::string_view url) {
    const bool visit = startsWithNoCase(url, "Visited:");
    const bool cookie = startsWithNoCase(url, "Cookie:");
    switch (use) {
    case ContainerUse::Content:
        return RecordKind::Content;
    case ContainerUse::History:
        return visit ? std::optional(RecordKind::History) : std::nullopt;
    case ContainerUse::Cookies:
        return cookie ? std::optional(RecordKind::Cookie) : std::nullopt;
    case ContainerUse::Unknown:
        if (visit || cookie) {
            return visit ? RecordKind::History : RecordKind::Cookie;
        }
        for (const std::string_view scheme : {"http:", "https:", "ftp:", "file:"}) {
            if (startsWithNoCase(url, scheme)) {
                return RecordKind::Content;
            }
        }
        return std::nullopt;
    case ContainerUse::None:
        break;
    }
    return std::nullopt;
}

// Where the files of one container lie, found once per container and cache folder.
class ContentFolders {
public:
    ContentFolders(const std::vector<WebCacheContainer>& containers, fs::path databaseFolder)
        : m_databaseFolder(std::move(databaseFolder)) {
        for (const WebCacheContainer& container : containers) {
            m_containers.emplace(container.id, &container);
        }
    }

    // The folder of a row's file, or empty when there is none to trust.
    const fs::path& secureFolder(std::uint64_t containerId, std::uint32_t index) {
        const auto key = std::make_pair(containerId, index);
        const auto found = m_secure.find(key);
        if (found != m_secure.end()) {
            return found->second;
        }
        return m_secure.emplace(key, findSecureFolder(containerId, index)).first->second;
    }

private:
    fs::path findSecureFolder(std::uint64_t containerId, std::uint32_t index) const {
        const auto container = m_containers.find(containerId);
        // Rows count the cache folders from 1; 0 names none.
        if (container == m_containers.end() || index == 0 ||
            index > container->second->secureDirectories.size()) {
            return {};
        }
        const std::string& name = container->second->secureDirectories[index - 1];
        if (!isPlainName(name)) {
            return {};
        }
        auto found = containerParts(container->second->directory, m_databaseFolder);
        if (!found) {
            return {};
        }
        auto& [base, parts] = *found;
        if (!isThere(joined(base, parts) / name)) {
            auto other = otherContentParts(parts);
            if (other && isThere(joined(base, *other) / name)) {
                parts = std::move(*other);
            }
        }
        parts.push_back(name);
        // No link between the profile and the file's folder: one could lead out of the cache.
        fs::path folder = base;
        for (const std::string& part : parts) {
            folder /= part;
            if (isLink(folder)) {
                return {};
            }
        }
        return folder;
    }

    fs::path m_databaseFolder;
    std::map<std::uint64_t, const WebCacheContainer*> m_containers;
    std::map<std::pair<std::uint64_t, std::uint32_t>, fs::path> m_secure;
};

Result<std::string> eseHeader(const fs::path& database) {
    auto file = ReadOnlyFile::open(database);
    if (!file) {
        return file.error();
    }
    auto head = file->read(0, kEseStateOffset + 4);
    if (!head) {
        return head.error();
    }
    if (head->size() < kEseStateOffset + 4 ||
        head->compare(kEseSignatureOffset, kEseSignature.size(), kEseSignature) != 0) {
        return makeError(Error::Code::Malformed, database.string() + " is no ESE database");
    }
    return head;
}

} // namespace

fs::path webCacheDatabase(const fs::path& folder) {
    for (const char* name : {"WebCacheV01.dat", "WebCacheV24.dat"}) {
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(folder / name, ec))) {
            return folder / name;
        }
    }
    return {};
}

bool looksLikeWebCache(const fs::path& folder) {
    const fs::path database = webCacheDatabase(folder);
    return !database.empty() && eseHeader(database).ok();
}

bool webCacheNeedsCopy(const fs::path& database) {
    const auto head = eseHeader(database);
    if (!head || static_cast<unsigned char>((*head)[kEseStateOffset]) != kEseCleanShutdown ||
        head->compare(kEseStateOffset + 1, 3, "\0\0\0"sv) != 0) {
        return true;
    }
    std::error_code ec;
    int seen = 0;
    for (fs::directory_iterator it(database.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension == ".log" || extension == ".jrs" || extension == ".chk" ||
            ++seen > kMaxWebCacheFolderFiles) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> splitSecureDirectories(std::string_view stored) {
    stored = stored.substr(0, stored.find('\0'));
    std::vector<std::string> names;
    names.reserve(stored.size() / kSecureDirectoryLength);
    for (std::size_t at = 0; at + kSecureDirectoryLength <= stored.size();
         at += kSecureDirectoryLength) {
        const std::string_view name = stored.substr(at, kSecureDirectoryLength);
        names.emplace_back(isPlainName(name) ? name : std::string_view());
    }
    return names;
}

std::string webCacheHeaders(std::string_view stored) {
    stored = stored.substr(0, std::min<std::size_t>(stored.find('\0'), kWebCacheMaxHeaderBytes));
    if (!startsWithNoCase(stored, "HTTP/")) {
        return {};
    }
    const std::size_t end = stored.find("\r\n\r\n");
    if (end != std::string_view::npos) {
        return std::string(stored.substr(0, end + 4));
    }
    std::string headers(stored);
    headers += headers.size() >= 2 && headers.compare(headers.size() - 2, 2, "\r\n") == 0
                   ? "\r\n"
                   : "\r\n\r\n";
    return headers;
}

fs::path containerFolder(std::string_view windowsDirectory, const fs::path& databaseFolder) {
    const auto found = containerParts(windowsDirectory, databaseFolder);
    return found ? joined(found->first, found->second) : fs::path();
}

bool webCacheContainerGivesEntries(const WebCacheContainer& container) {
    return useOf(container) != ContainerUse::None;
}

std::vector<CacheRecord> webCacheRecords(const std::vector<WebCacheContainer>& containers,
                                         const std::vector<WebCacheRow>& rows,
                                         const fs::path& databaseFolder,
                                         std::string_view identityBase) {
    std::map<std::uint64_t, ContainerUse> uses;
    for (const WebCacheContainer& container : containers) {
        uses.emplace(container.id, useOf(container));
    }
    ContentFolders folders(containers, databaseFolder);
    std::vector<CacheRecord> records;
    records.reserve(rows.size());
    for (const WebCacheRow& row : rows) {
        const auto use = uses.find(row.containerId);
        if (use == uses.end() || row.url.empty()) {
            continue;
        }
        const std::optional<RecordKind> kind = kindOfRow(use->second, row.url);
        if (!kind) {
            continue;
        }
        CacheRecord record;
        record.kind = *kind;
        record.url = row.url;
        record.size = row.fileSize;
        record.lastAccess = row.accessedTime;
        record.lastModified = row.modifiedTime;
        record.expires = row.expiryTime;
        record.lastSync = row.syncTime;
        record.useCount = row.accessCount;
        record.hitRate = row.accessCount;
        record.exemptDelta = row.exemptionDelta;
        record.fileExtension = row.fileExtension;
        record.identity = std::string(identityBase) + "#" + std::to_string(row.containerId) + "/" +
                          std::to_string(row.entryId);
        if (record.kind == RecordKind::Content) {
            record.headers = webCacheHeaders(row.responseHeaders);
            if (isPlainName(row.fileName)) {
                const fs::path& folder = folders.secureFolder(row.containerId, row.secureDirectory);
                if (!folder.empty()) {
                    const fs::path file = folder / row.fileName;
                    record.localFile = file.string();
                    record.body = [file](std::uint64_t limit) {
                        return readFileRange(file, 0, limit);
                    };
                }
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace sarnika::sources
