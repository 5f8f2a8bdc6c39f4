#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/Result.h"

// The file operations of the save commands, one implementation per system (LocalFiles.cpp for
// POSIX, LocalFilesWindows.cpp).
namespace sarnika::files {

// Copies `source` to `folder`/`relative` and creates that file only if nothing has its name
// (Error::Code::Exists otherwise): an existing file is never replaced. The folders named in
// `relative` are made when missing. `folder` itself is taken as the user gave it, links
// included; below it nothing that is a symbolic link is followed or written through, so the
// copy never lands outside `folder`. The file appears under its name only once it is
// complete: a failed or interrupted copy leaves nothing under that name.
Status copyExclusiveBelow(const std::string& source, const std::string& folder,
                          const std::string& relative);

// Replaces the content of `target` with that of `source` as a copy onto an existing file does:
// a symbolic link is followed and the file it names gets the content, the permissions of the
// replaced file stay. The old content stays whole until the new one is complete.
Status copyReplacing(const std::string& source, const std::string& target);

// Hands out the bytes of a file being made, piece by piece.
using ContentWriter =
    std::function<Status(const std::function<Status(std::string_view bytes)>& write)>;

// Makes `target` with what `produce` writes. The file appears under its name only once it is
// complete; a failure or an interrupt leaves nothing under that name. An existing file or
// folder is never replaced (Error::Code::Exists), unless `replace` is set and it is a file.
Status writeNewFile(const std::string& target, const ContentWriter& produce, bool replace);

// From now on SIGINT and SIGTERM first remove the temporary file of a copy under way, then
// end the process as they would have (a handler installed before is called in turn).
void removeTemporariesOnInterrupt();

// The longest path, in bytes, that the system's calls take.
std::size_t maxPathBytes();

// Whether copyExclusiveBelow may write a file without a name first (where the system has
// them); tests turn it off to take the path of systems without.
void useUnnamedTemporaries(bool use);

// A file that lines are appended to, each line in one write: two programs appending to the
// same file never interleave inside a line.
class AppendFile {
public:
    static Result<AppendFile> open(const std::string& path);
    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile();

    // Writes the line and its line break, at the end of the file as it is at that moment.
    Status appendLine(const std::string& line) const;

private:
    explicit AppendFile(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

} // namespace sarnika::files
