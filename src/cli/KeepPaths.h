#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sarnika::cli {

// Where `save-all --keep-paths` puts a movie: <host>/<folders of the URL path>/<name>, every
// part safe as a file name on Linux and Windows alike, never leaving the chosen folder.
struct KeptPath {
    std::vector<std::string> folders; // the host part first
    std::string stem;
    std::string extension; // without the dot
    std::string query;     // the URL's query as given, without "?"; kept out of the path

    std::filesystem::path folder() const;
    // stem.extension for 0, stem-1.extension for 1, and so on.
    std::string fileName(unsigned counter) const;
    // Drops the deepest folders, then shortens the stem, until folder() / fileName(counter)
    // takes at most maxBytes for any counter of up to 6 digits. The host and the extension stay.
    void fitInto(std::size_t maxBytes);
};

// For a movie: its name with ".swf" added unless it ends so.
KeptPath keptPathOf(std::string_view url);
// For another file of a site: its own name, or the name and `fallbackExtension` (the one the
// stored file got from its type) when it has no extension, as "index.html" for a folder's URL.
KeptPath keptSitePathOf(std::string_view url, std::string_view fallbackExtension);

// One path part made safe: reserved and control characters become "_", as do trailing dots
// and blanks; device names of Windows get a "_" in front; the length is capped.
std::string safePathPart(std::string_view part);

} // namespace sarnika::cli
