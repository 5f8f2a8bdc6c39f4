#pragma once

#include <filesystem>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/sources/Discovery.h"

// What discovery needs to know of the platform it runs on: where the browsers keep their files
// and what their folders are called. Each platform defines these in its own file under
// platform/; UserEnvironment::current() is defined there too.
namespace sarnika::sources {

// How deep a browser's root folder is searched.
inline constexpr int kDiscoveryDepth = 5;
// How deep a folder that holds whole user folders (one named by the user, a Wine prefix's) is.
inline constexpr int kFolderSearchDepth = 10;
// Links followed below a browser's root folder: the root itself (~/.cache/mozilla), the
// browser's folder (~/.mozilla/firefox) and the profiles in it, as profile-sync tools make them.
inline constexpr int kRootLinkLevels = 2;

// A folder to search for sources, how deep, and through how many levels of symbolic links.
struct SearchRoot {
    std::filesystem::path folder;
    int depth = kDiscoveryDepth;
    int linkLevels = kRootLinkLevels;
};

// The folders of the user's browsers on this platform, in the order they are searched.
std::vector<SearchRoot> browserRoots(const UserEnvironment& environment);

// Browser families by the folder names only this platform's browsers use: {folder, family}.
using FamilyFolder = std::pair<std::string_view, std::string_view>;
std::span<const FamilyFolder> platformFamilyFolders();

// An absolute path from an environment variable; empty when it is unset, empty or relative.
std::filesystem::path environmentPath(const char* name);

} // namespace sarnika::sources
