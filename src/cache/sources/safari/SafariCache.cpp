#include "cache/sources/safari/SafariCache.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <sqlite3.h>

#include "base/Text.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/HttpHeaders.h"
#include "cache/sources/profile/SqliteAccess.h"
#include "cache/sources/safari/BinaryPlist.h"
#include "cache/sources/safari/XmlPlist.h"

namespace sarnika::sources {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDatabaseName = "Cache.db";
constexpr std::string_view kBodyFolder = "fsCachedData";
// The response's header dictionary keeps, under this name, the headers once more in the
// server's order with repeated names: "\r\n\r\n" and a base64 binary property list.
constexpr std::string_view kOrderedHeadersKey = "__hhaa__";
// Stands for a value the response did not have (an unknown expected length, for one).
constexpr std::string_view kNullToken = "__CFURLResponseNullTokenString__";
// Seconds from 1970-01-01 to 2001-01-01, the epoch of the response times.
constexpr double kAppleEpochUnixSeconds = 978'307'200.0;
// Longest name of a body file: a UUID takes 36 characters.
constexpr std::size_t kMaxBodyNameBytes = 255;
// Walks over the rows of a damaged database, each going on after damage that stopped the last.
constexpr int kMaxWalks = 64;

Error malformed(std::string what) {
    return Error{Error::Code::Malformed, std::move(what)};
}

// Seconds since 2001 as a file time; 0 for what is no time a cache could hold.
FileTime fileTimeFromAppleSeconds(double seconds) {
    const double unixSeconds = seconds + kAppleEpochUnixSeconds;
    if (!std::isfinite(unixSeconds) || unixSeconds <= 0 || unixSeconds > 1e11) {
        return 0;
    }
    const auto whole = static_cast<std::int64_t>(unixSeconds);
    const auto fraction = static_cast<FileTime>((unixSeconds - static_cast<double>(whole)) *
                                                static_cast<double>(kFileTimeTicksPerSecond));
    return fileTimeFromUnixSeconds(whole) + fraction;
}

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The ordered copy kept under kOrderedHeadersKey: names to arrays of values.
std::optional<HeaderList> orderedHeaders(const PlistValue& dict) {
    const PlistValue* kept = dict.find(kOrderedHeadersKey);
    if (kept == nullptr || !kept->is(PlistValue::Type::String)) {
        return std::nullopt;
    }
    const auto bytes = base64Decode(kept->text);
    if (!bytes) {
        return std::nullopt;
    }
    auto inner = parsePropertyList(*bytes);
    if (!inner || !inner->is(PlistValue::Type::Dict)) {
        return std::nullopt;
    }
    HeaderList headers;
    for (std::size_t i = 0; i < inner->keys.size(); ++i) {
        const PlistValue& value = inner->items[i];
        if (value.is(PlistValue::Type::String)) {
            headers.emplace_back(inner->keys[i], value.text);
            continue;
        }
        if (!value.is(PlistValue::Type::Array)) {
            return std::nullopt;
        }
        for (const PlistValue& item : value.items) {
            if (!item.is(PlistValue::Type::String)) {
                return std::nullopt;
            }
            headers.emplace_back(inner->keys[i], item.text);
        }
    }
    return headers;
}

HeaderList headersOf(const PlistValue& dict) {
    if (auto ordered = orderedHeaders(dict)) {
        return std::move(*ordered);
    }
    HeaderList headers;
    for (std::size_t i = 0; i < dict.keys.size(); ++i) {
        if (dict.items[i].is(PlistValue::Type::String) && dict.keys[i] != kOrderedHeadersKey) {
            headers.emplace_back(dict.keys[i], dict.items[i].text);
        }
    }
    return headers;
}

// The URL of a row. Later versions add the host of the page that made the request to the key
// ("<url>[<host>]"), to keep the caches of different sites apart.
std::string urlOf(std::string_view requestKey, std::string_view responseUrl) {
    if (!responseUrl.empty() && requestKey.size() > responseUrl.size() + 1 &&
        requestKey.starts_with(responseUrl) && requestKey[responseUrl.size()] == '[' &&
        requestKey.ends_with(']')) {
        return std::string(responseUrl);
    }
    return std::string(requestKey);
}

// A name in fsCachedData/: one plain name, never a path or a way out of the folder.
bool isPlainName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxBodyNameBytes && name != "." && name != ".." &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return static_cast<unsigned char>(c) >= 0x20 && c != '/' && c != '\\' && c != ':';
           });
}

