#include "cache/sources/Discovery.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "base/Text.h"
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

// Names on a disk that Windows or macOS wrote may differ in case from the usual spelling.
bool sameName(std::string_view a, std::string_view b) {
    return equalsIgnoringAsciiCase(a, b);
}

std::string nameOf(const fs::path& path) {
    return path.filename().string();
}

// Content.IE5 (Internet Explorer 5 to 9, and 10 and 11 beside WebCacheV01.dat), or INetCache/IE
// and INetCache/Low/IE (Windows 8.1 and later).
bool isIeContentFolder(const fs::path& folder) {
    const fs::path parent = folder.parent_path();
    return sameName(nameOf(folder), "Content.IE5") ||
           (sameName(nameOf(folder), "IE") &&
            (sameName(nameOf(parent), "INetCache") ||
             (sameName(nameOf(parent), "Low") &&
              sameName(nameOf(parent.parent_path()), "INetCache"))));
}

// Safari's folder: com.apple.Safari on macOS, Apple Computer/Safari on Windows.
bool isSafariFolder(const fs::path& folder) {
    return sameName(nameOf(folder), "com.apple.Safari") ||
           (sameName(nameOf(folder), "Safari") &&
            sameName(nameOf(folder.parent_path()), "Apple Computer"));
}

std::vector<std::string> partsOf(const fs::path& path) {
    std::vector<std::string> parts;
    for (const fs::path& part : path) {
        parts.push_back(part.string());
    }
    return parts;
}

// The user whose home holds `parts`, by the folder the homes are in: Users (Windows Vista and
// later, macOS), Documents and Settings (Windows 2000 and XP), home (Linux) and a Wine prefix's
// drive_c/users. The innermost one counts: a Wine prefix inside a Linux home is the Wine user's.
std::string userFromLayout(const std::vector<std::string>& parts) {
    std::string user;
    for (std::size_t i = 0; i + 2 < parts.size(); ++i) {
        const std::string& name = parts[i];
        const std::string& next = parts[i + 1];
        if ((sameName(name, "Users") || sameName(name, "Documents and Settings") ||
             sameName(name, "home")) &&
            !next.empty() && next.front() != '.') {
            user = next;
        }
    }
    return user;
}

// Whose source this is: the Wine user inside a prefix, else `given`, else what the path tells.
std::string userOf(const fs::path& path, const std::string& given) {
    const std::vector<std::string> parts = partsOf(path);
    for (std::size_t i = parts.size(); i-- > 0;) {
        if (i + 3 < parts.size() && sameName(parts[i], "drive_c") &&
            sameName(parts[i + 1], "users")) {
            return parts[i + 2];
        }
    }
    return given.empty() ? userFromLayout(parts) : given;
}

class Finder {
public:
    // The user that the sources found from now on belong to, when their path does not tell.
    void setUser(std::string user) { m_user = std::move(user); }

