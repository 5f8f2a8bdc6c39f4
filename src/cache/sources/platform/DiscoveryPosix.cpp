#include <algorithm>
#include <array>
#include <cstdlib>
#include <pwd.h>
#include <string>

#include <unistd.h>

#include "cache/sources/DiscoveryPlatform.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

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

} // namespace

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

std::vector<SearchRoot> browserRoots(const UserEnvironment& environment) {
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
    std::vector<SearchRoot> folders;
    for (const Root& root : roots) {
        for (std::string_view browser : kChromiumFolders) {
            folders.push_back({root.config / browser});
            folders.push_back({root.cache / browser});
        }
        // Opera before 15 (Presto): ~/.opera/cache, ~/.opera-next/cache.
        for (std::string_view browser : {".opera", ".opera-next"}) {
            folders.push_back({root.home / browser});
        }
        for (std::string_view browser : kFirefoxFolders) {
            folders.push_back({root.home / ("." + std::string(browser))});
            folders.push_back({root.config / browser});
            folders.push_back({root.cache / browser});
        }
    }
    for (const fs::path& prefix : environment.winePrefixes) {
        // Wine links the user's folders to the home folder: no link below is followed.
        folders.push_back({prefix / "drive_c" / "users", kFolderSearchDepth, 0});
        folders.push_back({prefix / "drive_c" / "windows" / "profiles", kFolderSearchDepth, 0});
    }
    return folders;
}

std::span<const FamilyFolder> platformFamilyFolders() {
    return {};
}

} // namespace sarnika::sources
