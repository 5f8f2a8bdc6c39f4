#include "cache/sources/profile/SqliteAccess.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include "cache/sources/FileAccess.h"

namespace sarnika::sources {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kCopyChunk = 1U << 20U;
constexpr int kCopyAttempts = 3;
// A rollback journal that still has to be played back starts with this.
constexpr std::array<unsigned char, 8> kJournalMagic = {0xd9, 0xd5, 0x05, 0xf9,
                                                        0x20, 0xa1, 0x63, 0xd7};

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

Error sqliteError(sqlite3* db, const std::string& context) {
    const char* message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    return makeError(Error::Code::Unreadable, context + ": " + message);
}

fs::path sideFile(const fs::path& db, std::string_view suffix) {
    fs::path side = db;
    side += std::string(suffix);
    return side;
}

bool isHotJournal(const fs::path& journal) {
    const auto head = readFileRange(journal, 0, kJournalMagic.size());
    return head && head->size() == kJournalMagic.size() &&
           std::equal(kJournalMagic.begin(), kJournalMagic.end(), head->begin(),
                      [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
}

// The files beside `db` that hold changes the database file itself lacks.
std::vector<std::string> pendingSideFiles(const fs::path& db) {
    std::vector<std::string> suffixes;
    std::error_code ec;
    const fs::path wal = sideFile(db, "-wal");
    if (fs::is_regular_file(wal, ec) && fs::file_size(wal, ec) > 0 && !ec) {
        suffixes.emplace_back("-wal");
    }
    if (isHotJournal(sideFile(db, "-journal"))) {
        suffixes.emplace_back("-journal");
    }
    return suffixes;
}

Status copyFile(const fs::path& from, const fs::path& to) {
    auto source = ReadOnlyFile::open(from);
    if (!source) {
        return source.error();
    }
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return makeError(Error::Code::WriteFailed,
                         to.string() + ": " +
                             std::error_code(errno, std::generic_category()).message());
    }
    // Only the bytes the file had when we opened it: a growing -wal ends in frames SQLite
    // rejects by their checksums anyway.
    const std::uint64_t total = source->size();
    std::uint64_t offset = 0;
    Status status;
    while (offset < total && status) {
        auto chunk = source->read(offset, std::min(kCopyChunk, total - offset));
        if (!chunk) {
            status = chunk.error();
            break;
        }
        if (chunk->empty()) {
            break;
        }
        std::size_t done = 0;
        while (done < chunk->size()) {
            const ssize_t wrote = ::write(fd, chunk->data() + done, chunk->size() - done);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                status = makeError(Error::Code::WriteFailed,
                                   to.string() + ": " +
                                       std::error_code(errno, std::generic_category()).message());
                break;
            }
            done += static_cast<std::size_t>(wrote);
        }
        offset += chunk->size();
    }
    if (::close(fd) != 0 && status) {
        status = makeError(Error::Code::WriteFailed, to.string() + ": close failed");
    }
    return status;
}

std::string stateOf(const fs::path& db, const std::vector<std::string>& suffixes) {
    std::string state = fileIdentity(db);
    for (const auto& suffix : suffixes) {
        state += "\n" + fileIdentity(sideFile(db, suffix));
    }
    return state;
}

} // namespace

// A folder of ours under the system's temporary folder, removed with its contents.
class PrivateCopy {
public:
    static Result<std::shared_ptr<PrivateCopy>> create() {
        std::error_code ec;
        const fs::path root = fs::temp_directory_path(ec);
        if (ec) {
            return makeError(Error::Code::WriteFailed, "no temporary folder: " + ec.message());
        }
        std::string pattern = (root / "sarnika-db-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            return makeError(Error::Code::WriteFailed,
                             pattern + ": " +
                                 std::error_code(errno, std::generic_category()).message());
        }
        return std::shared_ptr<PrivateCopy>(new PrivateCopy(fs::path(pattern)));
    }

    PrivateCopy(const PrivateCopy&) = delete;
    PrivateCopy& operator=(const PrivateCopy&) = delete;
    PrivateCopy(PrivateCopy&&) = delete;
    PrivateCopy& operator=(PrivateCopy&&) = delete;
    ~PrivateCopy() {
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }

    const fs::path& folder() const { return m_folder; }