    // A folder that exists but could not be listed: skipped, and told once.
    void noteUnreadable(const fs::path& folder, const std::error_code& error) {
        if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
            return;
        }
        if (m_unreadableSeen.insert(folder.string()).second) {
            m_unreadable.push_back(folder);
        }
    }
    std::vector<fs::path> takeUnreadable() { return std::move(m_unreadable); }

    // Searches a folder the user named or a browser's root folder. A symbolic link there, and
    // in the `linkLevels` levels below it (the profiles that sync tools move elsewhere), is
    // followed; links further down, inside profiles and caches, never are.
    void searchRoot(const fs::path& folder, int depth, int linkLevels) {
        m_linkLevels = linkLevels;
        search(folder, depth, 0);
    }

    std::vector<SourceLocation> take() { return std::move(m_found); }
    bool foundAny() const { return !m_found.empty(); }

    void classifyFile(const fs::path& file) {
        const std::string name = nameOf(file);
        if (name == "Cookies" && isSqlite(file)) {
            add(SourceLocation::Kind::ChromiumCookies, file);
        } else if (name == "History" && isSqlite(file)) {
            add(SourceLocation::Kind::ChromiumHistory, file);
        } else if (name == "cookies.sqlite" && isSqlite(file)) {
            add(SourceLocation::Kind::FirefoxCookies, file);
        } else if (name == "places.sqlite" && isSqlite(file)) {
            add(SourceLocation::Kind::FirefoxHistory, file);
        } else if (sameName(name, "index.dat") && isIndexDat(file)) {
            add(SourceLocation::Kind::IndexDat, file);
        } else if (sameName(name, "WebCacheV01.dat")) {
            add(SourceLocation::Kind::WebCache, file);
        } else if (sameName(name, "Cache.db") && isSafariFolder(file.parent_path())) {
            add(SourceLocation::Kind::SafariCache, file);
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
        // Kinds come from the listing where the file system gives them: a Chromium cache
        // folder holds many thousands of files, and one of them is enough to tell it.
        for (fs::directory_iterator it(folder, error);
             !error && !simpleCacheFiles && it != fs::directory_iterator(); it.increment(error)) {
            const bool link = it->is_symlink(error);
            const bool directory = !error && !link && it->is_directory(error);
            const bool regular = !error && !link && !directory && it->is_regular_file(error);
            if (error) {
                break;
            }
            if (directory || (link && level < m_linkLevels)) {
                subfolders.push_back(it->path());
            } else if (regular) {
                const std::string name = it->path().filename().string();
                simpleCacheFiles = isHexName(name);
                sqlShards = sqlShards || (isShardName(name) && isSqlite(it->path()));
                files.push_back(it->path());
            }
        }
        if (error) {
            noteUnreadable(folder, error);
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
        // The folders below hold the cached files themselves, nothing to search.
        if (isIeContentFolder(folder)) {
            const auto index = std::find_if(files.begin(), files.end(), [](const fs::path& f) {
                return sameName(nameOf(f), "index.dat") && isIndexDat(f);
            });
            if (index != files.end()) {
                add(SourceLocation::Kind::IndexDat, *index);
            } else {
                add(SourceLocation::Kind::IeContentFolders, folder);
            }
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
            std::string user = userOf(canonical, m_user);
            m_found.push_back({kind, std::move(canonical), std::move(user)});
        }
    }

    std::vector<SourceLocation> m_found;
    std::string m_user;
    std::vector<fs::path> m_unreadable;
    std::set<std::string> m_unreadableSeen;
    std::set<std::string> m_seen;
    std::set<std::string> m_followed;
    int m_linkLevels = 0;
};

// Browser families by their folder names on every system (a leading dot left off, case
// ignored): a disk from Windows or macOS may be read anywhere.
constexpr std::array<FamilyFolder, 31> kFamilies = {{
    {"google-chrome", "Google Chrome"},
    {"Chrome", "Google Chrome"},
    {"Chrome Beta", "Google Chrome"},
    {"Chrome SxS", "Google Chrome"},
    {"Chrome Canary", "Google Chrome"},
    {"BraveSoftware", "Brave"},
    {"Brave-Browser", "Brave"},
    {"microsoft-edge", "Microsoft Edge"},
    {"Edge", "Microsoft Edge"},
    {"Microsoft Edge", "Microsoft Edge"},
    {"vivaldi", "Vivaldi"},
    {"opera", "Opera"},
    {"Opera Software", "Opera"},
    {"com.operasoftware.Opera", "Opera"},
    {"yandex-browser", "Yandex Browser"},
    {"YandexBrowser", "Yandex Browser"},
    {"thorium", "Thorium"},
    {"cromite", "Cromite"},
    {"chromium", "Chromium"},
    {"librewolf", "LibreWolf"},
    {"waterfox", "Waterfox"},
    {"floorp", "Floorp"},
    {"zen", "Zen"},
    {"moonchild productions", "Pale Moon"},
    {"Pale Moon", "Pale Moon"},
    {"mullvad-browser", "Mullvad Browser"},
    {"MullvadBrowser", "Mullvad Browser"},
    {"SeaMonkey", "SeaMonkey"},
    {"icecat", "IceCat"},
    {"firefox", "Firefox"},
    {"mozilla", "Firefox"},
}};

std::optional<std::string_view> familyOfFolder(std::string_view name) {
    if (!name.empty() && name.front() == '.') {
        name.remove_prefix(1);
    }
    for (const std::span<const FamilyFolder> table :
         {std::span<const FamilyFolder>(kFamilies), platformFamilyFolders()}) {
        const auto found = std::find_if(table.begin(), table.end(), [name](const FamilyFolder& f) {
            return sameName(name, f.first);
        });
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
    const std::size_t back = partsAboveProfile(source.kind, parts);
    // The innermost browser folder above the profile names it: Mozilla/SeaMonkey is SeaMonkey.
    for (std::size_t i = parts.size() > back ? parts.size() - back : 0; i-- > 0;) {
        if (const auto family = familyOfFolder(parts[i])) {
            description.family = std::string(*family);
            break;
        }
    }
    if (parts.size() > back) {
        description.profile = parts[parts.size() - back];
    }
}

// Internet Explorer's caches, or Wine's inside a prefix; the profile is the Windows user.
void describeIndexDat(const std::vector<std::string>& parts, SourceDescription& description) {
    const bool wine = std::find(parts.begin(), parts.end(), "drive_c") != parts.end();
    description.family = wine ? "Wine" : "Internet Explorer";
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] == "users" || parts[i] == "Users" || parts[i] == "Documents and Settings") {
            description.profile = parts[i + 1];
        }
    }
}

