#include "app/SaveMovies.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>

#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "movies/MovieList.h"

namespace sarnika {

namespace {

// How often "Save all..." moves on when names keep being taken under its feet.
constexpr int maxNameRaces = 100;
constexpr int maxTemporaryNames = 100;

std::string reasonFor(int error) {
    if (error == 0) {
        return "unknown error";
    }
    return std::generic_category().message(error);
}

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// Owns a FILE*; close() reports the errors that only show when buffered data is written.
class CFile {
public:
    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile() {
        if (m_file != nullptr) {
            // Only reached on paths that already failed; the first error is the one reported.
            static_cast<void>(std::fclose(m_file));
        }
    }

    int open(const std::string& path, const char* mode) {
        errno = 0;
        m_file = std::fopen(path.c_str(), mode);
        return m_file == nullptr ? errno : 0;
    }
    // Creates the file for writing, failing when the name is taken already.
    int createNew(const std::string& path) {
#ifdef _WIN32
        // The Windows C runtime ignores fopen's "x": create the file exclusively by hand.
        errno = 0;
        const int fd = ::_wopen(std::filesystem::path(path).c_str(),
                                _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            return errno;
        }
        m_file = ::_fdopen(fd, "wb");
        if (m_file == nullptr) {
            const int error = errno;
            ::_close(fd);
            return error;
        }
        return 0;
#else
        return open(path, "wbx");
#endif
    }
    std::FILE* get() const {
        return m_file;
    }
    int close() {
        errno = 0;
        const int closed = std::fclose(std::exchange(m_file, nullptr));
        return closed == 0 ? 0 : (errno != 0 ? errno : EIO);
    }

private:
    std::FILE* m_file = nullptr;
};

Status openSource(CFile& in, const std::string& source) {
    if (const int error = in.open(source, "rb"); error != 0) {
        const Error::Code code = error == ENOENT ? Error::Code::NotFound : Error::Code::Unreadable;
        return makeError(code, "Cannot read " + quoted(source) + ": " + reasonFor(error));
    }
    return {};
}

// Copies everything from `in` to `out` and closes `out`; `out` is left for the caller to remove.
Status copyContent(CFile& in, CFile& out, const std::string& source, const std::string& target) {
    constexpr std::size_t bufferSize = std::size_t{64} * 1024;
    std::vector<char> buffer(bufferSize);
    for (;;) {
        errno = 0;
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (got < buffer.size() && std::ferror(in.get()) != 0) {
            const int error = errno;
            return makeError(Error::Code::Unreadable,
                             "Cannot read " + quoted(source) + ": " + reasonFor(error));
        }
        errno = 0;
        if (got > 0 && std::fwrite(buffer.data(), 1, got, out.get()) != got) {
            const int error = errno;
            return makeError(Error::Code::WriteFailed,
                             "Cannot write " + quoted(target) + ": " + reasonFor(error));
        }
        if (got < buffer.size()) {
            break;
        }
    }
    if (const int error = out.close(); error != 0) {
        return makeError(Error::Code::WriteFailed,
                         "Cannot write " + quoted(target) + ": " + reasonFor(error));
    }
    return {};
}

void removeQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

std::string temporaryNameFor(const std::string& target, int attempt) {
    const std::filesystem::path path(target);
    const std::string name = "." + path.filename().string() + ".part" + std::to_string(attempt);
    return (path.parent_path() / name).string();
}

} // namespace

Status LocalFileCopier::copyExclusive(const std::string& source, const std::string& target) {
    CFile in;
    if (Status opened = openSource(in, source); !opened) {
        return opened;
    }
    CFile out;
    // "x" creates the file only if nothing has the name, in one step with the check.
    if (const int error = out.createNew(target); error != 0) {
        std::error_code ignored;
        if (error == EEXIST && !std::filesystem::is_directory(target, ignored)) {
            return makeError(Error::Code::Exists, quoted(target) + " already exists");
        }
        const int reason = error == EEXIST ? static_cast<int>(std::errc::is_a_directory) : error;
        return makeError(Error::Code::WriteFailed,
                         "Cannot create " + quoted(target) + ": " + reasonFor(reason));
    }
    Status copied = copyContent(in, out, source, target);
    if (!copied) {
        // The file is ours: it was created exclusively above.
        if (out.get() != nullptr) {
            static_cast<void>(out.close());
        }
        removeQuietly(target);
    }
    return copied;
}

Status LocalFileCopier::copyReplacing(const std::string& source, const std::string& target) {
    CFile in;
    if (Status opened = openSource(in, source); !opened) {
        return opened;
    }
    // Replacing the cache file by its own copy would change the browser's cache.
    if (std::error_code ignored; std::filesystem::equivalent(source, target, ignored)) {
        return makeError(Error::Code::Exists,
                         quoted(target) + " is the cached movie itself and is left as it is");
    }
    // The old file stays untouched until the new content is complete next to it.
    CFile out;
    std::string temporary;
    int error = EEXIST;
    for (int attempt = 0; attempt < maxTemporaryNames && error == EEXIST; ++attempt) {
        temporary = temporaryNameFor(target, attempt);
        error = out.createNew(temporary);
    }
    if (error != 0) {
        return makeError(Error::Code::WriteFailed, "Cannot create a file next to " +
                                                       quoted(target) + ": " + reasonFor(error));
    }
    if (Status copied = copyContent(in, out, source, target); !copied) {
        if (out.get() != nullptr) {
            static_cast<void>(out.close());
        }
        removeQuietly(temporary);
        return copied;
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, target, renamed);
    if (renamed) {
        removeQuietly(temporary);
        return makeError(Error::Code::WriteFailed,
                         "Cannot replace " + quoted(target) + ": " + renamed.message());
    }
    return {};
}

std::string WithTrailingSeparator(const std::string& folder) {
    constexpr char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    // An empty folder stays empty rather than turning into the root folder.
    if (folder.empty() || folder.back() == separator || folder.back() == '/') {
        return folder;
    }
    return folder + separator;
}

SaveAllResult SaveAll(const std::string& folder, const std::vector<std::string>& cacheFiles,
                      const std::vector<std::string>& suggestedNames, FileCopier& copier) {
    SaveAllResult result;
    result.folder = WithTrailingSeparator(folder);
    const std::size_t movies = std::min(cacheFiles.size(), suggestedNames.size());
    for (std::size_t k = 0; k < movies; ++k) {
        const std::string& cacheFile = cacheFiles[k];
        if (cacheFile.empty()) {
            continue;
        }
        const std::string basePath = result.folder + suggestedNames[k];
        std::string previous;
        for (int race = 0;; ++race) {
            const std::string target = MakeUniqueFileName(basePath, "swf", "-");
            // Without a name the movie is skipped, but the user still hears that it was not saved.
            Status copied =
                target.empty()
                    ? makeError(Error::Code::WriteFailed,
                                "Cannot find a free file name for " + quoted(basePath + ".swf"))
                    : copier.copyExclusive(cacheFile, target);
            if (copied) {
                ++result.saved;
                result.savedMovies.push_back({cacheFile, target});
                break;
            }
            // Someone created the name since it was found free: the next free one is used. The
            // same name twice means the check and the creation disagree, so give up on it.
            const bool retry = copied.error().code == Error::Code::Exists && target != previous &&
                               race + 1 < maxNameRaces;
            if (!retry) {
                ++result.failed;
                if (result.firstFailure.empty()) {
                    result.firstFailure = copied.error().message;
                }
                break;
            }
            previous = target;
        }
    }
    return result;
}

Status SaveAs(const std::string& cacheFile, const std::string& target, FileCopier& copier) {
    if (cacheFile.empty() || target.empty()) {
        return makeError(Error::Code::NotFound, "No file to save");
    }
    return copier.copyReplacing(cacheFile, target);
}

std::string SaveAllQuestion(int saved) {
    return std::to_string(saved) +
           " file(s) have been successfully saved.\n\rOpen destination folder?";
}

std::string SaveAllFailureText(const SaveAllResult& result) {
    if (result.failed <= 0) {
        return {};
    }
    std::string text;
    if (result.saved == 0) {
        text = "No file was saved. ";
    }
    text += std::to_string(result.failed) + " file(s) could not be saved.";
    if (!result.firstFailure.empty()) {
        text += "\n\n" + result.firstFailure;
    }
    return text;
}

} // namespace sarnika
