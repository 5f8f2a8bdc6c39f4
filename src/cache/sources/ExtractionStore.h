#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "cache/Result.h"

namespace sarnika::sources {

// Our folder of bodies copied out of browser caches:
//   <root>/<source key>/<entry key>/<name>[1].<ext>
// The entry key is derived from the entry's identity, so a changed entry gets a new folder and
// an unchanged one finds its body already there. Names never collide across entries.
class ExtractionStore {
public:
    explicit ExtractionStore(std::filesystem::path root) : m_root(std::move(root)) {}

    // A short stable key of a text: 16 hex digits.
    static std::string keyOf(std::string_view text);

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path folderFor(std::string_view sourceKey, std::string_view entryKey) const;

    // Writes the bytes as <folder>/<fileName>, whole or not at all: a partial file never takes
    // the final name, and an existing file is left as it is.
    Status write(const std::filesystem::path& folder, const std::string& fileName,
                 std::string_view bytes) const;

    // Removes the entry folders of a source that are not kept.
    void prune(std::string_view sourceKey, const std::set<std::string>& keptEntryKeys) const;
    // Removes the folders of sources that are not kept.
    void pruneSources(const std::set<std::string>& keptSourceKeys) const;

private:
    std::filesystem::path m_root;
};

} // namespace sarnika::sources