// Where browsers keep their files below a user's home, in the layouts of Windows Vista to 11,
// Windows 2000 and XP, macOS and Linux ("" is the home itself, for the dot folders and XP's
// Cookies). Every part is matched without regard to case.
constexpr std::array<std::string_view, 11> kDataFolders = {
    "",
    "AppData/Local",
    "AppData/LocalLow",
    "AppData/Roaming",
    "Local Settings/Application Data",
    "Local Settings",
    "Application Data",
    "Library/Caches",
    "Library/Application Support",
    ".cache",
    ".config",
};

// The browsers' own folders in those data folders, over the years. Each is searched
// kDiscoveryDepth levels deep.
constexpr std::array<std::string_view, 54> kBrowserFolders = {
    // Chromium family
    "Google/Chrome",
    "Google/Chrome Beta",
    "Google/Chrome SxS",
    "Google/Chrome Canary",
    "Chromium",
    "chromium-browser",
    "google-chrome",
    "google-chrome-beta",
    "google-chrome-unstable",
    "BraveSoftware",
    "Microsoft/Edge",
    "Microsoft Edge",
    "microsoft-edge",
    "microsoft-edge-beta",
    "microsoft-edge-dev",
    "Vivaldi",
    "vivaldi-snapshot",
    "Opera Software",
    "com.operasoftware.Opera",
    "com.operasoftware.OperaNext",
    "opera-beta",
    "opera-developer",
    "Yandex/YandexBrowser",
    "yandex-browser",
    "yandex-browser-beta",
    "thorium",
    // Opera 7 to 12 (cache4, opcache, cache), and the Linux folder of the later ones
    "Opera",
    "Opera Next",
    ".opera",
    ".opera-next",
    // Firefox family; Mozilla holds Firefox and SeaMonkey
    "Mozilla",
    ".mozilla",
    "Firefox",
    "SeaMonkey",
    "Moonchild Productions",
    ".moonchild productions",
    "Pale Moon",
    "Waterfox",
    ".waterfox",
    "librewolf",
    ".librewolf",
    "floorp",
    ".floorp",
    // Internet Explorer and WinINet
    "Microsoft/Windows/Temporary Internet Files",
    "Microsoft/Windows/INetCache",
    "Microsoft/Windows/WebCache",
    "Microsoft/Windows/History",
    "Microsoft/Windows/Cookies",
    "Microsoft/Windows/INetCookies",
    "Temporary Internet Files",
    "History",
    "Cookies",
    // Safari
    "Apple Computer/Safari",
    "com.apple.Safari",
};

