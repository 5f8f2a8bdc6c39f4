#include "cache/sources/firefox/FirefoxOldCache.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A cache folder whose map holds only its header, so that the block file is searched; removed
// when the fuzzer exits.
struct CacheFolder {
    CacheFolder()
        : path(fs::temp_directory_path() /
               ("sarnika-fuzz-oldcache-" + std::to_string(std::random_device()()))) {
        fs::create_directories(path);
        std::string map(276, '\0');
        map[1] = 1; // version 1.19
        map[3] = 0x13;
        map[12 + 3] = 1; // dirty
        writeFile(path / "_CACHE_MAP_", map);
    }
    ~CacheFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    CacheFolder(const CacheFolder&) = delete;
    CacheFolder& operator=(const CacheFolder&) = delete;
    fs::path path;
};

const fs::path& cacheFolder() {
    static const CacheFolder folder;
    return folder.path;
}

} // namespace

// The input is a block file of 256-byte blocks; it is also parsed as one metadata record.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sarnika::sources;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto entry = parseFirefoxOldEntry(bytes);
    if (entry) {
        (void)firefoxOldKeyHash(entry->key);
    }
    (void)urlFromFirefoxOldKey(bytes);

    writeFile(cacheFolder() / "_CACHE_001_", bytes);
    ReadReport report;
    for (const CacheRecord& record : readFirefoxOldCache(cacheFolder(), report)) {
        if (record.body) {
            (void)record.body(std::uint64_t{1} << 20U);
        }
    }
    return 0;
}
