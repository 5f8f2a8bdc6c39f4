#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "cache/sources/ExtractionFiles.h"

namespace sarnika::sources {

// Our folder of bodies copied out of browser caches:
//   <root>/<source key>/<entry key>/<name>[1].<ext>
// The entry key is derived from the entry's identity, so a changed entry gets a new folder and
// an unchanged one finds its body already there. Names never collide across entries. Below the
// root no link is ever followed: what is found there is a file of ours or nothing.
class ExtractionStore {
public:
    explicit ExtractionStore(std::filesystem::path root) : m_root(std::move(root)) {}

    // A short stable key of a text: 16 hex digits.
    static std::string keyOf(std::string_view text);
    // The key of the parts' concatenation, without building it.
    static std::string keyOf(std::initializer_list<std::string_view> parts);

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path folderFor(std::string_view sourceKey, std::string_view entryKey) const;

    // The size of an extracted file; nothing when there is no regular file of that name.
    std::optional<std::uint64_t> existingFile(std::string_view sourceKey, std::string_view entryKey,
                                              const std::string& fileName) const;

    // Writes what `produce` gives as the file, whole or not at all: a partial file never takes
    // the final name, and an existing file is left as it is.
    Status write(std::string_view sourceKey, std::string_view entryKey, const std::string& fileName,
                 const extraction::Producer& produce) const;
    // The same for bytes at hand, in a folder given by folderFor.
    Status write(const std::filesystem::path& folder, const std::string& fileName,
                 std::string_view bytes) const;

    // Removes the entry folders of a source that are not kept, and partial files that an
    // interrupted scan left in the kept ones.
    void prune(std::string_view sourceKey, const std::set<std::string>& keptEntryKeys) const;
    // Removes the folders of sources that are not kept.
    void pruneSources(const std::set<std::string>& keptSourceKeys) const;

private:
    std::filesystem::path m_root;
};

} // namespace sarnika::sources
