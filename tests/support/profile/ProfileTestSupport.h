#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/TempDir.h"

struct sqlite3;

namespace sarnika::testing {

// Unpacks one of the made-here sample tarballs into `into` and answers `into`.
std::filesystem::path unpackSample(const TempDir& into, std::string_view tarball);

// A record as profile_expected.py computes it with the shared Python readers.
struct ExpectedRecord {
    std::string url;
    std::uint64_t size = 0;
    std::uint64_t lastAccess = 0;
    std::uint64_t lastModified = 0;
    std::uint64_t expires = 0;
    std::uint32_t useCount = 0;
    std::string lastSyncUnixMicros;
};
std::vector<ExpectedRecord> expectedRecords(std::string_view kind,
                                            const std::filesystem::path& path,
                                            std::string_view user = "");

std::string readWholeFile(const std::filesystem::path& path);

// A connection of the test itself, standing in for the browser.
class TestConnection {
public:
    explicit TestConnection(const std::filesystem::path& db);
    ~TestConnection();
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    // Runs SQL; fails the test on an error.
    void exec(const std::string& sql) const;
    // The first column of the first row as text.
    std::string scalar(const std::string& sql) const;

private:
    sqlite3* m_db = nullptr;
};

// Points the system's temporary folder at `folder` while it lives.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::filesystem::path& folder);
    ~TemporaryFolderOverride();
    TemporaryFolderOverride(const TemporaryFolderOverride&) = delete;
    TemporaryFolderOverride& operator=(const TemporaryFolderOverride&) = delete;

private:
    std::string m_previous;
    bool m_hadPrevious = false;
};

} // namespace sarnika::testing
