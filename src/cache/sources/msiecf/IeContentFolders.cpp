#include "cache/sources/msiecf/IeContentFolders.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>
#include <system_error>
#include <utility>

#include "base/DateTime.h"
#include "cache/sources/FileAccess.h"

namespace sarnika::sources {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCacheFolderNameLength = 8;
// Entries of a content folder looked at to find its cache folders.
constexpr int kMaxTopEntries = 1024;

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool isCacheFolderName(std::string_view name) {
    return name.size() == kCacheFolderNameLength &&
           std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

// WinINet's own files in a cache folder, never cached content.
bool isBookkeeping(std::string_view name) {
    const std::string lower = lowerCase(name);
    return lower == "desktop.ini" || lower == "index.dat" || lower == "container.dat" ||
           lower.starts_with(".");
}

std::string normalised(const fs::path& path) {
    return path.lexically_normal().generic_string();
}

// "file:///<path>", with the bytes that may not stand in a URL written as %XX.
std::string fileUrl(const fs::path& file) {
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    std::string path = (ec ? file : absolute).lexically_normal().generic_string();
    if (path.empty() || path.front() != '/') {
        path.insert(path.begin(), '/');
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 ||
            std::string_view("-._~/[]:!$&'()*+,;=@").find(c) != std::string_view::npos) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4U];
            url += kHex[byte & 0x0FU];
        }
    }
    return url;
}

FileTime fileTimeOf(fs::file_time_type time) {
    const auto system = std::chrono::file_clock::to_sys(time);
    const auto ticks =
        std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>>(
            system.time_since_epoch())
            .count();
    const std::int64_t sinceFileTimeEpoch =
        ticks + kFileTimeUnixEpochSeconds * static_cast<std::int64_t>(kFileTimeTicksPerSecond);
    return sinceFileTimeEpoch > 0 ? static_cast<FileTime>(sinceFileTimeEpoch) : 0;
}

// The cache folders (eight letters and digits, not links) among the first kMaxTopEntries names of
// a content folder, at most `wanted` of them.
std::vector<fs::path> cacheFoldersIn(const fs::path& folder, std::error_code& ec,
                                     std::size_t wanted) {
    std::vector<fs::path> found;
    int seen = 0;
    for (fs::directory_iterator it(folder, ec), end;
         !ec && it != end && seen < kMaxTopEntries && found.size() < wanted;
         it.increment(ec), ++seen) {
        std::error_code statusError;
        if (isCacheFolderName(it->path().filename().string()) &&
            fs::is_directory(it->symlink_status(statusError))) {
            found.push_back(it->path());
        }
    }
    return found;
}

} // namespace

bool looksLikeIeContentFolders(const fs::path& folder) {
    const std::string name = lowerCase(folder.filename().string());
    if (name != "content.ie5" && name != "ie") {
        return false;
    }
    std::error_code ec;
    return !cacheFoldersIn(folder, ec, 1).empty();
}

std::vector<CacheRecord> readIeContentFolders(const fs::path& folder,
                                              const std::set<std::string>& indexed,
                                              ReadReport& report) {
    std::set<std::string> known;
    for (const std::string& file : indexed) {
        known.insert(normalised(file));
    }
    std::error_code ec;
    std::vector<fs::path> cacheFolders = cacheFoldersIn(folder, ec, kMaxTopEntries);
    if (ec) {
        report.skip(folder.string() + ": " + ec.message());
        return {};
    }
    std::sort(cacheFolders.begin(), cacheFolders.end());

    std::vector<CacheRecord> records;
    for (const fs::path& cacheFolder : cacheFolders) {
        std::vector<fs::path> files;
        for (fs::directory_iterator it(cacheFolder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code statusError;
            if (fs::is_regular_file(it->symlink_status(statusError)) &&
                !isBookkeeping(it->path().filename().string())) {
                files.push_back(it->path());
            }
            if (records.size() + files.size() >= kIeContentFolderMaxFiles) {
                break;
            }
        }
        if (ec) {
            report.skip(cacheFolder.string() + ": " + ec.message());
            ec.clear();
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (known.contains(normalised(file))) {
                continue;
            }
            auto opened = ReadOnlyFile::open(file);
            if (!opened) {
                report.skip(opened.error().message);
                continue;
            }
            CacheRecord record;
            record.url = fileUrl(file);
            record.localFile = file.string();
            record.size = opened->size();
            const std::string extension = file.extension().string();
            record.fileExtension = extension.size() > 1 ? extension.substr(1) : std::string();
            std::error_code timeError;
            const auto written = fs::last_write_time(file, timeError);
            record.lastSync = timeError ? 0 : fileTimeOf(written);
            record.identity = opened->identity();
            record.body = [file](std::uint64_t limit) {
                return readFileRange(file, 0, limit);
            };
            if (!report.admit(record.url.size() + record.localFile.size())) {
                return records;
            }
            records.push_back(std::move(record));
        }
        if (records.size() >= kIeContentFolderMaxFiles) {
            report.skip(folder.string() + ": more than " +
                        std::to_string(kIeContentFolderMaxFiles) +
                        " files in its cache folders: the rest is left out");
            break;
        }
    }
    return records;
}

} // namespace sarnika::sources