// Wine prefixes below a home: the default one, and folders of prefixes made by Wine front ends.
constexpr std::array<std::string_view, 1> kWinePrefixes = {".wine"};
constexpr std::array<std::string_view, 3> kWinePrefixFolders = {
    ".local/share/wineprefixes",
    ".PlayOnLinux/wineprefix",
    ".var/app/com.usebottles.bottles/data/bottles/bottles",
};

// A folder's subfolders that hold the homes of users, matched without regard to case.
constexpr std::array<std::string_view, 5> kHomesFolders = {
    "Users", "Documents and Settings", "home", "drive_c/users", "drive_c/windows/profiles",
};

// Folders of which one in a folder makes it a user's home.
constexpr std::array<std::string_view, 9> kHomeMarkers = {
    "AppData", "Local Settings", "Application Data", "Library", ".cache",
    ".config", ".mozilla",       ".opera",           ".wine",
};

// The known places of the users' homes under a disk's root, a folder of homes or one home:
// only the browsers' folders are searched, never the whole disk. Links are never followed.
class PlaceSearch {
public:
    explicit PlaceSearch(Finder& finder) : m_finder(finder) {}

    // The homes below `folder` with their users; empty when it is neither a disk's root (or a
    // Wine prefix, or its drive_c), a folder of homes nor a home.
    std::vector<std::pair<fs::path, std::string>> homesIn(const fs::path& folder,
                                                          bool& singleHome) {
        std::vector<std::pair<fs::path, std::string>> homes;
        singleHome = false;
        std::vector<fs::path> homeFolders;
        const std::string name = nameOf(folder);
        if (sameName(name, "Users") || sameName(name, "Documents and Settings") ||
            sameName(name, "home")) {
            homeFolders.push_back(folder);
        }
        for (std::string_view relative : kHomesFolders) {
            for (fs::path& found : resolve(folder, relative)) {
                homeFolders.push_back(std::move(found));
            }
        }
        for (const fs::path& homeFolder : homeFolders) {
            for (const fs::path& home : listing(homeFolder)) {
                homes.emplace_back(home, nameOf(home));
            }
        }
        if (homes.empty() &&
            std::any_of(kHomeMarkers.begin(), kHomeMarkers.end(), [&](std::string_view marker) {
                return !resolve(folder, marker).empty();
            })) {
            homes.emplace_back(folder, name);
            singleHome = true;
        }
        return homes;
    }

    void searchHome(const fs::path& home, const std::string& user, bool withWine) {
        m_finder.setUser(user);
        for (std::string_view data : kDataFolders) {
            for (const fs::path& dataFolder : resolve(home, data)) {
                for (std::string_view browser : kBrowserFolders) {
                    for (const fs::path& root : resolve(dataFolder, browser)) {
                        m_finder.searchRoot(root, kDiscoveryDepth, 0);
                    }
                }
            }
        }
        if (!withWine) {
            return;
        }
        std::vector<fs::path> prefixes;
        for (std::string_view relative : kWinePrefixes) {
            for (fs::path& prefix : resolve(home, relative)) {
                prefixes.push_back(std::move(prefix));
            }
        }
        for (std::string_view relative : kWinePrefixFolders) {
            for (const fs::path& folder : resolve(home, relative)) {
                const std::vector<fs::path>& inside = listing(folder);
                prefixes.insert(prefixes.end(), inside.begin(), inside.end());
            }
        }
        for (const fs::path& prefix : prefixes) {
            for (std::string_view relative : {"drive_c/users", "drive_c/windows/profiles"}) {
                for (const fs::path& users : resolve(prefix, relative)) {
                    // Copied, since searching a home may list more folders.
                    const std::vector<fs::path> wineHomes = listing(users);
                    for (const fs::path& wineHome : wineHomes) {
                        searchHome(wineHome, nameOf(wineHome), false);
                    }
                }
            }
        }
    }

private:
    // The subfolders of a folder, links left out, sorted; each folder is listed once.
    const std::vector<fs::path>& listing(const fs::path& folder) {
        const auto known = m_listings.find(folder.string());
        if (known != m_listings.end()) {
            return known->second;
        }
        std::vector<fs::path> subfolders;
        std::error_code error;
        for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
             it.increment(error)) {
            const fs::file_status status = it->symlink_status(error);
            if (!error && fs::is_directory(status)) {
                subfolders.push_back(it->path());
            }
        }
        if (error) {
            m_finder.noteUnreadable(folder, error);
        }
        std::sort(subfolders.begin(), subfolders.end());
        return m_listings.emplace(folder.string(), std::move(subfolders)).first->second;
    }

    // The folders below `base` along `relative` ("a/b"), each part matched without regard to
    // case: on a disk from Windows, "Application Data" may be "APPLICATION DATA".
    std::vector<fs::path> resolve(const fs::path& base, std::string_view relative) {
        std::vector<fs::path> current = {base};
        while (!relative.empty() && !current.empty()) {
            const std::size_t slash = relative.find('/');
            const std::string_view part = relative.substr(0, slash);
            relative =
                slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
            std::vector<fs::path> next;
            for (const fs::path& folder : current) {
                for (const fs::path& child : listing(folder)) {
                    if (sameName(nameOf(child), part)) {
                        next.push_back(child);
                    }
                }
            }
            current = std::move(next);
        }
        return current;
    }

    Finder& m_finder;
    std::map<std::string, std::vector<fs::path>> m_listings;
};

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
    case K::WebCache:
    case K::IeContentFolders:
    case K::SafariCache:
        break;
    }
    return true;
}

