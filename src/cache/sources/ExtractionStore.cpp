#include "cache/sources/ExtractionStore.h"

namespace sarnika::sources {
namespace fs = std::filesystem;

namespace extraction {

bool isKey(std::string_view name) {
    return name.size() == 16 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool isPartialName(std::string_view name) {
    return name.rfind(".partial-", 0) == 0;
}

} // namespace extraction

std::string ExtractionStore::keyOf(std::string_view text) {
    return keyOf({text});
}

std::string ExtractionStore::keyOf(std::initializer_list<std::string_view> parts) {
    // FNV-1a, 64 bits.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::string_view text : parts) {
        for (const char c : text) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 0x100000001b3ULL;
        }
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string key(16, '0');
    for (int i = 15; i >= 0; --i) {
        key[static_cast<std::size_t>(i)] = kDigits[hash & 0xFU];
        hash >>= 4U;
    }
    return key;
}

fs::path ExtractionStore::folderFor(std::string_view sourceKey, std::string_view entryKey) const {
    return m_root / sourceKey / entryKey;
}

std::optional<std::uint64_t> ExtractionStore::existingFile(std::string_view sourceKey,
                                                           std::string_view entryKey,
                                                           const std::string& fileName) const {
    return extraction::regularFileSize(m_root, sourceKey, entryKey, fileName);
}

Status ExtractionStore::write(std::string_view sourceKey, std::string_view entryKey,
                              const std::string& fileName,
                              const extraction::Producer& produce) const {
    if (!extraction::isKey(sourceKey) || !extraction::isKey(entryKey) || fileName.empty() ||
        fileName.find_first_of("/\\") != std::string::npos || fileName == "." || fileName == "..") {
        return makeError(Error::Code::WriteFailed, fileName + ": not a name for our folder");
    }
    return extraction::createFile(m_root, sourceKey, entryKey, fileName, produce);
}

Status ExtractionStore::write(const fs::path& folder, const std::string& fileName,
                              std::string_view bytes) const {
    if (folder.parent_path().parent_path() != m_root) {
        return makeError(Error::Code::WriteFailed,
                         folder.string() + ": outside " + m_root.string());
    }
    return write(folder.parent_path().filename().string(), folder.filename().string(), fileName,
                 [bytes](const extraction::ByteWriter& out) { return out(bytes); });
}

void ExtractionStore::prune(std::string_view sourceKey,
                            const std::set<std::string>& keptEntryKeys) const {
    extraction::removeUnkept(m_root, sourceKey, keptEntryKeys);
}

void ExtractionStore::pruneSources(const std::set<std::string>& keptSourceKeys) const {
    extraction::removeUnkept(m_root, std::nullopt, keptSourceKeys);
}

} // namespace sarnika::sources
