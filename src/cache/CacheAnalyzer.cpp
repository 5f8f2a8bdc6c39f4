#include "cache/CacheAnalyzer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/Text.h"

namespace sarnika {
namespace {

template<std::size_t N>
bool inTable(const std::array<std::string_view, N>& table, const std::string& extension) {
    return std::find(table.begin(), table.end(), extension) != table.end();
}

bool isNameSeparator(char c) {
    // Where the platform's separator is "/", it ends a file name as "\" and ":" do.
    return c == '.' || c == '\\' || c == ':' ||
           (std::filesystem::path::preferred_separator == '/' && c == '/');
}

// Not std::sort or std::stable_sort: equal sizes end up in the order this very quicksort leaves
// them in, which is the order the list has always shown. Each file's size is read once, before
// the sort (a file that changes size meanwhile cannot make the comparisons disagree); larger
// files come first, missing files (-1) after every existing one.
void quickSort(TCacheAnalyzer::EntryList& list, std::vector<std::int32_t>& sizes, std::ptrdiff_t l,
               std::ptrdiff_t r) {
    auto sizeAt = [&sizes](std::ptrdiff_t index) {
        return sizes[static_cast<std::size_t>(index)];
    };
    for (;;) {
        std::ptrdiff_t i = l;
        std::ptrdiff_t j = r;
        const std::int32_t pivot = sizeAt((l + r) / 2);
        do {
            while (i < r && sizeAt(i) > pivot) {
                ++i;
            }
            while (j > l && sizeAt(j) < pivot) {
                --j;
            }
            if (i <= j) {
                std::swap(list[static_cast<std::size_t>(i)], list[static_cast<std::size_t>(j)]);
                std::swap(sizes[static_cast<std::size_t>(i)], sizes[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (l < j) {
            quickSort(list, sizes, l, j);
        }
        l = i;
        if (i >= r) {
            return;
        }
    }
}

bool listable(const TEntryInfo& entry) {
    return !breaksMovieQuery(entry.SourceUrlName) && !breaksMovieQuery(entry.LocalFileName);
}

} // namespace

bool breaksMovieQuery(std::string_view text) {
    // Three scans for one character each: a scan for any of a set looks the set through for
    // every character of the text.
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos ||
           text.find('\0') != std::string_view::npos;
}

bool namesFlashMovie(std::string_view url) {
    return lowerCaseAscii(url).find(".swf") != std::string::npos;
}

TCacheAnalyzer::TCacheAnalyzer(UrlCachePort& cache, const LocalTimePort& localTime)
    : m_cache(cache, localTime) {
    m_cache.SetFilterOptions(TFilterOptions(TFilterOptions::kAll));
    m_cache.SetSearchPattern(TSearchPattern::spCookies);
    m_cache.SetOnEntry([this](TIECache& sender, bool& cancel) { EntryFound(sender, cancel); });
}

TCacheAnalyzer::~TCacheAnalyzer() {
    clearLists();
    m_cache.SetOnEntry(nullptr);
}

void TCacheAnalyzer::clearLists() {
    for (EntryList* list : {&m_imageEntries, &m_pageEntries, &m_multimediaEntries, &m_otherEntries,
                            &m_cookieEntries, &m_historyEntries}) {
        while (!list->empty()) {
            list->pop_back();
        }
    }
}

void TCacheAnalyzer::Rescan() {
    clearLists();
    m_refusedEntries = 0;
    for (TSearchPattern pattern :
         {TSearchPattern::spCookies, TSearchPattern::spHistory, TSearchPattern::spUrl}) {
        m_cache.SetSearchPattern(pattern);
        m_cache.Enumerate(0);
    }
}

void TCacheAnalyzer::EntryFound(TIECache& Sender, bool& /*Cancel*/) {
    const TSearchPattern pattern = Sender.SearchPattern();
    auto entry = std::make_unique<TEntryInfo>(m_cache.CurrentEntry());
    switch (pattern) {
    case TSearchPattern::spCookies:
        m_cookieEntries.push_back(std::move(entry));
        break;
    case TSearchPattern::spHistory:
        m_historyEntries.push_back(std::move(entry));
        break;
    case TSearchPattern::spUrl:
        // The movie query is text split at line breaks: a URL holding one could smuggle in a
        // pair of its own choosing, naming any local file.
        if (!listable(*entry)) {
            ++m_refusedEntries;
            break;
        }
        switch (ClassifyFile(entry->LocalFileName)) {
        case TEntryCategory::ecImage:
            m_imageEntries.push_back(std::move(entry));
            break;
        case TEntryCategory::ecMultimedia:
            m_multimediaEntries.push_back(std::move(entry));
            break;
        case TEntryCategory::ecPage:
            m_pageEntries.push_back(std::move(entry));
            break;
        case TEntryCategory::ecOther:
            m_otherEntries.push_back(std::move(entry));
            break;
        }
        break;
    case TSearchPattern::spAll:
        break;
    }
}

TEntryCategory TCacheAnalyzer::ClassifyFile(const std::string& fileName) {
    if (fileName.empty()) {
        return TEntryCategory::ecOther;
    }
    const auto last = std::find_if(fileName.rbegin(), fileName.rend(), isNameSeparator);
    if (last == fileName.rend() || *last != '.') {
        return TEntryCategory::ecOther;
    }
    const std::string extension = lowerCaseLocale(std::string(last.base(), fileName.end()));
    if (inTable(ImageExtensions, extension)) {
        return TEntryCategory::ecImage;
    }
    if (inTable(PageExtensions, extension)) {
        return TEntryCategory::ecPage;
    }
    if (inTable(MultimediaExtensions, extension)) {
        return TEntryCategory::ecMultimedia;
    }
    return TEntryCategory::ecOther;
}

std::int32_t TCacheAnalyzer::LocalFileSize(const std::string& fileName) {
    if (fileName.empty()) {
        return -1;
    }
    // One look-up for a regular file, the usual case; a second only to tell what else it is.
    std::error_code error;
    const std::filesystem::path path(fileName);
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(size & 0xFFFFFFFFU));
    }
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) {
        return -1;
    }
    // Folders and other entries are found too, with no size of their own.
    return 0;
}

void TCacheAnalyzer::SortMultimediaBySize() {
    if (m_multimediaEntries.empty()) {
        return;
    }
    std::vector<std::int32_t> sizes;
    sizes.reserve(m_multimediaEntries.size());
    for (const auto& entry : m_multimediaEntries) {
        sizes.push_back(entry ? LocalFileSize(entry->LocalFileName) : 0);
    }
    quickSort(m_multimediaEntries, sizes, 0,
              static_cast<std::ptrdiff_t>(m_multimediaEntries.size()) - 1);
}

std::string TCacheAnalyzer::GetFlashMovies() const {
    std::string text;
    for (const auto& entry : m_multimediaEntries) {
        if (!namesFlashMovie(entry->SourceUrlName) || !listable(*entry)) {
            continue;
        }
        text += entry->LocalFileName;
        text += "\r\n";
        text += entry->SourceUrlName;
        text += "\r\n";
    }
    return text;
}

} // namespace sarnika