// How the database's version keeps the bodies.
struct Layout {
    bool receiverTable = false; // cfurl_cache_receiver_data (since 2011); else in the blob table
    bool dataOnFs = false;      // its isDataOnFS column (since 2013)
};

std::string listingQuery(const Layout& layout) {
    const std::string data = layout.receiverTable ? "d.receiver_data" : "b.receiver_data";
    const std::string onFs = layout.dataOnFs ? "coalesce(d.isDataOnFS, 0)" : "0";
    const std::string length = "CASE typeof(" + data + ") WHEN 'blob' THEN length(" + data +
                               ") ELSE length(CAST(" + data + " AS BLOB)) END";
    std::string sql = "SELECT r.entry_ID, r.request_key, r.time_stamp, length(b.response_object), "
                      "typeof(b.response_object), " +
                      onFs + ", typeof(" + data + "), " + length + ", CASE WHEN " + onFs +
                      " = 1 AND " + length + " <= " + std::to_string(kMaxBodyNameBytes) +
                      " THEN CAST(" + data + " AS BLOB) END, b.response_object " +
                      "FROM cfurl_cache_response r " +
                      "LEFT JOIN cfurl_cache_blob_data b ON b.entry_ID = r.entry_ID ";
    if (layout.receiverTable) {
        sql += "LEFT JOIN cfurl_cache_receiver_data d ON d.entry_ID = r.entry_ID ";
    }
    return sql + "WHERE r.entry_ID >= ?1 ORDER BY r.entry_ID";
}

std::string bodyQuery(const Layout& layout) {
    const std::string table =
        layout.receiverTable ? "cfurl_cache_receiver_data" : "cfurl_cache_blob_data";
    return "SELECT length(CAST(receiver_data AS BLOB)), substr(CAST(receiver_data AS BLOB), 1, "
           "?2) FROM " +
           table + " WHERE entry_ID = ?1";
}

// Reads the bodies kept in the rows of one database, over one connection opened at the first
// read and kept while any record of the listing lives. Reads may come from several threads.
class RowBodies {
public:
    RowBodies(BrowserDatabase source, std::string query)
        : m_source(std::move(source)), m_query(std::move(query)) {}

    // The body of a row as the database holds it now, provided it still has the listed length.
    Result<std::string> read(std::int64_t entryId, std::uint64_t size, std::uint64_t limit) {
        const std::lock_guard lock(m_mutex);
        // An immutable connection would not see the browser rewrite the file: a new one does.
        std::string identity = fileIdentity(m_source.original());
        if (!m_db || identity != m_identity) {
            m_db.reset();
            SARNIKA_TRY_ASSIGN(db, m_source.open());
            m_db.emplace(std::move(db));
            m_identity = std::move(identity);
        }
        SARNIKA_TRY_ASSIGN(row, m_db->prepare(m_query));
        const std::uint64_t wanted = std::min(size, limit);
        SARNIKA_TRY(row.bindInt64(1, entryId));
        SARNIKA_TRY(row.bindInt64(2, static_cast<std::int64_t>(wanted)));
        SARNIKA_TRY_ASSIGN(found, row.step());
        if (!found || row.columnInt64(0) != static_cast<std::int64_t>(size)) {
            return makeError(Error::Code::NotFound, m_source.original().string() + ": entry " +
                                                        std::to_string(entryId) +
                                                        " changed or went since it was listed");
        }
        return std::string(row.columnBytes(1).substr(0, static_cast<std::size_t>(wanted)));
    }

private:
    std::mutex m_mutex;
    BrowserDatabase m_source;
    std::string m_query;
    std::optional<SqliteDatabase> m_db;
    std::string m_identity; // of the database when m_db was opened
};

BodyReader fileReader(std::string path, std::string identity, std::uint64_t size) {
    return [path = std::move(path), identity = std::move(identity),
            size](std::uint64_t limit) -> Result<std::string> {
        auto file = ReadOnlyFile::open(path.c_str());
        if (!file) {
            return file.error();
        }
        if (file->identity() != identity) {
            return makeError(Error::Code::Unreadable, path + ": changed since it was listed");
        }
        const std::uint64_t wanted = std::min(limit, size);
        auto body = file->read(0, wanted);
        if (body && body->size() != wanted) {
            return makeError(Error::Code::Unreadable, path + ": body cut short");
        }
        return body;
    };
}

