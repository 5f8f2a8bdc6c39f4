#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "app/SaveMovies.h"
#include "app/platform/LocalFiles.h"
#include "base/Result.h"
#include "cli/KeepPaths.h"
#include "cli/MovieScan.h"
#include "cli/Progress.h"

namespace sarnika::cli {

// Makes the folder and its parents when missing and checks that files can be made in it.
Status prepareFolder(const std::filesystem::path& folder);

// Copies a movie to <folder>/<kept path>, never over an existing file or folder: a taken name
// moves on to -1, -2 and so on. The path is shortened to the system's limit; a symbolic link
// below `folder` is never followed. Answers the file written.
Result<std::filesystem::path> saveKeepingPath(const std::string& localFile, const KeptPath& kept,
                                              const std::filesystem::path& folder,
                                              FileCopier& copier);

struct SaveSummary {
    int saved = 0;
    int failed = 0;
};

// Saves every row into `folder`, one after the other: by the names of "Save all..." or, with
// keepPaths, by the URL's path. Each saved movie gets a line "<file>\t<url>" on `out` and, when
// `manifest` is given, a manifest line written at once; each failure a line with the reason on
// `err`, and the next movie is saved.
SaveSummary saveMovies(const std::vector<MovieRow>& rows, const std::filesystem::path& folder,
                       bool keepPaths, FileCopier& copier, Progress& progress, std::ostream& out,
                       std::ostream& err, files::AppendFile* manifest);

} // namespace sarnika::cli
