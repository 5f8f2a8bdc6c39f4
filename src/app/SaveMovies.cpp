#include "app/SaveMovies.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/platform/LocalFiles.h"
#include "movies/MovieList.h"

namespace sarnika {

namespace {

// How often "Save all..." moves on when names keep being taken under its feet.
constexpr int maxNameRaces = 100;

// File systems allow 255 bytes for a name; room stays for "-<counter>.swf".
constexpr std::size_t maxNameBytes = 255;
constexpr std::size_t counterRoom = 12;

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

std::string shortenedName(const std::string& name) {
    if (name.size() <= maxNameBytes - counterRoom) {
        return name;
    }
    std::size_t cut = maxNameBytes - counterRoom;
    // Never cut a UTF-8 sequence in two.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0U) == 0x80U) {
        --cut;
    }
    // Windows drops blanks and dots at the end of a name.
    while (cut > 1 && (name[cut - 1] == ' ' || name[cut - 1] == '.')) {
        --cut;
    }
    return name.substr(0, cut);
}

} // namespace

Status LocalFileCopier::copyExclusive(const std::string& source, const std::string& target) {
    const std::filesystem::path path(target);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    return files::copyExclusiveBelow(source, folder, path.filename().string());
}

Status FileCopier::copyExclusiveBelow(const std::string& source, const std::string& folder,
                                      const std::string& relative) {
    return copyExclusive(source, (std::filesystem::path(folder) / relative).string());
}

Status LocalFileCopier::copyExclusiveBelow(const std::string& source, const std::string& folder,
                                           const std::string& relative) {
    return files::copyExclusiveBelow(source, folder, relative);
}

Status LocalFileCopier::copyReplacing(const std::string& source, const std::string& target) {
    return files::copyReplacing(source, target);
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
                      const std::vector<std::string>& suggestedNames, FileCopier& copier,
                      const SaveProgress& progress) {
    SaveAllResult result;
    result.folder = WithTrailingSeparator(folder);
    const std::size_t movies = std::min(cacheFiles.size(), suggestedNames.size());
    result.movies = movies;
    // Per name, the counter after the last one this run has saved under: the names below it are
    // taken, and testing them again for each movie of a common name would take a while.
    std::map<std::string, unsigned long long> nextCounter;
    for (std::size_t k = 0; k < movies; ++k) {
        if (progress && !progress(k, movies)) {
            result.cancelled = true;
            break;
        }
        const std::string& cacheFile = cacheFiles[k];
        if (cacheFile.empty()) {
            continue;
        }
        const std::string basePath = result.folder + shortenedName(suggestedNames[k]);
        std::string previous;
        unsigned long long& firstCounter = nextCounter[basePath];
        for (int race = 0;; ++race) {
            const UniqueFileName unique = FindUniqueFileName(basePath, "swf", "-", firstCounter);
            const std::string& target = unique.path;
            // Without a name the movie is skipped, but the user still hears that it was not saved.
            Status copied =
                target.empty()
                    ? makeError(Error::Code::WriteFailed,
                                "Cannot find a free file name for " + quoted(basePath + ".swf"))
                    : copier.copyExclusive(cacheFile, target);
            if (copied) {
                ++result.saved;
                result.savedMovies.push_back({cacheFile, target});
                firstCounter = unique.counter + 1;
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
    // "\n\r" (line feed, then carriage return) on purpose: the question has always been so.
    return std::to_string(saved) +
           " file(s) have been successfully saved.\n\rOpen destination folder?";
}

std::string SaveAllCancelledQuestion(const SaveAllResult& result) {
    return "Saved " + std::to_string(result.saved) + " of " + std::to_string(result.movies) +
           " movies; cancelled.\nOpen destination folder?";
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