class CacheReader {
public:
    CacheReader(fs::path folder, ReadReport& report)
        : m_folder(std::move(folder)), m_database(m_folder / kDatabaseName), m_report(report) {}

    void read(std::vector<CacheRecord>& records) {
        auto opened = BrowserDatabase::openForReading(m_database, m_report);
        if (!opened) {
            return;
        }
        const SqliteDatabase& db = opened->db;
        Status schema =
            db.requireTable("cfurl_cache_response", {"entry_ID", "request_key", "time_stamp"});
        if (schema) {
            schema = db.requireTable("cfurl_cache_blob_data", {"entry_ID", "response_object"});
        }
        if (!schema) {
            m_report.skip(m_database.string() + ": " + schema.error().message);
            return;
        }
        Layout layout;
        layout.receiverTable = static_cast<bool>(
            db.requireTable("cfurl_cache_receiver_data", {"entry_ID", "receiver_data"}));
        layout.dataOnFs =
            layout.receiverTable &&
            static_cast<bool>(db.requireTable("cfurl_cache_receiver_data", {"isDataOnFS"}));
        if (!layout.receiverTable) {
            if (Status old = db.requireTable("cfurl_cache_blob_data", {"receiver_data"}); !old) {
                m_report.skip(m_database.string() + ": no table of bodies: " + old.error().message);
                return;
            }
        }
        std::error_code error;
        const fs::path bodyFolder = m_folder / kBodyFolder;
        // The folder of body files must be a folder of the cache, not a link to elsewhere.
        m_bodyFolderUsable =
            fs::symlink_status(bodyFolder, error).type() == fs::file_type::directory;
        m_bodies = std::make_shared<RowBodies>(opened->source, bodyQuery(layout));

        // Damage to the database's pages stops a walk over its rows. The walk then goes on from
        // the first entry from which rows can be read again, found by doubling the distance and
        // then halving it: only the entries of the damaged pages are lost.
        const std::string query = listingQuery(layout);
        std::int64_t from = 0;
        for (int walks = 0; walks < kMaxWalks; ++walks) {
            const auto stoppedAfter = walk(db, query, from, records);
            if (!stoppedAfter) {
                return;
            }
            std::int64_t unreadable = *stoppedAfter + 1;
            std::optional<std::int64_t> readable;
            for (std::int64_t gap = 1; gap <= (std::int64_t{1} << 62U); gap *= 2) {
                if (*stoppedAfter > std::numeric_limits<std::int64_t>::max() - 1 - gap) {
                    break;
                }
                if (readableFrom(db, query, *stoppedAfter + 1 + gap)) {
                    readable = *stoppedAfter + 1 + gap;
                    break;
                }
                unreadable = *stoppedAfter + 1 + gap;
            }
            if (!readable) {
                return;
            }
            while (unreadable + 1 < *readable) {
                const std::int64_t middle = unreadable + (*readable - unreadable) / 2;
                (readableFrom(db, query, middle) ? *readable : unreadable) = middle;
            }
            from = *readable;
        }
    }

private:
    // Lists the rows from entry `from` on. Answers the last entry reached where damage stopped
    // the walk, nothing at its end.
    std::optional<std::int64_t> walk(const SqliteDatabase& db, const std::string& query,
                                     std::int64_t from, std::vector<CacheRecord>& records) {
        auto rows = db.prepare(query);
        if (!rows || !rows->bindInt64(1, from)) {
            m_report.skip(m_database.string() + ": " +
                          (rows ? db.lastError() : rows.error().message));
            return std::nullopt;
        }
        std::int64_t last = from - 1;
        for (;;) {
            auto next = rows->step();
            if (!next) {
                m_report.skip(m_database.string() + ": reading stopped after entry " +
                              std::to_string(last) + ": " + next.error().message);
                return last;
            }
            if (!*next || m_report.budgetSpent) {
                return std::nullopt;
            }
            last = std::max(last, rows->columnInt64(0));
            auto record = recordOf(*rows);
            if (!record) {
                m_report.skip(m_database.string() + ": entry " +
                              std::to_string(rows->columnInt64(0)) + ": " + record.error().message);
                continue;
            }
            if (m_report.admit(record->url.size() + record->headers.size() +
                               record->localFile.size())) {
                records.push_back(std::move(*record));
            }
        }
    }

