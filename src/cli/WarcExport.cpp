#include "cli/WarcExport.h"

#include <cmath>
#include <optional>

#include "app/platform/LocalFiles.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/HttpHeaders.h"
#include "cli/TerminalText.h"
#include "curation/Warc.h"

namespace sarnika::cli {

namespace {

using curation::ByteSink;
using curation::WarcRecord;

constexpr std::uint64_t kPieceBytes = std::uint64_t{256} * 1024;
constexpr double kDaysFrom1899To1970 = 25569;
constexpr double kSecondsPerDay = 86400;

// The movie's bytes, read afresh at each pass from the size the file had when it was opened.
curation::BodySource bodyOf(const std::string& file) {
    return [file](const ByteSink& sink) -> Status {
        SARNIKA_TRY_ASSIGN(opened, sources::ReadOnlyFile::open(file));
        for (std::uint64_t at = 0; at < opened.size();) {
            SARNIKA_TRY_ASSIGN(piece, opened.read(at, kPieceBytes));
            if (piece.empty()) {
                break;
            }
            at += piece.size();
            SARNIKA_TRY(sink(piece));
        }
        return {};
    };
}

// When the response was made: its Date header, else the time the cache last fetched it.
std::int64_t responseTime(const MovieRow& row, const std::string& head) {
    if (const auto date = sources::parseHttpDate(sources::headerValue(head, "Date"))) {
        return static_cast<std::int64_t>(*date / kFileTimeTicksPerSecond) -
               kFileTimeUnixEpochSeconds;
    }
    const double days = row.entry != nullptr ? row.entry->LastSyncTime : 0;
    if (days <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(std::llround((days - kDaysFrom1899To1970) * kSecondsPerDay));
}

std::string fieldsText(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string text;
    for (const auto& [name, value] : fields) {
        if (!value.empty()) {
            text.append(name).append(": ").append(value).append("\r\n");
        }
    }
    return text;
}

std::string warcinfoOf(const WarcExportRequest& request) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"software", std::string("Sarnika ") + SARNIKA_VERSION},
        {"format", "WARC File Format 1.1"},
        {"conformsTo", "https://iipc.github.io/warc-specifications/specifications/"
                       "warc-format/warc-1.1/"},
        {"description", "Flash movies found in web browser caches"},
        {"exported", curation::warcDate(request.now)}};
    for (const std::string& cache : request.caches) {
        fields.emplace_back("cache", cache);
    }
    return fieldsText(fields);
}

std::string metadataOf(const MovieRow& row) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (row.source) {
        fields = {{"source-browser", row.source->family},
                  {"source-user", row.source->user},
                  {"source-profile", row.source->profile},
                  {"source-folder", row.source->folder}};
    }
    fields.emplace_back("local-file", row.localFile);
    if (row.entry != nullptr && row.entry->LastAccessTime > 0) {
        fields.emplace_back(
            "last-access",
            curation::warcDate(static_cast<std::int64_t>(
                std::llround((row.entry->LastAccessTime - kDaysFrom1899To1970) * kSecondsPerDay))));
    }
    return fieldsText(fields);
}

// The records of one movie: its response or resource, then its metadata.
std::vector<WarcRecord> recordsOf(const MovieRow& row, const std::string& warcinfoId) {
    const std::string stored = row.entry != nullptr ? row.entry->HeaderInfo : std::string();
    WarcRecord body;
    body.recordId = curation::newRecordId();
    body.targetUri = row.url;
    body.date = curation::warcDate(responseTime(row, stored));
    body.fields = {{"WARC-Warcinfo-ID", warcinfoId}};
    body.payload = bodyOf(row.localFile);
    body.digestPayload = true;
    if (stored.rfind("HTTP/", 0) == 0) {
        body.type = "response";
        body.contentType = "application/http; msgtype=response";
        // The readers hand the movie over decoded: a Content-Encoding no longer describes it.
        body.head = curation::archivedHttpHead(stored, row.size.value_or(0),
                                               hasSwfSignature(row.localFile));
    } else {
        body.type = "resource";
        body.contentType = "application/x-shockwave-flash";
    }
    WarcRecord metadata;
    metadata.type = "metadata";
    metadata.recordId = curation::newRecordId();
    metadata.targetUri = row.url;
    metadata.date = body.date;
    metadata.contentType = "application/warc-fields";
    metadata.fields = {{"WARC-Concurrent-To", body.recordId}, {"WARC-Warcinfo-ID", warcinfoId}};
    metadata.payload = [text = metadataOf(row)](const ByteSink& sink) {
        return sink(text);
    };
    return {std::move(body), std::move(metadata)};
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

Result<WarcExportSummary> exportWarc(const std::vector<MovieRow>& rows,
                                     const WarcExportRequest& request, Progress& progress,
                                     std::ostream& err) {
    WarcExportSummary summary;
    const bool gzip = !endsWith(request.target, ".warc");
    const Status written = files::writeNewFile(
        request.target,
        [&](const std::function<Status(std::string_view)>& write) -> Status {
            curation::WarcWriter writer(
                [&](std::string_view bytes) {
                    summary.bytes += bytes.size();
                    return write(bytes);
                },
                gzip);
            WarcRecord info;
            info.type = "warcinfo";
            info.recordId = curation::newRecordId();
            info.date = curation::warcDate(request.now);
            info.contentType = "application/warc-fields";
            info.fields = {
                {"WARC-Filename", std::filesystem::path(request.target).filename().string()}};
            info.payload = [text = warcinfoOf(request)](const ByteSink& sink) {
                return sink(text);
            };
            SARNIKA_TRY(writer.write(info));
            for (std::size_t i = 0; i < rows.size(); ++i) {
                const MovieRow& row = rows[i];
                progress.show("Archiving " + std::to_string(i + 1) + " of " +
                              std::to_string(rows.size()) + ": " + terminalText(row.displayName));
                const auto readable = row.localFile.empty()
                                          ? Result<sources::ReadOnlyFile>(makeError(
                                                Error::Code::NotFound, "the cached file is gone"))
                                          : sources::ReadOnlyFile::open(row.localFile);
                if (!readable) {
                    ++summary.failed;
                    err << "sarnika-cli: " << terminalText(row.url)
                        << ": left out: " << terminalText(readable.error().message) << "\n";
                    continue;
                }
                for (const WarcRecord& record : recordsOf(row, info.recordId)) {
                    SARNIKA_TRY(writer.write(record));
                }
                ++summary.archived;
            }
            progress.clear();
            return {};
        },
        request.replace);
    if (!written) {
        progress.clear();
        return written.error();
    }
    return summary;
}

} // namespace sarnika::cli