private:
    explicit PrivateCopy(fs::path folder) : m_folder(std::move(folder)) {}
    fs::path m_folder;
};

std::string sqliteFileUri(const fs::path& path, std::string_view query) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) {
        absolute = path;
    }
    std::string text = absolute.generic_string();
    if (text.empty() || text.front() != '/') {
        text.insert(text.begin(), '/');
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    // "file://" and an empty authority: a path that itself starts with "//" stays a path.
    std::string uri = "file://";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte)) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4U];
            uri += kHex[byte & 0x0FU];
        }
    }
    if (!query.empty()) {
        uri += '?';
        uri += query;
    }
    return uri;
}

void SqliteStatement::Finalize::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

Result<bool> SqliteStatement::step() {
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    return sqliteError(sqlite3_db_handle(m_statement.get()), "query failed");
}

Status SqliteStatement::bindText(int index, std::string_view value) {
    if (sqlite3_bind_text(m_statement.get(), index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        return sqliteError(sqlite3_db_handle(m_statement.get()), "bind failed");
    }
    return {};
}

Status SqliteStatement::bindInt64(int index, std::int64_t value) {
    if (sqlite3_bind_int64(m_statement.get(), index, value) != SQLITE_OK) {
        return sqliteError(sqlite3_db_handle(m_statement.get()), "bind failed");
    }
    return {};
}

int SqliteStatement::columnType(int column) const {
    return sqlite3_column_type(m_statement.get(), column);
}

std::int64_t SqliteStatement::columnInt64(int column) const {
    return sqlite3_column_int64(m_statement.get(), column);
}

std::string_view SqliteStatement::columnBytes(int column) const {
    const void* data = sqlite3_column_blob(m_statement.get(), column);
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    if (data == nullptr || size <= 0) {
        return {};
    }
    return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
}

void SqliteDatabase::Close::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

Result<SqliteDatabase> SqliteDatabase::open(const fs::path& path, std::string_view query,
                                            int flags) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(sqliteFileUri(path, query).c_str(), &raw, flags | SQLITE_OPEN_URI, nullptr);
    SqliteDatabase db(raw);
    if (rc != SQLITE_OK) {
        return sqliteError(raw, path.string());
    }
    // A hostile schema must not get to run functions with side effects.
    sqlite3_exec(raw, "PRAGMA trusted_schema=OFF", nullptr, nullptr, nullptr);
    // SQLite reads lazily: make "file is not a database" show here, not mid-listing.
    auto probe = db.prepare("SELECT count(*) FROM sqlite_master");
    if (!probe) {
        return makeError(Error::Code::Malformed, path.string() + ": " + probe.error().message);
    }
    if (auto row = probe->step(); !row) {
        return makeError(Error::Code::Malformed, path.string() + ": " + row.error().message);
    }
    return db;
}

Result<SqliteDatabase> SqliteDatabase::openImmutable(const fs::path& path) {
    // SQLite would take an absent file for a new empty database.
    auto file = ReadOnlyFile::open(path);
    if (!file) {
        return file.error();
    }
    return open(path, "mode=ro&immutable=1", SQLITE_OPEN_READONLY);
}

Result<SqliteDatabase> SqliteDatabase::openWritable(const fs::path& path) {
    return open(path, "", SQLITE_OPEN_READWRITE);
}

