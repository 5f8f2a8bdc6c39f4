#include "support/profile/ProfileTestSupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace sarnika::testing {

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == separator) {
        fields.emplace_back();
    }
    return fields;
}

} // namespace

fs::path unpackSample(const TempDir& into, std::string_view tarball) {
    const fs::path archive = sharedDir() / "testdata" / "made-here" / std::string(tarball);
    const std::string command =
        "tar -xzf " + quoted(archive.string()) + " -C " + quoted(into.path().string());
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe): the test's own fixed command line
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return into.path();
}

std::vector<ExpectedRecord> expectedRecords(std::string_view kind, const fs::path& path,
                                            std::string_view user) {
    const fs::path script = fs::path(SARNIKA_PROFILE_TEST_DIR) / "profile_expected.py";
    const std::string command = "python3 " + quoted(script.string()) + " " +
                                quoted(sharedDir().string()) + " " + std::string(kind) + " " +
                                quoted(path.string()) + " " + quoted(std::string(user));
    FILE* pipe = ::popen(command.c_str(), "r"); // NOLINT(cert-env33-c): the reference reader
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return {};
    }
    std::string output;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
        output += buffer.data();
    }
    EXPECT_EQ(::pclose(pipe), 0) << command;
    std::vector<ExpectedRecord> records;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const auto fields = split(line, '\t');
        if (fields.size() != 7) {
            ADD_FAILURE() << "unexpected line: " << line;
            continue;
        }
        records.push_back({fields[0], std::stoull(fields[1]), std::stoull(fields[2]),
                           std::stoull(fields[3]), std::stoull(fields[4]),
                           static_cast<std::uint32_t>(std::stoul(fields[5])), fields[6]});
    }
    return records;
}

std::string readWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TestConnection::TestConnection(const fs::path& db) {
    if (sqlite3_open(db.c_str(), &m_db) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << db << ": " << sqlite3_errmsg(m_db);
    }
}

TestConnection::~TestConnection() {
    sqlite3_close(m_db);
}

void TestConnection::exec(const std::string& sql) const {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << (error != nullptr ? error : "?");
    }
    sqlite3_free(error);
}

std::string TestConnection::scalar(const std::string& sql) const {
    sqlite3_stmt* statement = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(statement, 0);
        value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    } else {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(m_db);
    }
    sqlite3_finalize(statement);
    return value;
}

// Tests run on one thread: the environment is theirs to change.
// NOLINTBEGIN(concurrency-mt-unsafe)
TemporaryFolderOverride::TemporaryFolderOverride(const fs::path& folder) {
    if (const char* previous = std::getenv("TMPDIR"); previous != nullptr) {
        m_previous = previous;
        m_hadPrevious = true;
    }
    ::setenv("TMPDIR", folder.c_str(), 1);
}

TemporaryFolderOverride::~TemporaryFolderOverride() {
    if (m_hadPrevious) {
        ::setenv("TMPDIR", m_previous.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}
// NOLINTEND(concurrency-mt-unsafe)

} // namespace sarnika::testing
