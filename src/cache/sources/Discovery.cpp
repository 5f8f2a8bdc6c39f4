#include "cache/sources/Discovery.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>
#include <string_view>

#ifndef _WIN32
#include <pwd.h>

#include <unistd.h>
#endif

#include "cache/sources/FileAccess.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

constexpr int kDiscoveryDepth = 5;
constexpr int kFolderSearchDepth = 10;
// Links followed below a browser's root folder: the root itself (~/.cache/mozilla), the
// browser's folder (~/.mozilla/firefox) and the profiles in it, as profile-sync tools make them.
constexpr int kRootLinkLevels = 2;

#ifndef _WIN32
// Chromium-family browsers, by their folder under the configuration and cache folders.
constexpr std::array<std::string_view, 20> kChromiumFolders = {
    "chromium",
    "chromium-browser",
    "google-chrome",
    "google-chrome-beta",
    "google-chrome-unstable",
    "google-chrome-for-testing",
    "BraveSoftware",
    "microsoft-edge",
    "microsoft-edge-beta",
    "microsoft-edge-dev",
    "vivaldi",
    "vivaldi-snapshot",
    "opera",
    "opera-beta",
    "opera-developer",
    "yandex-browser",
    "yandex-browser-beta",
    "thorium",
    "cromite",
    "ungoogled-chromium",
};

// Firefox-family browsers: their profile roots under the home folder (with the dot) and the
// matching folders under the configuration and cache folders (without it).
constexpr std::array<std::string_view, 8> kFirefoxFolders = {
    "mozilla",         "librewolf", "waterfox", "floorp", "zen", "moonchild productions",
    "mullvad-browser", "icecat",
};
#endif

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

fs::path environmentPath(const char* name) {
    const char* value = std::getenv(name); // NOLINT(concurrency-mt-unsafe): read at start-up
    if (value == nullptr || *value == '\0') {
        return {};
    }
    fs::path path(value);
    return path.is_absolute() ? path : fs::path();
}

#ifdef _WIN32
// Browser folders under %LOCALAPPDATA% (caches) and %APPDATA% (Firefox profiles, Opera).
constexpr std::array<std::string_view, 16> kWindowsBrowserFolders = {
    "Google/Chrome",
    "Google/Chrome Beta",
    "Google/Chrome SxS",
    "Chromium",
    "BraveSoftware",
    "Microsoft/Edge",
    "Vivaldi",
    "Opera Software",
    "Yandex/YandexBrowser",
    "Thorium",
    "Mozilla/Firefox",
    "librewolf",
    "Waterfox",
    "Floorp",
    "Moonchild Productions",
    "Mullvad/MullvadBrowser",
};
#endif

#ifndef _WIN32
std::vector<fs::path> subfoldersOf(const fs::path& folder) {
    std::vector<fs::path> result;
    std::error_code error;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) {
            result.push_back(it->path());
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}
#endif

} // namespace

SourceDescription describeSource(const SourceLocation& source) {
    using K = SourceLocation::Kind;
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 16> kFamilies = {{
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
#ifdef _WIN32
    // The same browsers under their Windows folder names.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 12>
        kWindowsFamilies = {{
            {"Chrome", "Google Chrome"},
            {"Chrome Beta", "Google Chrome"},
            {"Chrome SxS", "Google Chrome"},
            {"Brave-Browser", "Brave"},
            {"Edge", "Microsoft Edge"},
            {"Vivaldi", "Vivaldi"},
            {"Opera Software", "Opera"},
            {"YandexBrowser", "Yandex Browser"},
            {"Waterfox", "Waterfox"},
            {"Floorp", "Floorp"},
            {"Moonchild Productions", "Pale Moon"},
            {"Mozilla", "Firefox"},
        }};
#endif
    SourceDescription description;
    description.folder = source.path.string();
    std::vector<std::string> parts;
    for (const fs::path& part : source.path) {
        parts.push_back(part.string());
    }
    const bool chromium = source.kind == K::ChromiumCache || source.kind == K::ChromiumCookies ||
                          source.kind == K::ChromiumHistory;
    const bool firefox = source.kind == K::FirefoxCache || source.kind == K::FirefoxCookies ||
                         source.kind == K::FirefoxHistory;
    if (chromium || firefox) {
        description.family = chromium ? "Chromium" : "Firefox";
        for (const std::string& part : parts) {
            std::string name = part;
            if (!name.empty() && name.front() == '.') {
                name.erase(0, 1);
            }
            const auto* const family = std::find_if(kFamilies.begin(), kFamilies.end(),
                                                    [&](const auto& f) { return name == f.first; });
            if (family != kFamilies.end()) {
                description.family = std::string(family->second);
                break;
            }
#ifdef _WIN32
            const auto* const windowsFamily =
                std::find_if(kWindowsFamilies.begin(), kWindowsFamilies.end(),
                             [&](const auto& f) { return name == f.first; });
            if (windowsFamily != kWindowsFamilies.end()) {
                description.family = std::string(windowsFamily->second);
                break;
            }
#endif
        }
        // Chromium: <profile>/Cache/Cache_Data, <profile>/Network/Cookies, <profile>/History.
        // Firefox: <profile>/cache2, <profile>/cookies.sqlite.
        const std::size_t back = source.kind == K::ChromiumCache
                                     ? (!parts.empty() && parts.back() == "Cache_Data" ? 3 : 2)
                                 : source.kind == K::ChromiumCookies && parts.size() >= 2 &&
                                         parts[parts.size() - 2] == "Network"
                                     ? 3
                                     : 2;
        if (parts.size() > back) {
            description.profile = parts[parts.size() - back];
        }
        return description;
    }
    const bool wine = std::find(parts.begin(), parts.end(), "drive_c") != parts.end();
    description.family = wine ? "Wine" : "Internet Explorer";
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] == "users" || parts[i] == "Users" || parts[i] == "Documents and Settings") {
            description.profile = parts[i + 1];
        }
    }
    return description;
}