Result<SqliteStatement> SqliteDatabase::prepare(std::string_view sql) const {
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v2(m_db.get(), sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    SqliteStatement statement(raw);
    if (rc != SQLITE_OK || raw == nullptr) {
        return makeError(Error::Code::Malformed, lastError());
    }
    return statement;
}

Status SqliteDatabase::requireTable(std::string_view table,
                                    const std::vector<std::string_view>& columns) const {
    auto kind = prepare("SELECT type FROM sqlite_master WHERE name = ?1 COLLATE NOCASE");
    if (!kind) {
        return kind.error();
    }
    if (auto bound = kind->bindText(1, table); !bound) {
        return bound;
    }
    auto row = kind->step();
    if (!row) {
        return row.error();
    }
    if (!*row) {
        return makeError(Error::Code::Unsupported, "no table " + std::string(table));
    }
    if (kind->columnBytes(0) != "table") {
        return makeError(Error::Code::Unsupported, std::string(table) + " is not a table");
    }
    auto info = prepare("SELECT name FROM pragma_table_info(?1)");
    if (!info) {
        return info.error();
    }
    if (auto bound = info->bindText(1, table); !bound) {
        return bound;
    }
    std::vector<std::string> present;
    for (;;) {
        auto next = info->step();
        if (!next) {
            return next.error();
        }
        if (!*next) {
            break;
        }
        std::string name(info->columnBytes(0));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        present.push_back(std::move(name));
    }
    for (const std::string_view column : columns) {
        std::string wanted(column);
        std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (std::find(present.begin(), present.end(), wanted) == present.end()) {
            return makeError(Error::Code::Unsupported,
                             std::string(table) + " has no column " + std::string(column));
        }
    }
    return {};
}

std::string SqliteDatabase::lastError() const {
    return m_db ? sqlite3_errmsg(m_db.get()) : "no database";
}

namespace {

// Copies `db` and the side files into `copy`, again when the browser changed them meanwhile,
// then lets SQLite apply them there and turn the copy into a plain database.
Result<fs::path> makeSettledCopy(const fs::path& db, const std::vector<std::string>& suffixes,
                                 const PrivateCopy& copy) {
    std::uint64_t needed = 0;
    std::error_code ec;
    needed += fs::file_size(db, ec);
    for (const auto& suffix : suffixes) {
        needed += fs::file_size(sideFile(db, suffix), ec);
    }
    const fs::space_info room = fs::space(copy.folder(), ec);
    if (ec || room.available < needed) {
        return makeError(Error::Code::TooLarge, "no room for a " + std::to_string(needed) +
                                                    "-byte copy in " + copy.folder().string());
    }
    const fs::path target = copy.folder() / db.filename();
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const std::string before = stateOf(db, suffixes);
        // Side files first: a checkpoint in between then leaves the copy newer, not torn.
        for (const auto& suffix : suffixes) {
            if (auto copied = copyFile(sideFile(db, suffix), sideFile(target, suffix)); !copied) {
                return copied.error();
            }
        }
        if (auto copied = copyFile(db, target); !copied) {
            return copied.error();
        }
        if (stateOf(db, suffixes) == before) {
            break;
        }
    }
    auto writable = SqliteDatabase::openWritable(target);
    if (!writable) {
        return writable.error();
    }
    auto settle = writable->prepare("PRAGMA journal_mode=DELETE");
    if (!settle) {
        return settle.error();
    }
    auto row = settle->step();
    if (!row) {
        return row.error();
    }
    if (!*row || settle->columnBytes(0) != "delete") {
        return makeError(Error::Code::Unreadable, "the copy kept its write-ahead log");
    }
    return target;
}

} // namespace

BrowserDatabase::BrowserDatabase(fs::path original, fs::path readPath,
                                 std::shared_ptr<const PrivateCopy> copy)
    : m_original(std::move(original)), m_readPath(std::move(readPath)), m_copy(std::move(copy)) {}

Result<BrowserDatabase> BrowserDatabase::prepare(const fs::path& path, ReadReport& report) {
    if (auto file = ReadOnlyFile::open(path); !file) {
        return file.error();
    }
    const std::vector<std::string> suffixes = pendingSideFiles(path);
    if (suffixes.empty()) {
        return BrowserDatabase(path, path, nullptr);
    }
    auto copy = PrivateCopy::create();
    if (copy) {
        auto settled = makeSettledCopy(path, suffixes, **copy);
        if (settled) {
            return BrowserDatabase(path, *settled, std::move(*copy));
        }
        report.skip(path.string() + ": changes in " + suffixes.front() +
                    " left out: " + settled.error().message);
    } else {
        report.skip(path.string() + ": changes in " + suffixes.front() +
                    " left out: " + copy.error().message);
    }
    return BrowserDatabase(path, path, nullptr);
}

Result<SqliteDatabase> BrowserDatabase::open() const {
    return SqliteDatabase::openImmutable(m_readPath);
}

} // namespace sarnika::sources