SourceDescription describeSource(const SourceLocation& source) {
    using K = SourceLocation::Kind;
    SourceDescription description;
    description.folder = source.path.string();
    const std::vector<std::string> parts = partsOf(source.path);
    description.user = source.user.empty() ? userFromLayout(parts) : source.user;
    const bool chromium = source.kind == K::ChromiumCache || source.kind == K::ChromiumCookies ||
                          source.kind == K::ChromiumHistory;
    const bool firefox = source.kind == K::FirefoxCache || source.kind == K::FirefoxCookies ||
                         source.kind == K::FirefoxHistory || source.kind == K::FirefoxOldCache;
    if (chromium || firefox) {
        describeBrowserSource(source, parts, chromium, description);
    } else if (source.kind == K::OperaCache) {
        // One profile per user: the folder above the cache says nothing more ("profile",
        // "Opera", ".opera"), but Opera Next kept its own.
        const bool next = std::any_of(parts.begin(), parts.end(), [](const std::string& part) {
            return sameName(part, "Opera Next") || sameName(part, ".opera-next");
        });
        description.family = next ? "Opera Next" : "Opera";
    } else if (source.kind == K::SafariCache) {
        description.family = "Safari";
    } else {
        describeIndexDat(parts, description);
    }
    return description;
}

std::vector<SourceLocation> discoverSources(const UserEnvironment& environment) {
    Finder finder;
    finder.setUser(environment.userName);
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

std::vector<SourceLocation> sourcesUnder(const fs::path& folder,
                                         std::vector<fs::path>* unreadable) {
    Finder finder;
    std::error_code error;
    // The user named this path: a link there is followed (to a file too), none inside.
    fs::path named = fs::canonical(folder, error);
    if (error) {
        return {};
    }
    if (fs::is_regular_file(named, error)) {
        finder.classifyFile(named);
    } else {
        PlaceSearch places(finder);
        bool singleHome = false;
        const auto homes = places.homesIn(named, singleHome);
        for (const auto& [home, user] : homes) {
            places.searchHome(home, user, true);
        }
        // Any other folder, and a home whose browsers keep their files elsewhere, is searched
        // as a whole, a few levels deep.
        if (homes.empty() || (singleHome && !finder.foundAny())) {
            finder.setUser(singleHome ? nameOf(named) : std::string());
            finder.searchRoot(named, kFolderSearchDepth, 0);
        }
    }
    if (unreadable != nullptr) {
        *unreadable = finder.takeUnreadable();
    }
    return finder.take();
}

} // namespace sarnika::sources
