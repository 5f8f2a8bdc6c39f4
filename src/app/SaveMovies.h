#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace sarnika {

// Copies files for the save commands. The default works on the local file system.
class FileCopier {
public:
    virtual ~FileCopier() = default;
    // Creates `target` only if no file of that name exists at the moment of creation
    // (Error::Code::Exists otherwise). A copy that fails part-way leaves no file behind.
    virtual Status copyExclusive(const std::string& source, const std::string& target) = 0;
    // Writes `target`, replacing a file that is there (the user agreed to it).
    virtual Status copyReplacing(const std::string& source, const std::string& target) = 0;
    // copyExclusive to `folder`/`relative`, making the folders of `relative` when missing;
    // below `folder` nothing that is a symbolic link is followed.
    virtual Status copyExclusiveBelow(const std::string& source, const std::string& folder,
                                      const std::string& relative);
};

// The standard library's file system; errors carry the system's reason.
class LocalFileCopier final : public FileCopier {
public:
    Status copyExclusive(const std::string& source, const std::string& target) override;
    Status copyReplacing(const std::string& source, const std::string& target) override;
    Status copyExclusiveBelow(const std::string& source, const std::string& folder,
                              const std::string& relative) override;
};

struct SavedMovie {
    std::string cacheFile;
    std::string target;
};

struct SaveAllResult {
    std::string folder; // with its trailing separator
    int saved = 0;
    std::vector<SavedMovie> savedMovies;
    int failed = 0;
    std::string firstFailure; // the system's reason for the first failed copy
    std::size_t movies = 0;   // the movies there were to save
    bool cancelled = false;   // stopped by the user before the last movie
};

// Told before each movie how many of how many are done; false stops the run there.
using SaveProgress = std::function<bool(std::size_t done, std::size_t total)>;

// The folder with a trailing separator added unless it has one.
std::string WithTrailingSeparator(const std::string& folder);

// "Save all..." from the chosen folder on: every movie with a non-empty cache file is copied to
// MakeUniqueFileName(folder + suggested name, "swf", "-"), the name cut to fit in 255 bytes with
// its counter; an existing file is never replaced:
// when the name is taken at the moment of creation the next free one is tried.
// What was saved before a cancel stays saved.
SaveAllResult SaveAll(const std::string& folder, const std::vector<std::string>& cacheFiles,
                      const std::vector<std::string>& suggestedNames, FileCopier& copier,
                      const SaveProgress& progress = {});

// "Save as..." copy step: replaces the file the user chose; the error carries the reason.
Status SaveAs(const std::string& cacheFile, const std::string& target, FileCopier& copier);

// "%s file(s) have been successfully saved.\n\rOpen destination folder?" for `saved`.
std::string SaveAllQuestion(int saved);
// The question after a cancelled "Save all...": how many of how many were saved.
std::string SaveAllCancelledQuestion(const SaveAllResult& result);
// What to tell the user when copies failed: empty when none did.
std::string SaveAllFailureText(const SaveAllResult& result);

} // namespace sarnika
