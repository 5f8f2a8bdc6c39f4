// What the read-only file access offers on every platform, over the platform's ReadOnlyFile.
#include "cache/sources/FileAccess.h"

namespace sarnika::sources {

Result<std::string> readFileRange(const std::filesystem::path& path, std::uint64_t offset,
                                  std::uint64_t length) {
    auto file = ReadOnlyFile::open(path);
    if (!file) {
        return file.error();
    }
    return file->read(offset, length);
}

} // namespace sarnika::sources
