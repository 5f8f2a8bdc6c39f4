#include "curation/MovieArchive.h"

#include <filesystem>

#include "app/platform/LocalFiles.h"
#include "base/Text.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/HttpHeaders.h"
#include "curation/Warc.h"

namespace sarnika::curation {

namespace {

constexpr std::uint64_t kPieceBytes = std::uint64_t{256} * 1024;

// The movie's bytes, read afresh at each pass up to the size the file had when it was opened.
BodySource bodyOf(const std::string& file) {
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

// When the response was made: its Date header, else when the cache last fetched it, else now.
std::int64_t responseTime(const ArchivedMovie& movie, std::int64_t now) {
    if (const auto date = sources::parseHttpDate(sources::headerValue(movie.storedHead, "Date"))) {
        return static_cast<std::int64_t>(*date / kFileTimeTicksPerSecond) -
               kFileTimeUnixEpochSeconds;
    }
    return movie.fetched.value_or(now);
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

BodySource textBody(std::string text) {
    return [text = std::move(text)](const ByteSink& sink) {
        return sink(text);
    };
}

WarcRecord warcinfoOf(const ArchiveRequest& request) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"software", std::string("Sarnika ") + SARNIKA_VERSION},
        {"format", "WARC File Format 1.1"},
        {"conformsTo",
         "https://iipc.github.io/warc-specifications/specifications/warc-format/warc-1.1/"},
        {"description", "Flash movies found in web browser caches"},
        {"exported", warcDate(request.now)}};
    for (const std::string& cache : request.caches) {
        fields.emplace_back("cache", cache);
    }
    WarcRecord info;
    info.type = "warcinfo";
    info.recordId = newRecordId();
    info.date = warcDate(request.now);
    info.contentType = "application/warc-fields";
    info.fields = {{"WARC-Filename", std::filesystem::path(request.target).filename().string()}};
    info.payload = textBody(fieldsText(fields));
    return info;
}

std::string metadataOf(const ArchivedMovie& movie) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (movie.source) {
        fields = {{"source-browser", movie.source->family},
                  {"source-user", movie.source->user},
                  {"source-profile", movie.source->profile},
                  {"source-folder", movie.source->folder}};
    }
    fields.emplace_back("local-file", movie.localFile);
    if (movie.lastAccess) {
        fields.emplace_back("last-access", warcDate(*movie.lastAccess));
    }
    return fieldsText(fields);
}

// Whether the body is stored as it came, in the Content-Encoding the headers give: only gzip
// says so by its first bytes; the readers hand every other body over decoded.
bool keptEncoded(const ArchivedMovie& movie, const sources::ReadOnlyFile& file) {
    const std::string encoding =
        lowerCaseAscii(sources::headerValue(movie.storedHead, "Content-Encoding"));
    const auto start = file.read(0, 2);
    return encoding == "gzip" && start && *start == "\x1f\x8b";
}

// The records of one movie: its response or resource, then its metadata.
std::vector<WarcRecord> recordsOf(const ArchivedMovie& movie, const sources::ReadOnlyFile& file,
                                  const std::string& warcinfoId, std::int64_t now) {
    WarcRecord body;
    body.recordId = newRecordId();
    body.targetUri = movie.url;
    body.date = warcDate(responseTime(movie, now));
    body.fields = {{"WARC-Warcinfo-ID", warcinfoId}};
    body.payload = bodyOf(movie.localFile);
    body.digestPayload = true;
    if (movie.storedHead.rfind("HTTP/", 0) == 0) {
        body.type = "response";
        body.contentType = "application/http; msgtype=response";
        body.head = archivedHttpHead(movie.storedHead, file.size(), !keptEncoded(movie, file));
    } else {
        body.type = "resource";
        body.contentType =
            movie.contentType.empty() ? "application/x-shockwave-flash" : movie.contentType;
    }
    WarcRecord metadata;
    metadata.type = "metadata";
    metadata.recordId = newRecordId();
    metadata.targetUri = movie.url;
    metadata.date = body.date;
    metadata.contentType = "application/warc-fields";
    metadata.fields = {{"WARC-Concurrent-To", body.recordId}, {"WARC-Warcinfo-ID", warcinfoId}};
    metadata.payload = textBody(metadataOf(movie));
    return {std::move(body), std::move(metadata)};
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

std::string mediaTypeOfName(std::string_view name) {
    static const std::pair<std::string_view, std::string_view> kTypes[] = {
        {"swf", "application/x-shockwave-flash"},
        {"flv", "video/x-flv"},
        {"mp4", "video/mp4"},
        {"mp3", "audio/mpeg"},
        {"wav", "audio/wav"},
        {"xml", "text/xml"},
        {"txt", "text/plain"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"js", "text/javascript"},
        {"css", "text/css"},
        {"json", "application/json"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
    };
    const std::size_t cut = name.find_first_of("?#");
    name = name.substr(0, cut);
    const std::size_t dot = name.rfind('.');
    const std::size_t slash = name.find_last_of("/\\");
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        const std::string extension = lowerCaseAscii(name.substr(dot + 1));
        for (const auto& [known, type] : kTypes) {
            if (extension == known) {
                return std::string(type);
            }
        }
    }
    return "application/octet-stream";
}

Result<ArchiveSummary> writeMovieArchive(const std::vector<ArchivedMovie>& movies,
                                         const ArchiveRequest& request, const ArchiveStep& step) {
    ArchiveSummary summary;
    const bool gzip = !endsWith(request.target, ".warc");
    const Status written = files::writeNewFile(
        request.target,
        [&](const std::function<Status(std::string_view)>& write) -> Status {
            WarcWriter writer(
                [&](std::string_view bytes) {
                    summary.bytes += bytes.size();
                    return write(bytes);
                },
                gzip);
            const WarcRecord info = warcinfoOf(request);
            SARNIKA_TRY(writer.write(info));
            for (std::size_t i = 0; i < movies.size(); ++i) {
                if (step && !step(i, movies.size())) {
                    return makeError(Error::Code::Cancelled, "The export was cancelled.");
                }
                const ArchivedMovie& movie = movies[i];
                const auto file = movie.localFile.empty()
                                      ? Result<sources::ReadOnlyFile>(makeError(
                                            Error::Code::NotFound, "the cached file is gone"))
                                      : sources::ReadOnlyFile::open(movie.localFile);
                if (!file) {
                    summary.leftOut.push_back(movie.url + ": " + file.error().message);
                    continue;
                }
                for (const WarcRecord& record :
                     recordsOf(movie, *file, info.recordId, request.now)) {
                    SARNIKA_TRY(writer.write(record));
                }
                ++summary.archived;
            }
            return {};
        },
        request.replace);
    if (!written) {
        return written.error();
    }
    return summary;
}

} // namespace sarnika::curation