    // Whether rows can be read from entry `from` on (or none follow).
    static bool readableFrom(const SqliteDatabase& db, const std::string& query,
                             std::int64_t from) {
        auto rows = db.prepare(query);
        return rows && rows->bindInt64(1, from) && rows->step().ok();
    }

    Result<CacheRecord> recordOf(const SqliteStatement& row) {
        const std::int64_t entryId = row.columnInt64(0);
        if (row.columnType(1) != SQLITE_TEXT || row.columnBytes(1).empty() ||
            row.columnBytes(1).size() > kMaxUrlBytes) {
            return malformed("no URL, or one of more than 2 MiB");
        }
        if (row.columnType(4) != SQLITE_TEXT || row.columnBytes(4) != "blob") {
            return malformed("no response object");
        }
        if (row.columnInt64(3) > static_cast<std::int64_t>(kSafariResponseMaxBytes)) {
            return malformed("response object larger than 1 MiB");
        }
        SARNIKA_TRY_ASSIGN(response, parseSafariResponse(row.columnBytes(9)));
        const std::string timeStamp(row.columnType(2) == SQLITE_TEXT ? row.columnBytes(2) : "");

        CacheRecord record;
        record.kind = RecordKind::Content;
        record.url = urlOf(row.columnBytes(1), response.url);
        const std::string dataType(row.columnBytes(6));
        if (dataType == "null") {
            return malformed("no body");
        }
        const auto stored =
            static_cast<std::uint64_t>(std::max<std::int64_t>(row.columnInt64(7), 0));
        if (row.columnInt64(5) == 1) {
            const std::string_view name = row.columnBytes(8);
            if (!isPlainName(name)) {
                return malformed("body file name that is no plain name");
            }
            if (!m_bodyFolderUsable) {
                return malformed("no " + std::string(kBodyFolder) + " folder for its body file");
            }
            const fs::path path = m_folder / kBodyFolder / fs::path(std::string(name));
            auto file = ReadOnlyFile::open(path);
            if (!file) {
                return malformed("body file: " + file.error().message);
            }
            record.size = file->size();
            record.localFile = path.string();
            record.identity = file->identity();
            record.body = fileReader(record.localFile, record.identity, record.size);
        } else {
            record.size = stored;
            record.identity = m_database.string() + "#" + std::to_string(entryId) + "|" +
                              timeStamp + "|" + std::to_string(stored);
            record.body = [bodies = m_bodies, entryId, stored](std::uint64_t limit) {
                return bodies->read(entryId, stored, limit);
            };
        }
        record.headers = safariHeaders(response, record.size);
        record.lastAccess = fileTimeFromSqliteTimestamp(timeStamp).value_or(0);
        record.lastSync = response.responseTime != 0 ? response.responseTime : record.lastAccess;
        for (const auto& [name, value] : response.headers) {
            if (equalsIgnoringAsciiCase(name, "Last-Modified")) {
                record.lastModified = parseHttpDate(value).value_or(0);
            } else if (equalsIgnoringAsciiCase(name, "Expires")) {
                record.expires = parseHttpDate(value).value_or(0);
            }
        }
        return record;
    }

    fs::path m_folder;
    fs::path m_database;
    ReadReport& m_report;
    bool m_bodyFolderUsable = false;
    std::shared_ptr<RowBodies> m_bodies;
};

} // namespace

