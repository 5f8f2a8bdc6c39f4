#include "cli/MovieScan.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <unordered_map>

#include "base/Text.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/LocalNames.h"
#include "cli/JsonWriter.h"
#include "cli/TerminalText.h"
#include "movies/MovieList.h"

namespace sarnika::cli {
namespace {

std::string entryKey(const std::string& localFile, const std::string& url) {
    return localFile + '\n' + url;
}

// The shortest text that reads back as the same number.
std::string numberText(double value) {
    std::array<char, 32> text{};
    auto* const end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return {text.data(), end};
}

MovieRow rowOf(const std::string& localFile, const std::string& url, bool sniffed) {
    MovieRow row;
    row.displayName = DisplayName(url);
    row.suggestedName = SuggestedName(url);
    row.host = HostFromUrl(url);
    row.url = url;
    row.localFile = localFile;
    row.sniffed = sniffed;
    std::error_code error;
    if (!localFile.empty() && std::filesystem::is_regular_file(localFile, error)) {
        const std::uintmax_t size = std::filesystem::file_size(localFile, error);
        if (!error) {
            row.size = size;
        }
    }
    return row;
}

} // namespace

MovieScan::MovieScan(UrlCachePort& cache, SourceLookup lookup)
    : m_analyzer(cache, m_utc), m_lookup(std::move(lookup)) {}

std::vector<MovieRow> MovieScan::run(bool sniff, const std::function<void(std::size_t)>& tick) {
    std::size_t seen = 0;
    if (tick) {
        m_analyzer.Cache().SetOnEntry([this, &seen, &tick](TIECache& sender, bool& cancel) {
            m_analyzer.EntryFound(sender, cancel);
            tick(++seen);
        });
    }
    m_analyzer.Rescan();
    m_analyzer.SortMultimediaBySize();
    MovieList movies;
    movies.LoadFromText(m_analyzer.GetFlashMovies());

    std::unordered_map<std::string, const TEntryInfo*> entries;
    for (const auto& entry : m_analyzer.MultimediaEntries()) {
        entries.emplace(entryKey(entry->LocalFileName, entry->SourceUrlName), entry.get());
    }
    std::vector<MovieRow> rows;
    for (std::size_t i = 0; i < movies.MovieCount(); ++i) {
        // Only pairs that are entries of the scan are movies, whatever the query's text holds.
        if (entries.contains(entryKey(movies.CacheFile(i), movies.Url(i)))) {
            rows.push_back(rowOf(movies.CacheFile(i), movies.Url(i), false));
        }
    }
    if (sniff) {
        std::vector<std::string> sniffed;
        for (const auto& entry : m_analyzer.MultimediaEntries()) {
            if (lowerCaseAscii(entry->SourceUrlName).find(".swf") == std::string::npos &&
                hasSwfSignature(entry->LocalFileName)) {
                sniffed.push_back(entry->LocalFileName);
                sniffed.push_back(entry->SourceUrlName);
            }
        }
        sniffed = WithoutDuplicateMovies(std::move(sniffed));
        for (std::size_t i = 0; i + 1 < sniffed.size(); i += 2) {
            rows.push_back(rowOf(sniffed[i], sniffed[i + 1], true));
        }
    }
    for (MovieRow& row : rows) {
        if (const auto found = entries.find(entryKey(row.localFile, row.url));
            found != entries.end()) {
            row.entry = found->second;
        }
        if (m_lookup) {
            row.source = m_lookup(row.localFile);
        }
    }
    return rows;
}

bool hasSwfSignature(const std::string& file) {
    if (file.empty()) {
        return false;
    }
    // As the readers open cache files: a link, fifo or device put there meanwhile is refused.
    const auto head = sources::readFileRange(file, 0, 8);
    return head && sources::extensionOfSignature(*head) == "swf";
}

std::string listLine(const MovieRow& row) {
    return terminalText(row.displayName) + '\t' + (row.size ? std::to_string(*row.size) : "-") +
           '\t' + terminalText(row.host) + '\t' + terminalText(row.url) + '\t' +
           terminalText(row.localFile);
}

std::string jsonOf(const std::optional<sources::SourceDescription>& source) {
    if (!source) {
        return "null";
    }
    return JsonObject()
        .add("family", source->family)
        .add("profile", source->profile)
        .add("folder", source->folder)
        .text();
}

void readSwfHeaders(std::vector<MovieRow>& rows) {
    for (MovieRow& row : rows) {
        if (row.size) {
            row.swf = sources::readSwfHeaderFile(row.localFile);
        }
    }
}

std::string jsonOf(const Result<sources::SwfHeader>& header) {
    if (!header) {
        return JsonObject().add("error", header.error().message).text();
    }
    const auto stageField = [&header](auto field) {
        return header->stage ? numberText(field(*header->stage)) : std::string("null");
    };
    return JsonObject()
        .add("signature", header->signature)
        .add("compression", sources::swfCompressionName(header->compression))
        .add("version", std::int64_t{header->version})
        .add("declaredLength", std::int64_t{header->declaredLength})
        .addRaw("width", stageField([](const sources::SwfStage& s) { return s.width(); }))
        .addRaw("height", stageField([](const sources::SwfStage& s) { return s.height(); }))
        .addRaw("frameRate", stageField([](const sources::SwfStage& s) { return s.frameRate(); }))
        .addRaw("frameCount", stageField([](const sources::SwfStage& s) {
                    return static_cast<double>(s.frameCount);
                }))
        .addOrNull("warning",
                   header->warning.empty() ? std::nullopt : std::optional(header->warning))
        .text();
}

std::string jsonOf(const MovieRow& row) {
    return JsonObject()
        .add("name", row.displayName)
        .addOrNull("size", row.size)
        .add("host", row.host)
        .add("url", row.url)
        .add("localFile", row.localFile)
        .add("localFileBytes", exactBytesText(row.localFile))
        .add("suggestedName", row.suggestedName)
        .add("sniffed", row.sniffed)
        .addRaw("source", jsonOf(row.source))
        .addRaw("swf", row.swf ? jsonOf(*row.swf) : std::string("null"))
        .text();
}

} // namespace sarnika::cli
