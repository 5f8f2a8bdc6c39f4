#include <array>
#include <cstdlib>
#include <string>

#include "cache/sources/DiscoveryPlatform.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

// Browser folders under %LOCALAPPDATA% (caches) and %APPDATA% (Firefox profiles, Opera).
constexpr std::array<std::string_view, 18> kWindowsBrowserFolders = {
    "Google/Chrome",
    "Google/Chrome Beta",
    "Google/Chrome SxS",
    "Chromium",
    "BraveSoftware",
    "Microsoft/Edge",
    "Vivaldi",
    "Opera Software",
    "Opera", // Opera 9 to 12 (Presto): Opera\Opera\cache
    "Yandex/YandexBrowser",
    "Thorium",
    "Mozilla/Firefox",
    "librewolf",
    "Waterfox",
    "Floorp",
    "Moonchild Productions",
    "Mullvad/MullvadBrowser",
    "Apple Computer/Safari",
};

} // namespace

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

std::vector<SearchRoot> browserRoots(const UserEnvironment& environment) {
    std::vector<SearchRoot> folders;
    for (std::string_view browser : kWindowsBrowserFolders) {
        const fs::path relative = fs::path(std::string(browser)).make_preferred();
        if (!environment.cacheHome.empty()) {
            folders.push_back({environment.cacheHome / relative});
        }
        if (!environment.configHome.empty()) {
            folders.push_back({environment.configHome / relative});
        }
    }
    return folders;
}

std::span<const FamilyFolder> platformFamilyFolders() {
    return {};
}

} // namespace sarnika::sources
