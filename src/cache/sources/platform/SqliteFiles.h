#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "base/Result.h"

// The system's side of the SQLite readers: the files of our private copies of a browser's
// database, and how SQLite itself opens the browser's files. One implementation per system.
namespace sarnika::sources {

// A new file of ours that a copy is written into, piece by piece and possibly with holes. It
// is made only for us, and never through a link planted at its name.
class PrivateFile {
public:
    static Result<PrivateFile> create(const std::filesystem::path& path);

    PrivateFile(PrivateFile&& other) noexcept;
    PrivateFile& operator=(PrivateFile&& other) noexcept;
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;
    ~PrivateFile();

    // Writes `bytes` at `offset`; what lies before it and was never written stays a hole.
    Status writeAt(std::uint64_t offset, std::string_view bytes) const;
    // Gives the file its final size and closes it.
    Status finish(std::uint64_t size);

private:
    PrivateFile(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}
    int m_fd = -1;
    std::filesystem::path m_path;
};

// Makes a new folder only we may enter from a pattern ending in "XXXXXX" and answers it.
Result<std::filesystem::path> makePrivateFolder(const std::string& pattern);

// From now on SQLite opens the browser's files without changing their access time (where the
// system allows) and without waiting on a fifo swapped in for one.
void openDatabasesKeepingAccessTimes();

} // namespace sarnika::sources
