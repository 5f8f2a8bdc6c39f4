#include "cache/sources/webcache/WebCache.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

// libesedb's header includes libbfio's when libesedb was built with it, for functions we do
// not use; Debian's libesedb-dev does not bring libbfio-dev along.
#include <libesedb/features.h>
#undef LIBESEDB_HAVE_BFIO
#include <libesedb.h>

#include "cache/sources/FileAccess.h"
#include "cache/sources/TemporaryCleanup.h"
#include "cache/sources/platform/SqliteFiles.h"
#include "cache/sources/profile/SqliteAccess.h"
#include "cache/sources/webcache/WebCacheRows.h"

namespace sarnika::sources {

namespace fs = std::filesystem;

namespace {

// More containers than this is no WebCache database: Windows makes a few dozen.
constexpr int kMaxContainers = 4096;
// Names, directories and file names of a row.
constexpr std::size_t kMaxNameBytes = 64U << 10U;

// The message of a libesedb error, and the error freed.
class EsedbError {
public:
    EsedbError() = default;
    EsedbError(const EsedbError&) = delete;
    EsedbError& operator=(const EsedbError&) = delete;
    EsedbError(EsedbError&&) = delete;
    EsedbError& operator=(EsedbError&&) = delete;
    ~EsedbError() { libesedb_error_free(&m_error); }

