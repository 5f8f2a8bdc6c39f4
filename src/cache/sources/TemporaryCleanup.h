#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sarnika::sources {

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files and folders registered below
// before they end the program as they would have, and removes what runs of ours that were
// killed outright left in the temporary folder. Call once, first thing in main().
void installTemporaryCleanup();

// The name for a new temporary folder of ours of the given kind ("db"), to be completed by
// mkdtemp: "sarnika-db-<process id>-XXXXXX". The process id lets a later run tell the folders
// of dead runs from those of running ones.
std::string temporaryFolderPattern(std::string_view kind);
// The process id in the name of such a folder, or 0 when the name is not one.
long processOfTemporaryFolder(const std::string& name);
// The id of this process.
long currentProcessId();

// Removes the temporary folders of runs of this user that are gone; answers how many.
int removeLeftTemporaryFolders(const std::filesystem::path& temporaryRoot);

// Registers a temporary file or folder for removal on a signal while the guard lives. Files
// are removed before folders, so a folder registered with its files goes as a whole. When the
// fixed list is full the path is not registered; the next run removes it then.
class TemporaryPathGuard {
public:
    explicit TemporaryPathGuard(const std::filesystem::path& path);
    ~TemporaryPathGuard();
    TemporaryPathGuard(const TemporaryPathGuard&) = delete;
    TemporaryPathGuard& operator=(const TemporaryPathGuard&) = delete;
    TemporaryPathGuard(TemporaryPathGuard&&) = delete;
    TemporaryPathGuard& operator=(TemporaryPathGuard&&) = delete;

private:
    int m_slot = -1;
};

} // namespace sarnika::sources
