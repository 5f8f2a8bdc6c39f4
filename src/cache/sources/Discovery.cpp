#include "cache/sources/Discovery.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "cache/sources/DiscoveryPlatform.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/firefox/FirefoxOldCache.h"
#include "cache/sources/opera/OperaCache.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

// Folders of a profile that hold no HTTP cache, cookies or history of ours; some are large.
constexpr std::array<std::string_view, 26> kSkippedFolders = {
    "Service Worker", "IndexedDB",           "Extensions",      "Extension State",
    "GPUCache",       "Code Cache",          "GrShaderCache",   "ShaderCache",
    "DawnCache",      "DawnGraphiteCache",   "DawnWebGPUCache", "GraphiteDawnCache",
    "Local Storage",  "Session Storage",     "blob_storage",    "File System",
    "Crashpad",       "component_crx_cache", "startupCache",    "thumbnails",
    "storage",        "jumpListCache",       "safebrowsing",    "node_modules",
    ".git",           "Cache_Data.bak",
};

bool isHexName(std::string_view name) {
    return name.size() == 18 && name.substr(16) == "_0" &&
           std::all_of(name.begin(), name.begin() + 16,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string headOf(const fs::path& file, std::size_t bytes) {
    auto head = readFileRange(file, 0, bytes);
    return head ? std::move(head.value()) : std::string();
}

bool isChromiumIndex(const fs::path& file) {
    const std::string head = headOf(file, 8);
    return head.substr(0, 4) == "\xC3\xCA\x03\xC1" || head.substr(0, 8) == "SQLCache";
}

bool isSqlite(const fs::path& file) {
    return headOf(file, 16) == std::string_view("SQLite format 3\0", 16);
}

bool isIndexDat(const fs::path& file) {
    const std::string head = headOf(file, 24);
    return head.rfind("Client UrlCache MMF Ver ", 0) == 0 ||
           head.rfind("WINE URLCache Ver ", 0) == 0;
}

bool isShardName(std::string_view name) {
    return name.size() > 5 && name.size() <= 14 && name.substr(0, 5) == "sqldb" &&
           std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

class Finder {
public:
    // Searches a folder the user named or a browser's root folder. A symbolic link there, and
    // in the `linkLevels` levels below it (the profiles that sync tools move elsewhere), is
    // followed; links further down, inside profiles and caches, never are.
    void searchRoot(const fs::path& folder, int depth, int linkLevels) {
        m_linkLevels = linkLevels;
        search(folder, depth, 0);
    }

    std::vector<SourceLocation> take() { return std::move(m_found); }

    void classifyFile(const fs::path& file) {
        const std::string name = file.filename().string();
        if (name == "Cookies" && isSqlite(file)) {
            add(SourceLocation::Kind::ChromiumCookies, file);
        } else if (name == "History" && isSqlite(file)) {
            add(SourceLocation::Kind::ChromiumHistory, file);
        } else if (name == "cookies.sqlite" && isSqlite(file)) {
            add(SourceLocation::Kind::FirefoxCookies, file);
        } else if (name == "places.sqlite" && isSqlite(file)) {
            add(SourceLocation::Kind::FirefoxHistory, file);
        } else if ((name == "index.dat" || name == "INDEX.DAT") && isIndexDat(file)) {
            add(SourceLocation::Kind::IndexDat, file);
        }
    }

private:
    // The folder to search in place of `folder`: itself, or where the link that it is leads
    // when links are followed at this level. Empty when there is nothing (new) to search.
    fs::path folderToSearch(const fs::path& folder, int level) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(folder, error);
        if (error) {
            return {};
        }
        if (fs::is_directory(status)) {
            return folder;
        }
        if (!fs::is_symlink(status) || level > m_linkLevels) {
            return {};
        }
        // canonical() fails on a loop of links (ELOOP); a link back to a folder searched
        // already is left, so that no folder is searched twice through links.
        fs::path target = fs::canonical(folder, error);
        if (error || !fs::is_directory(target, error) ||
            !m_followed.insert(target.string()).second) {
            return {};
        }
        return target;
    }

    void search(const fs::path& given, int depth, int level) {
        if (depth < 0) {
            return;
        }
        const fs::path folder = folderToSearch(given, level);
        if (folder.empty()) {
            return;
        }
        std::error_code error;
        std::vector<fs::path> subfolders;
        std::vector<fs::path> files;
        bool simpleCacheFiles = false;
        bool sqlShards = false;
        for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                       error);
             !error && it != fs::directory_iterator(); it.increment(error)) {
            const fs::file_status entryStatus = it->symlink_status(error);
            if (error) {
                break;
            }
            const std::string name = it->path().filename().string();
            if (fs::is_directory(entryStatus) ||
                (fs::is_symlink(entryStatus) && level < m_linkLevels)) {
                subfolders.push_back(it->path());
            } else if (fs::is_regular_file(entryStatus)) {
                simpleCacheFiles = simpleCacheFiles || isHexName(name);
                sqlShards = sqlShards || (isShardName(name) && isSqlite(it->path()));
                files.push_back(it->path());
            }
        }
        const std::string folderName = folder.filename().string();
        const bool chromiumIndex = std::any_of(files.begin(), files.end(), [](const fs::path& f) {
            return f.filename() == "index" && isChromiumIndex(f);
        });
        // SQL shards are enough: a damaged `index` marker must not hide intact shards.
        if (simpleCacheFiles || chromiumIndex || sqlShards) {
            add(SourceLocation::Kind::ChromiumCache, folder);
            return;
        }
        if (folderName == "cache2" &&
            fs::is_directory(fs::symlink_status(folder / "entries", error))) {
            add(SourceLocation::Kind::FirefoxCache, folder);
            return;
        }
        const auto holds = [&files](std::string_view name) {
            return std::any_of(files.begin(), files.end(),
                               [name](const fs::path& f) { return f.filename() == name; });
        };
        if ((holds("_CACHE_MAP_") || holds("_CACHE_001_")) && looksLikeFirefoxOldCache(folder)) {
            add(SourceLocation::Kind::FirefoxOldCache, folder);
            return;
        }
        // The reader takes the indexes of the folders below (revocation/, sesn/) itself.
        if (holds("dcache4.url") && looksLikeOperaCache(folder)) {
            add(SourceLocation::Kind::OperaCache, folder);
            return;
        }
        for (const fs::path& file : files) {
            classifyFile(file);
        }
        std::sort(subfolders.begin(), subfolders.end());
        for (const fs::path& subfolder : subfolders) {
            const std::string name = subfolder.filename().string();
            if (std::find(kSkippedFolders.begin(), kSkippedFolders.end(), name) ==
                kSkippedFolders.end()) {
                search(subfolder, depth - 1, level + 1);
            }
        }
    }

    void add(SourceLocation::Kind kind, const fs::path& path) {
        std::error_code error;
        fs::path canonical = fs::weakly_canonical(path, error);
        if (error) {
            canonical = path;
        }
        if (m_seen.insert(canonical.string()).second) {
            m_found.push_back({kind, canonical});
        }
    }

    std::vector<SourceLocation> m_found;
    std::set<std::string> m_seen;
    std::set<std::string> m_followed;
    int m_linkLevels = 0;
};