Result<SafariResponse> parseSafariResponse(std::string_view responseObject) {
    if (responseObject.size() > kSafariResponseMaxBytes) {
        return Error{Error::Code::TooLarge, "response object larger than 1 MiB"};
    }
    SARNIKA_TRY_ASSIGN(root, parsePropertyList(responseObject));
    const PlistValue* array = root.find("Array");
    if (array == nullptr || !array->is(PlistValue::Type::Array) || array->items.empty()) {
        return malformed("response object without its array");
    }
    const std::vector<PlistValue>& items = array->items;
    SafariResponse response;
    const PlistValue& url = items[0];
    if (const PlistValue* string = url.find("_CFURLString")) {
        response.url = string->text;
    } else if (url.is(PlistValue::Type::String)) {
        response.url = url.text;
    }
    if (items.size() > 1 &&
        (items[1].is(PlistValue::Type::Real) || items[1].is(PlistValue::Type::Date))) {
        response.responseTime = fileTimeFromAppleSeconds(items[1].real);
    }
    // The header dictionary follows the status; the expected length and the MIME type follow it.
    const auto headers = std::find_if(items.begin() + 1, items.end(), [](const PlistValue& item) {
        return item.is(PlistValue::Type::Dict);
    });
    if (headers == items.end()) {
        return response; // a response without headers (not HTTP)
    }
    const PlistValue& status = *(headers - 1);
    if (status.is(PlistValue::Type::Integer) && status.integer >= 100 && status.integer <= 999) {
        response.status = status.integer;
    }
    response.headers = headersOf(*headers);
    for (auto it = headers + 1; it != items.end(); ++it) {
        if (it->is(PlistValue::Type::String) && it->text != kNullToken) {
            response.mimeType = it->text;
        }
    }
    return response;
}

std::string safariHeaders(const SafariResponse& response, std::uint64_t storedSize) {
    if (!response.status) {
        return {};
    }
    std::string out = "HTTP/1.1 " + std::to_string(*response.status);
    if (const std::string_view reason = httpReasonPhrase(*response.status); !reason.empty()) {
        out.append(" ").append(reason);
    }
    out += "\r\n";
    // The cache keeps the body as the browser received it, decoded: the headers that describe
    // the bytes as sent are left out, and the stored length stands in.
    for (const auto& [name, value] : response.headers) {
        if (!isHeaderName(name) || !isSafeHeaderText(value) ||
            equalsIgnoringAsciiCase(name, "Content-Encoding") ||
            equalsIgnoringAsciiCase(name, "Content-Length") ||
            equalsIgnoringAsciiCase(name, "Transfer-Encoding")) {
            continue;
        }
        out.append(name).append(": ").append(value).append("\r\n");
    }
    out.append("Content-Length: ").append(std::to_string(storedSize)).append("\r\n\r\n");
    return out;
}

std::optional<FileTime> fileTimeFromSqliteTimestamp(std::string_view text) {
    // YYYY-MM-DD HH:MM:SS
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    std::array<int, 6> fields{};
    const std::array<std::size_t, 6> starts{0, 5, 8, 11, 14, 17};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t length = i == 0 ? 4 : 2;
        for (std::size_t j = starts[i]; j < starts[i] + length; ++j) {
            if (text[j] < '0' || text[j] > '9') {
                return std::nullopt;
            }
            fields[i] = fields[i] * 10 + (text[j] - '0');
        }
    }
    const auto [year, month, day, hour, minute, second] = fields;
    const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] ||
        hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    constexpr std::int64_t kUnixEpochDay = 25'569; // 1970-01-01 counted from 1899-12-30
    const std::int64_t days = dayNumber(year, month, day) - kUnixEpochDay;
    return fileTimeFromUnixSeconds(days * 86'400 + std::int64_t{hour} * 3'600 +
                                   std::int64_t{minute} * 60 + second);
}

std::vector<CacheRecord> readSafariCache(const fs::path& folder, ReadReport& report) {
    std::vector<CacheRecord> records;
    std::error_code error;
    if (!fs::is_regular_file(folder / kDatabaseName, error)) {
        report.skip(folder.string() + ": no " + std::string(kDatabaseName));
        return records;
    }
    CacheReader(folder, report).read(records);
    return records;
}

bool looksLikeSafariCache(const fs::path& folder) {
    const fs::path path = folder / kDatabaseName;
    // The SQLite header first: most folders have no such file, and nothing else is opened.
    auto file = ReadOnlyFile::open(path);
    if (!file) {
        return false;
    }
    auto header = file->read(0, 16);
    if (!header || *header != std::string_view("SQLite format 3\0", 16)) {
        return false;
    }
    auto db = SqliteDatabase::openImmutable(path);
    return db && db->requireTable("cfurl_cache_response", {"request_key", "time_stamp"});
}

} // namespace sarnika::sources
