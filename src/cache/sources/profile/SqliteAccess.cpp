#include "cache/sources/profile/SqliteAccess.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "cache/sources/FileAccess.h"
#include "cache/sources/TemporaryCleanup.h"
#include "cache/sources/platform/SqliteFiles.h"

namespace sarnika::sources {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kCopyChunk = 1U << 20U;
// A -wal or hot -journal larger than this is left out rather than copied: SQLite checkpoints
// a browser's log long before (Firefox and Chromium keep theirs to a few MiB), so only a
// damaged or crafted file comes near it.
constexpr std::uint64_t kSideFileCap = 256ULL << 20U;
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

bool isHotJournal(const ReadOnlyFile& journal) {
    const auto head = journal.read(0, kJournalMagic.size());
    return head && head->size() == kJournalMagic.size() &&
           std::equal(kJournalMagic.begin(), kJournalMagic.end(), head->begin(),
                      [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
}

// The files beside `db` that hold changes the database file itself lacks, and are fit to be
// copied: regular files (no link, fifo or device) of a sensible size.
std::vector<std::string> pendingSideFiles(const fs::path& db, ReadReport& report) {
    std::vector<std::string> suffixes;
    for (const char* suffix : {"-wal", "-journal"}) {
        auto side = ReadOnlyFile::open(sideFile(db, suffix));
        if (!side) {
            if (side.error().code != Error::Code::NotFound) {
                report.skip(side.error().message);
            }
            continue;
        }
        const bool pending =
            suffix == std::string_view("-wal") ? side->size() > 0 : isHotJournal(*side);
        if (!pending) {
            continue;
        }
        if (side->size() > kSideFileCap) {
            report.skip(sideFile(db, suffix).string() + ": " + std::to_string(side->size()) +
                        " bytes, more than a side file of a browser's database holds; "
                        "its changes are left out");
            continue;
        }
        suffixes.emplace_back(suffix);
    }
    return suffixes;
}

std::string stateOf(const fs::path& db, const std::vector<std::string>& suffixes) {
    std::string state = fileIdentity(db);
    for (const auto& suffix : suffixes) {
        state += "\n" + fileIdentity(sideFile(db, suffix));
    }
    return state;
}

} // namespace

Status copyStoredBytes(const fs::path& from, const fs::path& to) {
    auto source = ReadOnlyFile::open(from);
    if (!source) {
        return source.error();
    }
    auto copy = PrivateFile::create(to);
    if (!copy) {
        return copy.error();
    }
    // Only the bytes the file had when we opened it: a growing -wal ends in frames SQLite
    // rejects by their checksums anyway.
    const std::uint64_t total = source->size();
    Status status;
    std::uint64_t offset = source->dataFrom(0);
    while (offset < total && status) {
        const std::uint64_t hole = std::max(source->holeFrom(offset), offset + 1);
        while (offset < hole && status) {
            auto chunk = source->read(offset, std::min(kCopyChunk, hole - offset));
            if (!chunk) {
                status = chunk.error();
            } else if (chunk->empty()) {
                offset = total; // the file shrank
            } else {
                status = copy->writeAt(offset, *chunk);
                offset += chunk->size();
            }
        }
        offset = offset < total ? source->dataFrom(offset) : total;
    }
    if (status) {
        status = copy->finish(total);
    }
    return status;
}

// A folder of ours under the system's temporary folder, removed with its contents: when the
// last user lets it go, on SIGINT or SIGTERM, or by the next run after a kill.
class PrivateCopy {
public:
    static Result<std::shared_ptr<PrivateCopy>> create() {
        std::error_code ec;
        const fs::path root = fs::temp_directory_path(ec);
        if (ec) {
            return makeError(Error::Code::WriteFailed, "no temporary folder: " + ec.message());
        }
        auto folder = makePrivateFolder((root / temporaryFolderPattern("db")).string());
        if (!folder) {
            return folder.error();
        }
        return std::shared_ptr<PrivateCopy>(new PrivateCopy(std::move(folder.value())));
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

    // The copy of a database: its file and those SQLite may put beside it, all registered for
    // removal on a signal before any of them exists.
    fs::path databaseFile(const fs::path& name) {
        fs::path file = m_folder / name;
        for (const char* suffix : {"", "-wal", "-journal", "-shm"}) {
            m_guards.push_back(std::make_unique<TemporaryPathGuard>(sideFile(file, suffix)));
        }
        return file;
    }

private:
    explicit PrivateCopy(fs::path folder)
        : m_folder(std::move(folder)),
          m_folderGuard(std::make_unique<TemporaryPathGuard>(m_folder)) {}
    fs::path m_folder;
    std::unique_ptr<TemporaryPathGuard> m_folderGuard;
    std::vector<std::unique_ptr<TemporaryPathGuard>> m_guards;
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
    openDatabasesKeepingAccessTimes();
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
    return open(path, "mode=ro&immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW);
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
                                 PrivateCopy& copy) {
    // What the copies take on disk: the stored bytes, not the holes of sparse files.
    std::vector<std::string> files = suffixes;
    files.emplace_back();
    std::uint64_t needed = 0;
    for (const std::string& suffix : files) {
        if (auto file = ReadOnlyFile::open(sideFile(db, suffix))) {
            needed += file->allocated();
        }
    }
    std::error_code ec;
    const fs::space_info room = fs::space(copy.folder(), ec);
    if (ec || room.available < needed) {
        return makeError(Error::Code::TooLarge, "no room for a " + std::to_string(needed) +
                                                    "-byte copy in " + copy.folder().string());
    }
    const fs::path target = copy.databaseFile(db.filename());
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const std::string before = stateOf(db, suffixes);
        // Side files first: a checkpoint in between then leaves the copy newer, not torn.
        for (const auto& suffix : suffixes) {
            if (auto copied = copyStoredBytes(sideFile(db, suffix), sideFile(target, suffix));
                !copied) {
                return copied.error();
            }
        }
        if (auto copied = copyStoredBytes(db, target); !copied) {
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

std::optional<BrowserDatabase::Opened> BrowserDatabase::openForReading(const fs::path& path,
                                                                       ReadReport& report) {
    auto source = prepare(path, report);
    if (!source) {
        report.skip(source.error().message);
        return std::nullopt;
    }
    auto db = source->open();
    if (!db) {
        report.skip(db.error().message);
        return std::nullopt;
    }
    return Opened{std::move(*source), std::move(*db)};
}

Result<BrowserDatabase> BrowserDatabase::prepare(const fs::path& path, ReadReport& report) {
    if (auto file = ReadOnlyFile::open(path); !file) {
        return file.error();
    }
    const std::vector<std::string> suffixes = pendingSideFiles(path, report);
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
