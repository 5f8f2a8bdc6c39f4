#include "cache/sources/chromium/ChromiumCache.h"

#include "cache/sources/ByteReader.h"
#include "cache/sources/FileAccess.h"

namespace sarnika::sources {
namespace {

constexpr std::uint64_t kSimpleMagic = 0xfcfb6d1ba7725c30ULL;
constexpr std::uint32_t kBlockfileIndexMagic = 0xC103CAC3U;

bool isSimpleEntryName(std::string_view name) {
    return name.size() == 18 && name.substr(16) == "_0" &&
           name.substr(0, 16).find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool isSqlShardName(std::string_view name) {
    return name.size() > 5 && name.size() <= 14 && name.substr(0, 5) == "sqldb" &&
           name.substr(5).find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

ChromiumBackend detectChromiumBackend(const std::filesystem::path& dir) {
    // The `index` file names the backend, except that a running browser may not have written
    // the simple backend's yet: its entry files are enough.
    if (auto head = readFileRange(dir / "index", 0, 8)) {
        if (head->rfind("SQLCache", 0) == 0) {
            return ChromiumBackend::Sql;
        }
        ByteReader reader(*head);
        if (reader.u32le() == kBlockfileIndexMagic) {
            return ChromiumBackend::Blockfile;
        }
        ByteReader again(*head);
        if (again.u64le() == kSimpleMagic) {
            return ChromiumBackend::Simple;
        }
    }
    // A damaged `index` must not hide the entries: the files tell the backend too.
    std::error_code error;
    bool sqlShards = false;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (isSimpleEntryName(name)) {
            return ChromiumBackend::Simple;
        }
        sqlShards = sqlShards || isSqlShardName(name);
    }
    return sqlShards ? ChromiumBackend::Sql : ChromiumBackend::None;
}

} // namespace sarnika::sources
