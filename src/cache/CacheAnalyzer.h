#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cache/EntryInfo.h"
#include "cache/IECache.h"

namespace sarnika {

enum class TEntryCategory { ecImage, ecMultimedia, ecPage, ecOther };

inline constexpr std::array<std::string_view, 10> ImageExtensions = {
    "gif", "jpg", "jpeg", "tif", "tiff", "xbm", "fif", "bmp", "png", "ani"};
inline constexpr std::array<std::string_view, 14> MultimediaExtensions = {
    "mpg", "avi", "mpeg", "mov", "fli", "flc",  "viv",
    "wav", "mp3", "mp2",  "mid", "aif", "riff", "swf"};
inline constexpr std::array<std::string_view, 17> PageExtensions = {
    "htm", "html", "phtml", "asp", "stm", "stml", "ids", "shtml", "htx",
    "txt", "text", "xml",   "cfm", "php", "php3", "pl",  "cgi"};

// Whether a text would break the movie query's lines: it holds CR, LF or NUL. Entries with such
// a URL or local file name are never listed.
bool breaksMovieQuery(std::string_view text);

// Whether a URL names a Flash movie: it holds ".swf", in any case, anywhere (a player's query
// such as "play?file=game.swf" counts).
bool namesFlashMovie(std::string_view url);

// Scans the whole cache into six lists and answers the Flash movie query.
class TCacheAnalyzer {
public:
    using EntryList = std::vector<std::unique_ptr<TEntryInfo>>;

    TCacheAnalyzer(UrlCachePort& cache, const LocalTimePort& localTime);
    ~TCacheAnalyzer();
    TCacheAnalyzer(const TCacheAnalyzer&) = delete;
    TCacheAnalyzer& operator=(const TCacheAnalyzer&) = delete;

    void Rescan();
    // Largest local file first; entries whose file is missing last.
    void SortMultimediaBySize();
    // Local file and source URL of each Flash movie, each line ended by CR LF.
    std::string GetFlashMovies() const;
    // Content entries of the last scan left out because their URL or local file name holds a
    // line break or NUL (see breaksMovieQuery).
    std::size_t RefusedEntries() const { return m_refusedEntries; }

    void EntryFound(TIECache& Sender, bool& Cancel);

    static TEntryCategory ClassifyFile(const std::string& fileName);
    // The low 32 bits of the file's size as a signed number; -1 when there is no such file.
    static std::int32_t LocalFileSize(const std::string& fileName);

    const EntryList& CookieEntries() const { return m_cookieEntries; }
    const EntryList& HistoryEntries() const { return m_historyEntries; }
    const EntryList& ImageEntries() const { return m_imageEntries; }
    const EntryList& MultimediaEntries() const { return m_multimediaEntries; }
    const EntryList& PageEntries() const { return m_pageEntries; }
    const EntryList& OtherEntries() const { return m_otherEntries; }

    TIECache& Cache() { return m_cache; }

private:
    void clearLists();

    TIECache m_cache;
    EntryList m_cookieEntries;
    EntryList m_historyEntries;
    EntryList m_imageEntries;
    EntryList m_multimediaEntries;
    EntryList m_pageEntries;
    EntryList m_otherEntries;
    std::size_t m_refusedEntries = 0;
};

} // namespace sarnika
