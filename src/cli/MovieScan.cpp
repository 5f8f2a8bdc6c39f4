#include "cli/MovieScan.h"

#include <filesystem>
#include <unordered_map>

#include "cache/sources/FileAccess.h"
#include "cache/sources/LocalNames.h"
#include "movies/FlashMovieScan.h"

namespace sarnika::cli {
namespace {

std::string entryKey(const std::string& localFile, const std::string& url) {
    return localFile + '\n' + url;
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

// Content entries that the analyzer files as multimedia, and those it refuses (it counts them).
bool mayBeMovie(TIECache& walk) {
    if (walk.SearchPattern() != TSearchPattern::spUrl) {
        return false;
    }
    const TEntryInfo& entry = walk.CurrentEntry();
    return TCacheAnalyzer::ClassifyFile(entry.LocalFileName) == TEntryCategory::ecMultimedia ||
           breaksMovieQuery(entry.SourceUrlName) || breaksMovieQuery(entry.LocalFileName);
}

} // namespace

MovieScan::MovieScan(UrlCachePort& cache, SourceLookup lookup, ScanKeeps keeps)
    : m_analyzer(cache, m_utc), m_lookup(std::move(lookup)), m_keeps(keeps) {}

std::vector<MovieRow> MovieScan::run(bool sniff, const std::function<void(std::size_t)>& tick) {
    std::size_t seen = 0;
    m_analyzer.Cache().SetOnEntry([this, &seen, &tick](TIECache& sender, bool& cancel) {
        if (m_keeps == ScanKeeps::Everything || mayBeMovie(sender)) {
            m_analyzer.EntryFound(sender, cancel);
        }
        if (tick) {
            tick(++seen);
        }
    });
    const MovieList movies = ScanFlashMovies(m_analyzer);
    m_analyzer.Cache().SetOnEntry(
        [this](TIECache& sender, bool& cancel) { m_analyzer.EntryFound(sender, cancel); });

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
            if (!namesFlashMovie(entry->SourceUrlName) && hasSwfSignature(entry->LocalFileName)) {
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

std::vector<EntryRow> MovieScan::entries(const EntrySourceLookup& source) const {
    const std::pair<const char*, const TCacheAnalyzer::EntryList*> lists[] = {
        {"cookie", &m_analyzer.CookieEntries()},         {"history", &m_analyzer.HistoryEntries()},
        {"image", &m_analyzer.ImageEntries()},           {"page", &m_analyzer.PageEntries()},
        {"multimedia", &m_analyzer.MultimediaEntries()}, {"other", &m_analyzer.OtherEntries()}};
    std::vector<EntryRow> rows;
    for (const auto& [name, list] : lists) {
        const std::string category = name;
        const bool content = category != "cookie" && category != "history";
        std::unordered_map<std::string, std::size_t> occurrences;
        for (const auto& entry : *list) {
            EntryRow row;
            row.group = content ? "content" : category;
            row.category = content ? category : std::string();
            row.url = entry->SourceUrlName;
            row.size = entry->Size;
            row.entry = entry.get();
            std::error_code error;
            const std::string& file = entry->LocalFileName;
            if (!file.empty() && std::filesystem::is_regular_file(file, error)) {
                row.localFile = file;
                if (const std::uintmax_t size = std::filesystem::file_size(file, error); !error) {
                    row.size = size;
                }
            }
            if (source) {
                row.source = source(entry->SourceUrlName, file,
                                    file.empty() ? occurrences[entry->SourceUrlName]++ : 0);
            }
            rows.push_back(std::move(row));
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

} // namespace sarnika::cli