// Browser families by their folder names on every platform (a leading dot left off).
constexpr std::array<FamilyFolder, 16> kFamilies = {{
    {"google-chrome", "Google Chrome"},
    {"BraveSoftware", "Brave"},
    {"microsoft-edge", "Microsoft Edge"},
    {"vivaldi", "Vivaldi"},
    {"opera", "Opera"},
    {"yandex-browser", "Yandex Browser"},
    {"thorium", "Thorium"},
    {"cromite", "Cromite"},
    {"chromium", "Chromium"},
    {"librewolf", "LibreWolf"},
    {"waterfox", "Waterfox"},
    {"floorp", "Floorp"},
    {"zen", "Zen"},
    {"moonchild productions", "Pale Moon"},
    {"mullvad-browser", "Mullvad Browser"},
    {"mozilla", "Firefox"},
}};

std::optional<std::string_view> familyOfFolder(std::string_view name) {
    if (!name.empty() && name.front() == '.') {
        name.remove_prefix(1);
    }
    for (const std::span<const FamilyFolder> table :
         {std::span<const FamilyFolder>(kFamilies), platformFamilyFolders()}) {
        const auto found = std::find_if(table.begin(), table.end(),
                                        [name](const FamilyFolder& f) { return name == f.first; });
        if (found != table.end()) {
            return found->second;
        }
    }
    return std::nullopt;
}