#ifdef _WIN32
// Windows: the profile folder, %APPDATA% (roaming) and %LOCALAPPDATA%; the window's own
// extractions go under %LOCALAPPDATA%\sarnika. Wine prefixes are a matter of the Linux side.
UserEnvironment UserEnvironment::current() {
    UserEnvironment environment;
    environment.home = environmentPath("USERPROFILE");
    environment.configHome = environmentPath("APPDATA");
    environment.cacheHome = environmentPath("LOCALAPPDATA");
    if (environment.cacheHome.empty() && !environment.home.empty()) {
        environment.cacheHome = environment.home / "AppData" / "Local";
    }
    if (environment.configHome.empty() && !environment.home.empty()) {
        environment.configHome = environment.home / "AppData" / "Roaming";
    }
    const char* user = std::getenv("USERNAME"); // NOLINT(concurrency-mt-unsafe): read at start-up
    environment.userName = user != nullptr && *user != '\0' ? user : "user";
    return environment;
}

std::vector<SourceLocation> discoverSources(const UserEnvironment& environment) {
    Finder finder;
    for (std::string_view browser : kWindowsBrowserFolders) {
        const fs::path relative = fs::path(std::string(browser)).make_preferred();
        if (!environment.cacheHome.empty()) {
            finder.searchRoot(environment.cacheHome / relative, kDiscoveryDepth, kRootLinkLevels);
        }
        if (!environment.configHome.empty()) {
            finder.searchRoot(environment.configHome / relative, kDiscoveryDepth, kRootLinkLevels);
        }
    }
    return finder.take();
}
#else
UserEnvironment UserEnvironment::current() {
    UserEnvironment environment;
    environment.home = environmentPath("HOME");
    if (environment.home.empty()) {
        passwd entry{};
        passwd* found = nullptr;
        std::array<char, 4096> buffer{};
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && entry.pw_dir != nullptr) {
            environment.home = entry.pw_dir;
        }
    }
    environment.configHome = environmentPath("XDG_CONFIG_HOME");
    if (environment.configHome.empty()) {
        environment.configHome = environment.home / ".config";
    }
    environment.cacheHome = environmentPath("XDG_CACHE_HOME");
    if (environment.cacheHome.empty()) {
        environment.cacheHome = environment.home / ".cache";
    }
    environment.winePrefixes.push_back(environment.home / ".wine");
    if (fs::path prefix = environmentPath("WINEPREFIX"); !prefix.empty()) {
        environment.winePrefixes.push_back(std::move(prefix));
    }
    const char* user = std::getenv("USER"); // NOLINT(concurrency-mt-unsafe): read at start-up
    environment.userName = user != nullptr && *user != '\0' ? user : "user";
    return environment;
}

std::vector<SourceLocation> discoverSources(const UserEnvironment& environment) {
    Finder finder;
    // Roots that stand in for a home folder: the real one, and those of sandboxed packages.
    struct Root {
        fs::path home;
        fs::path config;
        fs::path cache;
    };
    std::vector<Root> roots = {{environment.home, environment.configHome, environment.cacheHome}};
    for (const fs::path& app : subfoldersOf(environment.home / ".var" / "app")) {
        roots.push_back({app, app / "config", app / "cache"});
    }
    for (const fs::path& snap : subfoldersOf(environment.home / "snap")) {
        roots.push_back({snap / "common", snap / "common", snap / "common" / ".cache"});
        roots.push_back({snap / "current", snap / "current", snap / "current" / ".cache"});
    }
    for (const Root& root : roots) {
        for (std::string_view browser : kChromiumFolders) {
            finder.searchRoot(root.config / browser, kDiscoveryDepth, kRootLinkLevels);
            finder.searchRoot(root.cache / browser, kDiscoveryDepth, kRootLinkLevels);
        }
        for (std::string_view browser : kFirefoxFolders) {
            finder.searchRoot(root.home / ("." + std::string(browser)), kDiscoveryDepth,
                              kRootLinkLevels);
            finder.searchRoot(root.config / browser, kDiscoveryDepth, kRootLinkLevels);
            finder.searchRoot(root.cache / browser, kDiscoveryDepth, kRootLinkLevels);
        }
    }
    for (const fs::path& prefix : environment.winePrefixes) {
        // Wine links the user's folders to the home folder: no link below is followed.
        finder.searchRoot(prefix / "drive_c" / "users", kFolderSearchDepth, 0);
        finder.searchRoot(prefix / "drive_c" / "windows" / "profiles", kFolderSearchDepth, 0);
    }
    return finder.take();
}
#endif

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