    libesedb_error_t** out() {
        libesedb_error_free(&m_error);
        return &m_error;
    }
    std::string text() {
        std::array<char, 512> buffer{};
        if (m_error == nullptr ||
            libesedb_error_sprint(m_error, buffer.data(), buffer.size()) < 0) {
            return "unreadable";
        }
        std::string message(buffer.data());
        while (!message.empty() && (message.back() == '\n' || message.back() == '.')) {
            message.pop_back();
        }
        return message;
    }

private:
    libesedb_error_t* m_error = nullptr;
};

struct FileCloser {
    void operator()(libesedb_file_t* file) const {
        libesedb_file_close(file, nullptr);
        libesedb_file_free(&file, nullptr);
    }
};
struct TableFree {
    void operator()(libesedb_table_t* table) const { libesedb_table_free(&table, nullptr); }
};
struct RecordFree {
    void operator()(libesedb_record_t* record) const { libesedb_record_free(&record, nullptr); }
};
struct LongValueFree {
    void operator()(libesedb_long_value_t* value) const {
        libesedb_long_value_free(&value, nullptr);
    }
};
struct ColumnFree {
    void operator()(libesedb_column_t* column) const { libesedb_column_free(&column, nullptr); }
};
using EsedbFile = std::unique_ptr<libesedb_file_t, FileCloser>;
using Table = std::unique_ptr<libesedb_table_t, TableFree>;
using Record = std::unique_ptr<libesedb_record_t, RecordFree>;
using LongValue = std::unique_ptr<libesedb_long_value_t, LongValueFree>;
using Column = std::unique_ptr<libesedb_column_t, ColumnFree>;

// A value kept apart from its row: `failed` when libesedb cannot follow it there (this
// happens with the long values of newer databases), the row then holds only its key.
struct Separate {
    bool separate = false;
    bool failed = false;
    LongValue value;
};

Separate longValue(libesedb_record_t* record, int column) {
    Separate result;
    const int isLong = libesedb_record_is_long_value(record, column, nullptr);
    if (isLong == 0) {
        return result;
    }
    result.separate = true;
    libesedb_long_value_t* value = nullptr;
    if (isLong != 1 || libesedb_record_get_long_value(record, column, &value, nullptr) != 1) {
        result.failed = true;
        return result;
    }
    result.value.reset(value);
    return result;
}

// A text column as UTF-8; nothing when it is empty, unreadable or longer than `limit`.
std::optional<std::string> textValue(libesedb_record_t* record, int column, std::size_t limit) {
    std::size_t size = 0;
    std::string text;
    const Separate separate = longValue(record, column);
    if (separate.failed) {
        return std::nullopt;
    }
    if (separate.separate) {
        libesedb_long_value_t* value = separate.value.get();
        if (libesedb_long_value_get_utf8_string_size(value, &size, nullptr) != 1 || size == 0 ||
            size > limit + 1) {
            return std::nullopt;
        }
        text.resize(size);
        if (libesedb_long_value_get_utf8_string(value, reinterpret_cast<std::uint8_t*>(text.data()),
                                                size, nullptr) != 1) {
            return std::nullopt;
        }
    } else {
        if (libesedb_record_get_value_utf8_string_size(record, column, &size, nullptr) != 1 ||
            size == 0 || size > limit + 1) {
            return std::nullopt;
        }
        text.resize(size);
        if (libesedb_record_get_value_utf8_string(
                record, column, reinterpret_cast<std::uint8_t*>(text.data()), size, nullptr) != 1) {
            return std::nullopt;
        }
    }
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return text;
}

// A binary column as stored; nothing when it is empty, unreadable or longer than `limit`.
std::optional<std::string> binaryValue(libesedb_record_t* record, int column, std::uint64_t limit) {
    std::string bytes;
    const Separate separate = longValue(record, column);
    if (separate.failed) {
        return std::nullopt;
    }
    if (separate.separate) {
        size64_t size = 0;
        libesedb_long_value_t* value = separate.value.get();
        if (libesedb_long_value_get_data_size(value, &size, nullptr) != 1 || size == 0 ||
            size > limit) {
            return std::nullopt;
        }
        bytes.resize(static_cast<std::size_t>(size));
        if (libesedb_long_value_get_data(value, reinterpret_cast<std::uint8_t*>(bytes.data()),
                                         bytes.size(), nullptr) != 1) {
            return std::nullopt;
        }
        return bytes;
    }
    std::size_t size = 0;
    if (libesedb_record_get_value_binary_data_size(record, column, &size, nullptr) != 1 ||
        size == 0 || size > limit) {
        return std::nullopt;
    }
    bytes.resize(size);
    if (libesedb_record_get_value_binary_data(
            record, column, reinterpret_cast<std::uint8_t*>(bytes.data()), size, nullptr) != 1) {
        return std::nullopt;
    }
    return bytes;
}

// A fixed-size integer column (8 to 64 bits, little-endian as stored); 0 when it is not set.
std::uint64_t integerValue(libesedb_record_t* record, int column) {
    std::size_t size = 0;
    if (libesedb_record_get_value_data_size(record, column, &size, nullptr) != 1 || size == 0 ||
        size > 8) {
        return 0;
    }
    std::array<std::uint8_t, 8> data{};
    if (libesedb_record_get_value_data(record, column, data.data(), size, nullptr) != 1) {
        return 0;
    }
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) {
        value = (value << 8U) | data[i];
    }
    return value;
}

// The columns of a table by name: -1 for those it lacks.
class Columns {
public:
    explicit Columns(libesedb_table_t* table) {
        int count = 0;
        if (libesedb_table_get_number_of_columns(table, &count, 0, nullptr) != 1) {
            return;
        }
        for (int i = 0; i < count; ++i) {
            libesedb_column_t* raw = nullptr;
            if (libesedb_table_get_column(table, i, &raw, 0, nullptr) != 1) {
                continue;
            }
            const Column column(raw);
            std::size_t size = 0;
            if (libesedb_column_get_utf8_name_size(column.get(), &size, nullptr) != 1 ||
                size == 0 || size > kMaxNameBytes) {
                continue;
            }
            std::string name(size, '\0');
            if (libesedb_column_get_utf8_name(column.get(),
                                              reinterpret_cast<std::uint8_t*>(name.data()), size,
                                              nullptr) == 1) {
                name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
                m_columns.emplace(std::move(name), i);
            }
        }
    }
    int operator[](std::string_view name) const {
        const auto found = m_columns.find(name);
        return found == m_columns.end() ? -1 : found->second;
    }

private:
    std::map<std::string, int, std::less<>> m_columns;
};

std::string text(libesedb_record_t* record, int column) {
    return column < 0 ? std::string() : textValue(record, column, kMaxNameBytes).value_or("");
}
std::uint64_t integer(libesedb_record_t* record, int column) {
    return column < 0 ? 0 : integerValue(record, column);
}

Table tableNamed(libesedb_file_t* file, std::string_view name) {
    libesedb_table_t* table = nullptr;
    if (libesedb_file_get_table_by_utf8_name(file,
                                             reinterpret_cast<const std::uint8_t*>(name.data()),
                                             name.size(), &table, nullptr) != 1) {
        return nullptr;
    }
    return Table(table);
}

// Calls `row` for each record of `table` that libesedb can read; the others are skipped.
template<typename RowFunction>
void forEachRecord(libesedb_table_t* table, std::string_view tableName, ReadReport& report,
                   RowFunction row) {
    int count = 0;
    EsedbError error;
    if (libesedb_table_get_number_of_records(table, &count, error.out()) != 1) {
        report.skip(std::string(tableName) + ": " + error.text());
        return;
    }
    for (int i = 0; i < count; ++i) {
        libesedb_record_t* raw = nullptr;
        if (libesedb_table_get_record(table, i, &raw, error.out()) != 1) {
            report.skip(std::string(tableName) + " row " + std::to_string(i) + ": " + error.text());
            continue;
        }
        const Record record(raw);
        if (!row(record.get())) {
            return;
        }
    }
}

std::vector<WebCacheContainer> readContainers(libesedb_file_t* file, ReadReport& report) {
    std::vector<WebCacheContainer> containers;
    const Table table = tableNamed(file, "Containers");
    if (!table) {
        report.skip("the WebCache database has no Containers table");
        return containers;
    }
    const Columns columns(table.get());
    const int id = columns["ContainerId"];
    const int name = columns["Name"];
    const int directory = columns["Directory"];
    const int secure = columns["SecureDirectories"];
    if (id < 0 || name < 0) {
        report.skip("the WebCache database's Containers table lacks its columns");
        return containers;
    }
    forEachRecord(table.get(), "Containers", report, [&](libesedb_record_t* record) {
        WebCacheContainer container;
        container.id = integer(record, id);
        container.name = text(record, name);
        container.directory = text(record, directory);
        container.secureDirectories = splitSecureDirectories(text(record, secure));
        containers.push_back(std::move(container));
        return containers.size() < kMaxContainers;
    });
    return containers;
}

// When the Containers table cannot be read: a container without name or folders for each
// "Container_<id>" table.
std::vector<WebCacheContainer> unnamedContainers(libesedb_file_t* file) {
    std::vector<WebCacheContainer> containers;
    int count = 0;
    if (libesedb_file_get_number_of_tables(file, &count, nullptr) != 1) {
        return containers;
    }
    for (int i = 0; i < count && containers.size() < kMaxContainers; ++i) {
        libesedb_table_t* raw = nullptr;
        if (libesedb_file_get_table(file, i, &raw, nullptr) != 1) {
            continue;
        }
        const Table table(raw);
        std::size_t size = 0;
        if (libesedb_table_get_utf8_name_size(table.get(), &size, nullptr) != 1 || size == 0 ||
            size > kMaxNameBytes) {
            continue;
        }
        std::string name(size, '\0');
        if (libesedb_table_get_utf8_name(table.get(), reinterpret_cast<std::uint8_t*>(name.data()),
                                         size, nullptr) != 1) {
            continue;
        }
        name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
        constexpr std::string_view kPrefix = "Container_";
        const std::string_view id =
            std::string_view(name).substr(std::min(kPrefix.size(), name.size()));
        if (!name.starts_with(kPrefix) || id.empty() || id.size() > 9 ||
            !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        WebCacheContainer container;
        container.id = std::stoull(std::string(id));
        containers.push_back(std::move(container));
    }
    return containers;
}

void readRows(libesedb_file_t* file, const WebCacheContainer& container,
              std::vector<WebCacheRow>& rows, ReadReport& report) {
    const std::string tableName = "Container_" + std::to_string(container.id);
    const Table table = tableNamed(file, tableName);
    if (!table) {
        return; // Windows drops the table of an emptied container
    }
    const Columns columns(table.get());
    const int entryId = columns["EntryId"];
    const int url = columns["Url"];
    const int fileName = columns["Filename"];
    const int secure = columns["SecureDirectory"];
    const int fileSize = columns["FileSize"];
    const int accessCount = columns["AccessCount"];
    const int exemption = columns["ExemptionDelta"];
    const int extension = columns["FileExtension"];
    const int syncTime = columns["SyncTime"];
    const int expiryTime = columns["ExpiryTime"];
    const int modifiedTime = columns["ModifiedTime"];
    const int accessedTime = columns["AccessedTime"];
    const int headers = columns["ResponseHeaders"];
    if (url < 0) {
        report.skip(tableName + " has no Url column");
        return;
    }
    forEachRecord(table.get(), tableName, report, [&](libesedb_record_t* record) {
        WebCacheRow row;
        row.containerId = container.id;
        row.entryId = integer(record, entryId);
        const auto location = textValue(record, url, kMaxUrlBytes);
        if (!location || location->empty()) {
            if (longValue(record, url).failed) {
                report.skip(tableName + " entry " + std::to_string(row.entryId) +
                            ": its URL is kept where it cannot be read");
            }
            return true; // a row without a URL holds nothing to show
        }
        row.url = *location;
        row.fileName = text(record, fileName);
        row.secureDirectory = static_cast<std::uint32_t>(integer(record, secure));
        row.fileSize = integer(record, fileSize);
        row.accessCount = static_cast<std::uint32_t>(integer(record, accessCount));
        row.exemptionDelta = static_cast<std::uint32_t>(integer(record, exemption));
        row.fileExtension = text(record, extension);
        row.syncTime = integer(record, syncTime);
        row.expiryTime = integer(record, expiryTime);
        row.modifiedTime = integer(record, modifiedTime);
        row.accessedTime = integer(record, accessedTime);
        if (headers >= 0) {
            row.responseHeaders =
                binaryValue(record, headers, kWebCacheMaxHeaderBytes).value_or("");
        }
        if (!report.admit(row.url.size() + row.responseHeaders.size() + row.fileName.size())) {
            return false;
        }
        rows.push_back(std::move(row));
        return true;
    });
}

} // namespace

Result<WebCacheTables> readWebCacheTables(const fs::path& database, bool everyContainer,
                                          ReadReport& report) {
    libesedb_file_t* raw = nullptr;
    EsedbError error;
    if (libesedb_file_initialize(&raw, error.out()) != 1) {
        return makeError(Error::Code::Unreadable, database.string() + ": " + error.text());
    }
    const EsedbFile file(raw);
    const std::string path = database.string();
    if (libesedb_file_open(file.get(), path.c_str(), LIBESEDB_OPEN_READ, error.out()) != 1) {
        return makeError(Error::Code::Malformed, path + ": " + error.text());
    }
    WebCacheTables tables;
    tables.containers = readContainers(file.get(), report);
    if (tables.containers.empty()) {
        tables.containers = unnamedContainers(file.get());
    }
    for (const WebCacheContainer& container : tables.containers) {
        if (!report.budgetSpent && (everyContainer || webCacheContainerGivesEntries(container))) {
            readRows(file.get(), container, tables.rows, report);
        }
    }
    return tables;
}

namespace {

std::vector<CacheRecord> readDatabase(const fs::path& database, const fs::path& folder,
                                      const std::string& identityBase, ReadReport& report) {
    auto tables = readWebCacheTables(database, false, report);
    if (!tables) {
        report.skip(tables.error().message);
        return {};
    }
    return webCacheRecords(tables->containers, tables->rows, folder, identityBase);
}

} // namespace

std::vector<CacheRecord> readWebCache(const fs::path& folder, ReadReport& report) {
    // The cache folders are found from the database's folder upwards: an absolute path of it.
    std::error_code absoluteError;
    const fs::path database =
        webCacheDatabase(fs::absolute(folder, absoluteError).lexically_normal());
    if (database.empty()) {
        report.skip(folder.string() + " holds no WebCacheV01.dat");
        return {};
    }
    // Links, fifos and devices are refused before libesedb opens the path.
    auto check = ReadOnlyFile::open(database);
    if (!check) {
        report.skip(check.error().message);
        return {};
    }
    const std::string identityBase = fileIdentity(database);
    if (!webCacheNeedsCopy(database)) {
        return readDatabase(database, database.parent_path(), identityBase, report);
    }

    std::error_code ec;
    const fs::path root = fs::temp_directory_path(ec);
    if (ec) {
        report.skip("no temporary folder for a copy of " + database.string() + ": " + ec.message());
        return {};
    }
    auto copyFolder = makePrivateFolder((root / temporaryFolderPattern("db")).string());
    if (!copyFolder) {
        report.skip(copyFolder.error().message);
        return {};
    }
    const TemporaryPathGuard folderGuard(*copyFolder);
    const fs::path copy = *copyFolder / database.filename();
    std::vector<CacheRecord> records;
    {
        const TemporaryPathGuard fileGuard(copy);
        const Status copied = copyStoredBytes(database, copy);
        if (copied) {
            records = readDatabase(copy, database.parent_path(), identityBase, report);
        } else {
            report.skip("copying " + database.string() + ": " + copied.error().message);
        }
    }
    fs::remove_all(*copyFolder, ec);
    return records;
}

} // namespace sarnika::sources
