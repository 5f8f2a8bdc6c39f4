#include "cli/MovieSaver.h"

#include <system_error>

#include "cli/Manifest.h"
#include "cli/Sha256.h"
#include "cli/TerminalText.h"
#include "cli/platform/Console.h"

namespace sarnika::cli {
namespace fs = std::filesystem;
namespace {

// Far more than any real folder holds of one name; it only stops a run on a broken file system.
constexpr unsigned kMaxCounter = 100'000;

// The saved file's entry in the manifest; the file is read back for its hash.
Result<SavedFile> savedFileOf(const fs::path& target, const std::string& url) {
    SavedFile saved;
    saved.path = target.string();
    saved.query = keptPathOf(url).query;
    std::error_code error;
    saved.size = fs::file_size(target, error);
    if (error) {
        return makeError(Error::Code::Unreadable, saved.path + ": " + error.message());
    }
    auto hash = sha256OfFile(target);
    if (!hash) {
        return hash.error();
    }
    saved.sha256 = std::move(hash.value());
    return saved;
}

// The flat save of one movie, with the rules and names of "Save all...".
Result<fs::path> saveFlat(const MovieRow& row, const fs::path& folder, FileCopier& copier) {
    const SaveAllResult result =
        SaveAll(folder.string(), {row.localFile}, {row.suggestedName}, copier);
    if (result.saved == 1 && result.savedMovies.size() == 1) {
        return fs::path(result.savedMovies.front().target);
    }
    if (result.failed > 0) {
        return makeError(Error::Code::WriteFailed, result.firstFailure);
    }
    return makeError(Error::Code::Exists, "no free file name for " + row.suggestedName);
}

// One movie; what goes wrong is this movie's failure, never the end of the run.
Result<fs::path> saveOne(const MovieRow& row, const fs::path& folder, bool keepPaths,
                         FileCopier& copier) {
    if (row.localFile.empty()) {
        return makeError(Error::Code::NotFound, "the cache holds no file");
    }
    try {
        if (row.siteFile) {
            const std::string stored = fs::path(row.localFile).extension().string();
            return saveKeepingPath(
                row.localFile, keptSitePathOf(row.url, stored.empty() ? stored : stored.substr(1)),
                folder, copier);
        }
        return keepPaths ? saveKeepingPath(row.localFile, keptPathOf(row.url), folder, copier)
                         : saveFlat(row, folder, copier);
    } catch (const std::exception& failure) {
        return makeError(Error::Code::WriteFailed, failure.what());
    }
}

} // namespace

Status prepareFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder)) {
        return makeError(Error::Code::WriteFailed,
                         "cannot make the folder " + folder.string() + ": " +
                             (error ? error.message() : std::string("a file of that name exists")));
    }
    if (const std::error_code reason = folderWriteError(folder)) {
        return makeError(Error::Code::WriteFailed, "cannot write into the folder " +
                                                       folder.string() + ": " + reason.message());
    }
    return {};
}

Result<fs::path> saveKeepingPath(const std::string& localFile, const KeptPath& kept,
                                 const fs::path& folder, FileCopier& copier) {
    KeptPath fitted = kept;
    const std::size_t folderBytes = folder.string().size() + 1;
    if (folderBytes < files::maxPathBytes()) {
        fitted.fitInto(files::maxPathBytes() - folderBytes);
    }
    const fs::path relativeFolder = fitted.folder();
    for (unsigned counter = 0; counter <= kMaxCounter; ++counter) {
        const fs::path relative = relativeFolder / fitted.fileName(counter);
        // A quick look skips names in use; the copy itself refuses them all the same.
        std::error_code error;
        if (fs::exists(fs::symlink_status(folder / relative, error))) {
            continue;
        }
        const Status copied =
            copier.copyExclusiveBelow(localFile, folder.string(), relative.string());
        if (copied) {
            return folder / relative;
        }
        if (copied.error().code != Error::Code::Exists) {
            return copied.error();
        }
    }
    return makeError(Error::Code::Exists,
                     "no free file name in " + (folder / relativeFolder).string());
}

SaveSummary saveMovies(const std::vector<MovieRow>& rows, const fs::path& folder, bool keepPaths,
                       FileCopier& copier, Progress& progress, std::ostream& out, std::ostream& err,
                       files::AppendFile* manifest) {
    SaveSummary summary;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MovieRow& row = rows[i];
        progress.show("Saving " + std::to_string(i + 1) + "/" + std::to_string(rows.size()) + ": " +
                      row.displayName);
        Result<fs::path> saved = saveOne(row, folder, keepPaths, copier);
        if (!saved) {
            ++summary.failed;
            progress.clear();
            err << "sarnika-cli: cannot save " << terminalText(row.url) << ": "
                << terminalText(saved.error().message) << "\n";
            continue;
        }
        ++summary.saved;
        progress.clear();
        out << terminalText(saved->string()) << '\t' << terminalText(row.url) << "\n";
        if (manifest != nullptr) {
            auto file = savedFileOf(saved.value(), row.url);
            if (!file) {
                err << "sarnika-cli: manifest: " << terminalText(file.error().message) << "\n";
                ++summary.failed;
                continue;
            }
            if (const Status written = manifest->appendLine(manifestLine(row, file.value()));
                !written) {
                err << "sarnika-cli: manifest: " << terminalText(written.error().message) << "\n";
                ++summary.failed;
            }
        }
    }
    progress.clear();
    return summary;
}

} // namespace sarnika::cli
