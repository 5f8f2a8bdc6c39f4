#include "cache/sources/ExtractionStore.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

bool isKey(const std::string& name) {
    return name.size() == 16 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void removeUnkept(const fs::path& folder, const std::set<std::string>& kept) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        // Only folders of our own naming are ever removed.
        if (isKey(name) && !kept.contains(name) && it->is_directory(error) &&
            !it->is_symlink(error)) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

} // namespace

std::string ExtractionStore::keyOf(std::string_view text) {
    // FNV-1a, 64 bits.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
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

Status ExtractionStore::write(const fs::path& folder, const std::string& fileName,
                              std::string_view bytes) const {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return makeError(Error::Code::WriteFailed, folder.string() + ": " + error.message());
    }
    const fs::path target = folder / fileName;
    if (fs::exists(target, error)) {
        return {};
    }
    std::random_device random;
    const fs::path partial = folder / (".partial-" + std::to_string(random()));
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(partial, error);
            return makeError(Error::Code::WriteFailed, target.string() + ": cannot write");
        }
    }
    fs::rename(partial, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return makeError(Error::Code::WriteFailed, target.string() + ": " + error.message());
    }
    return {};
}

void ExtractionStore::prune(std::string_view sourceKey,
                            const std::set<std::string>& keptEntryKeys) const {
    removeUnkept(m_root / sourceKey, keptEntryKeys);
}

void ExtractionStore::pruneSources(const std::set<std::string>& keptSourceKeys) const {
    removeUnkept(m_root, keptSourceKeys);
}

} // namespace sarnika::sources
