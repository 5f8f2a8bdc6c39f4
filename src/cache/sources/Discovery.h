#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sarnika::sources {

// One file or folder that holds entries of one kind.
struct SourceLocation {
    enum class Kind {
        ChromiumCache,    // a folder of Chromium cache files (simple, blockfile or SQL backend)
        ChromiumCookies,  // a Chromium Cookies database
        ChromiumHistory,  // a Chromium History database
        FirefoxCache,     // a Firefox cache2 folder
        FirefoxCookies,   // cookies.sqlite
        FirefoxHistory,   // places.sqlite
        IndexDat,         // a WinINet index.dat (Internet Explorer, Wine)
        FirefoxOldCache,  // a Firefox cache folder of the years before cache2 (_CACHE_MAP_)
        OperaCache,       // an Opera cache folder of the Presto years (dcache4.url)
        WebCache,         // Internet Explorer 10 and 11's WebCacheV01.dat
        IeContentFolders, // a Content.IE5 or INetCache/IE folder whose index.dat is gone
        SafariCache,      // Safari's Cache.db (com.apple.Safari, or Apple Computer/Safari)
    };
    Kind kind;
    std::filesystem::path path;
    // Whose files these are: the user folder's name on another machine's disk, the current
    // user's name for the user's own browsers; empty when the folder does not tell.
    std::string user{};

    friend bool operator==(const SourceLocation&, const SourceLocation&) = default;
};

// Whether a source holds cached files (a cache or an index.dat), not cookies or history alone.
bool holdsContent(SourceLocation::Kind kind);

// Who wrote a source, for people: "Chromium" / "Default" / the folder.
struct SourceDescription {
    std::string family;  // "Chromium", "Google Chrome", "Firefox", "Internet Explorer", "Wine", ...
    std::string profile; // the browser profile or the Windows user; empty when unknown
    std::string folder;  // the cache folder or the database
    std::string user{};  // the user whose files these are; empty when unknown
};
SourceDescription describeSource(const SourceLocation& source);

// Where the current user's files are, by the platform's conventions.
struct UserEnvironment {
    std::filesystem::path home;
    std::filesystem::path configHome; // $XDG_CONFIG_HOME or ~/.config
    std::filesystem::path cacheHome;  // $XDG_CACHE_HOME or ~/.cache
    std::vector<std::filesystem::path> winePrefixes;
    std::string userName;

    // From HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, WINEPREFIX and USER.
    static UserEnvironment current();
};

// The caches, cookie stores and histories of the user's browsers that exist on disk. A browser's
// root folder, its browser folder and its profiles may be symbolic links (as profile-sync tools
// make them); links deeper down are not followed.
std::vector<SourceLocation> discoverSources(const UserEnvironment& environment);

// Every source found inside a folder (a cache folder itself, a copied profile, a home folder, a
// Wine prefix, the root of another machine's disk). `folder` may be a symbolic link; links
// inside it are not followed. A disk's root, a folder of homes (Users, Documents and Settings,
// home) and a single home are searched only where browsers keep their files; any other folder
// is searched a few levels deep. Folders that cannot be read are skipped and, when
// `unreadable` is given, added to it once each.
std::vector<SourceLocation> sourcesUnder(const std::filesystem::path& folder,
                                         std::vector<std::filesystem::path>* unreadable = nullptr);

} // namespace sarnika::sources