// The profile folder sits a fixed number of parts above a source: Chromium's
// <profile>/Cache/Cache_Data, <profile>/Network/Cookies and <profile>/History; Firefox's
// <profile>/cache2 and <profile>/cookies.sqlite.
std::size_t partsAboveProfile(SourceLocation::Kind kind, const std::vector<std::string>& parts) {
    using K = SourceLocation::Kind;
    if (kind == K::ChromiumCache) {
        return !parts.empty() && parts.back() == "Cache_Data" ? 3 : 2;
    }
    if (kind == K::ChromiumCookies && parts.size() >= 2 && parts[parts.size() - 2] == "Network") {
        return 3;
    }
    return 2;
}

void describeBrowserSource(const SourceLocation& source, const std::vector<std::string>& parts,
                           bool chromium, SourceDescription& description) {
    description.family = chromium ? "Chromium" : "Firefox";
    for (const std::string& part : parts) {
        if (const auto family = familyOfFolder(part)) {
            description.family = std::string(*family);
            break;
        }
    }
    if (const std::size_t back = partsAboveProfile(source.kind, parts); parts.size() > back) {
        description.profile = parts[parts.size() - back];
    }
}

// An index.dat: Internet Explorer's, or Wine's inside a prefix; the profile is the user's.
void describeIndexDat(const std::vector<std::string>& parts, SourceDescription& description) {
    const bool wine = std::find(parts.begin(), parts.end(), "drive_c") != parts.end();
    description.family = wine ? "Wine" : "Internet Explorer";
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] == "users" || parts[i] == "Users" || parts[i] == "Documents and Settings") {
            description.profile = parts[i + 1];
        }
    }
}

} // namespace

bool holdsContent(SourceLocation::Kind kind) {
    using K = SourceLocation::Kind;
    switch (kind) {
    case K::ChromiumCookies:
    case K::ChromiumHistory:
    case K::FirefoxCookies:
    case K::FirefoxHistory:
        return false;
    case K::ChromiumCache:
    case K::FirefoxCache:
    case K::FirefoxOldCache:
    case K::OperaCache:
    case K::IndexDat:
        break;
    }
    return true;
}

SourceDescription describeSource(const SourceLocation& source) {
    using K = SourceLocation::Kind;
    SourceDescription description;
    description.folder = source.path.string();
    std::vector<std::string> parts;
    for (const fs::path& part : source.path) {
        parts.push_back(part.string());
    }
    const bool chromium = source.kind == K::ChromiumCache || source.kind == K::ChromiumCookies ||
                          source.kind == K::ChromiumHistory;
    const bool firefox = source.kind == K::FirefoxCache || source.kind == K::FirefoxCookies ||
                         source.kind == K::FirefoxHistory || source.kind == K::FirefoxOldCache;
    if (chromium || firefox) {
        describeBrowserSource(source, parts, chromium, description);
    } else if (source.kind == K::OperaCache) {
        // <profile folder>/cache: ~/.opera, ...\Opera\Opera, a user's folder on an old disk.
        description.family = "Opera";
        if (parts.size() > 1) {
            description.profile = parts[parts.size() - 2];
        }
    } else {
        describeIndexDat(parts, description);
    }
    return description;
}

std::vector<SourceLocation> discoverSources(const UserEnvironment& environment) {
    Finder finder;
    for (const SearchRoot& root : browserRoots(environment)) {
        finder.searchRoot(root.folder, root.depth, root.linkLevels);
    }
    return finder.take();
}

fs::path environmentPath(const char* name) {
    const char* value = std::getenv(name); // NOLINT(concurrency-mt-unsafe): read at start-up
    if (value == nullptr || *value == '\0') {
        return {};
    }
    fs::path path(value);
    return path.is_absolute() ? path : fs::path();
}

std::vector<SourceLocation> sourcesUnder(const fs::path& folder) {
    Finder finder;
    std::error_code error;
    // The user named this path: a link there is followed (to a file too), none inside.
    fs::path named = fs::canonical(folder, error);
    if (error) {
        return {};
    }
    if (fs::is_regular_file(named, error)) {
        finder.classifyFile(named);
    }
    finder.searchRoot(named, kFolderSearchDepth, 0);
    return finder.take();
}

} // namespace sarnika::sources
