#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "cache/Result.h"

namespace sarnika::sources {

// A browser's file, opened for reading only: never written, locked or created.
class ReadOnlyFile {
public:
    static Result<ReadOnlyFile> open(const std::filesystem::path& path);
    // The same for a path in the platform's form: readers of folders with many thousands of
    // entries save building a path object per entry.
    static Result<ReadOnlyFile> open(const char* nativePath);

    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    std::uint64_t size() const { return m_size; }
    // As fileIdentity() gives it, from the state the file had when it was opened.
    const std::string& identity() const { return m_identity; }
    // Up to `length` bytes from `offset`; fewer at the end of the file.
    Result<std::string> read(std::uint64_t offset, std::uint64_t length) const;
    Result<std::string> readAll(std::uint64_t limit) const { return read(0, limit); }

private:
    ReadOnlyFile(int fd, std::uint64_t size, std::string identity)
        : m_fd(fd), m_size(size), m_identity(std::move(identity)) {}
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::string m_identity;
};

// Up to `length` bytes of a file from `offset`, opened and closed for this one read.
Result<std::string> readFileRange(const std::filesystem::path& path, std::uint64_t offset,
                                  std::uint64_t length);

// "<path>|<size>|<mtime in ns>": changes whenever the file is replaced or rewritten.
std::string fileIdentity(const std::filesystem::path& path);

} // namespace sarnika::sources
