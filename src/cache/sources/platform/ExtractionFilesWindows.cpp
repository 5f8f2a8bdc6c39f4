#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

#include "cache/sources/ExtractionFiles.h"

// Windows: the same rules through the standard library. Every step below the root looks at
// the name itself (symlink_status) and refuses links and junctions.
namespace sarnika::sources::extraction {
namespace fs = std::filesystem;
namespace {

// A partial file this old belongs to no running scan: one that was killed left it.
constexpr auto kStrayPartialAge = std::chrono::minutes(10);

bool isPlainFolder(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    return !error && status.type() == fs::file_type::directory;
}

bool makeFolder(const fs::path& path) {
    std::error_code error;
    fs::create_directory(path, error);
    return isPlainFolder(path);
}

void removeFolder(const fs::path& folder, int depth) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        std::error_code ignored;
        const fs::file_status status = it->symlink_status(ignored);
        if (status.type() == fs::file_type::directory) {
            if (depth > 0 && isKey(it->path().filename().string())) {
                removeFolder(it->path(), depth - 1);
            }
        } else {
            fs::remove(it->path(), ignored);
        }
    }
    std::error_code ignored;
    fs::remove(folder, ignored); // only when empty
}

} // namespace

std::optional<std::uint64_t> regularFileSize(const fs::path& root, std::string_view sourceKey,
                                             std::string_view entryKey,
                                             const std::string& fileName) {
    const fs::path source = root / std::string(sourceKey);
    const fs::path entry = source / std::string(entryKey);
    const fs::path file = entry / fileName;
    std::error_code error;
    if (!isPlainFolder(source) || !isPlainFolder(entry) ||
        fs::symlink_status(file, error).type() != fs::file_type::regular) {
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(file, error);
    return error ? std::nullopt : std::optional<std::uint64_t>(size);
}

Status createFile(const fs::path& root, std::string_view sourceKey, std::string_view entryKey,
                  const std::string& fileName, const Producer& produce) {
    const fs::path source = root / std::string(sourceKey);
    const fs::path entry = source / std::string(entryKey);
    const fs::path target = entry / fileName;
    std::error_code error;
    fs::create_directories(root, error);
    if (!makeFolder(source) || !makeFolder(entry)) {
        return makeError(Error::Code::WriteFailed, target.string() + ": cannot make its folder");
    }
    if (const fs::file_status status = fs::symlink_status(target, error); fs::exists(status)) {
        if (status.type() == fs::file_type::regular) {
            return {};
        }
        return makeError(Error::Code::WriteFailed, target.string() + ": the name is taken by a "
                                                                     "link or something else");
    }
    std::random_device random;
    const fs::path partial = entry / (".partial-" + std::to_string(random()));
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        Status written = produce([&out](std::string_view bytes) -> Status {
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) {
                return makeError(Error::Code::WriteFailed, "cannot write");
            }
            return {};
        });
        out.close();
        if (written && !out) {
            written = makeError(Error::Code::WriteFailed, target.string() + ": cannot write");
        }
        if (!written) {
            fs::remove(partial, error);
            return written;
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

void removeUnkept(const fs::path& root, std::optional<std::string_view> sourceKey,
                  const std::set<std::string>& kept) {
    const fs::path folder = sourceKey ? root / std::string(*sourceKey) : root;
    if (!isPlainFolder(folder) && sourceKey) {
        return;
    }
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!isKey(name) || !isPlainFolder(it->path())) {
            continue;
        }
        if (!kept.contains(name)) {
            removeFolder(it->path(), sourceKey ? 0 : 1);
        } else if (sourceKey) {
            std::error_code ignored;
            for (fs::directory_iterator file(it->path(), ignored);
                 !ignored && file != fs::directory_iterator(); file.increment(ignored)) {
                std::error_code statusError;
                const auto modified = file->last_write_time(statusError);
                if (isPartialName(file->path().filename().string()) &&
                    file->symlink_status(statusError).type() == fs::file_type::regular &&
                    !statusError &&
                    fs::file_time_type::clock::now() - modified > kStrayPartialAge) {
                    std::error_code removeError;
                    fs::remove(file->path(), removeError);
                }
            }
        }
    }
}

} // namespace sarnika::sources::extraction
