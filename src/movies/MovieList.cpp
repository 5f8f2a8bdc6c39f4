#include "movies/MovieList.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "base/Text.h"

namespace sarnika {

namespace {

const std::string& emptyString() {
    static const std::string empty;
    return empty;
}

bool isBlankOrControl(char c) {
    // Bytes above 127 are letters of the ANSI code page, not control characters.
    return static_cast<unsigned char>(c) <= 32;
}

std::string trimBlanksAndControls(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlankOrControl(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlankOrControl(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool isForbiddenInFileName(char c) {
    static constexpr std::string_view forbidden = "/\\:*?\"<>|[]&$%";
    return forbidden.find(c) != std::string_view::npos;
}

enum class NameState { Free, Taken, Unknown };

NameState nameState(const std::string& candidate) {
    std::error_code error;
    const std::filesystem::file_status own = std::filesystem::symlink_status(candidate, error);
    if (own.type() == std::filesystem::file_type::not_found) {
        return NameState::Free;
    }
    if (own.type() == std::filesystem::file_type::none) {
        return NameState::Unknown;
    }
    // A folder does not hold the name; a dangling link does, since nothing can be created there.
    const std::filesystem::file_status target = std::filesystem::status(candidate, error);
    return target.type() == std::filesystem::file_type::directory ? NameState::Free
                                                                  : NameState::Taken;
}

} // namespace

void MovieList::LoadFromText(std::string_view text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        items.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < text.size()) {
        items.emplace_back(text.substr(start));
    }
    m_items = WithoutDuplicateMovies(std::move(items));
}

namespace {

std::optional<std::uintmax_t> sizeOfFile(const std::string& file) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::path(file), error);
    return error ? std::nullopt : std::optional(size);
}

bool sameBytes(const std::string& first, const std::string& second) {
    std::ifstream a(std::filesystem::path(first), std::ios::binary);
    std::ifstream b(std::filesystem::path(second), std::ios::binary);
    constexpr std::size_t blockSize = std::size_t{64} * 1024;
    std::vector<char> blockA(blockSize);
    std::vector<char> blockB(blockSize);
    while (a && b) {
        a.read(blockA.data(), static_cast<std::streamsize>(blockSize));
        b.read(blockB.data(), static_cast<std::streamsize>(blockSize));
        if (a.gcount() != b.gcount() ||
            std::memcmp(blockA.data(), blockB.data(), static_cast<std::size_t>(a.gcount())) != 0) {
            return false;
        }
    }
    // Both ended together, neither for an error.
    return a.eof() && b.eof() && !a.bad() && !b.bad();
}

struct KeptMovie {
    const std::string* file;
    std::optional<std::uintmax_t> size;
};

} // namespace

std::vector<std::string> WithoutDuplicateMovies(std::vector<std::string> items) {
    std::vector<std::string> kept;
    kept.reserve(items.size());
    // Files are looked at only where a URL comes again: sizes first, bytes when they agree.
    std::unordered_map<std::string, std::vector<KeptMovie>> byUrl;
    std::size_t i = 0;
    for (; i + 1 < items.size(); i += 2) {
        std::string& file = items[i];
        std::string& url = items[i + 1];
        std::vector<KeptMovie>& same = byUrl[url];
        bool duplicate = false;
        std::optional<std::uintmax_t> size;
        if (!same.empty() && !file.empty()) {
            size = sizeOfFile(file);
            for (KeptMovie& other : same) {
                if (!size || other.file->empty()) {
                    break;
                }
                if (!other.size) {
                    other.size = sizeOfFile(*other.file);
                }
                if (other.size == size && (*other.file == file || sameBytes(*other.file, file))) {
                    duplicate = true;
                    break;
                }
            }
        }
        if (!duplicate) {
            same.push_back({&file, size});
            kept.push_back(file);
            kept.push_back(url);
        }
    }
    for (; i < items.size(); ++i) {
        kept.push_back(std::move(items[i]));
    }
    return kept;
}

const std::string& MovieList::CacheFile(std::size_t movie) const {
    return movie < MovieCount() ? m_items[2 * movie] : emptyString();
}

const std::string& MovieList::Url(std::size_t movie) const {
    return movie < MovieCount() ? m_items[2 * movie + 1] : emptyString();
}

std::string DisplayName(std::string_view url) {
    const std::size_t lastSeparator = url.find_last_of("/\\:");
    std::string_view name =
        lastSeparator == std::string_view::npos ? url : url.substr(lastSeparator + 1);
    if (const std::size_t query = name.find('?'); query != std::string_view::npos) {
        name = name.substr(0, query);
    }
    return std::string(name);
}

std::string SuggestedName(std::string_view url) {
    std::string name = CleanFileName(DisplayName(url));
    return name.empty() ? std::string("untitled") : name;
}

std::string HostFromUrl(std::string_view url) {
    try {
        const std::string lower = lowerCaseLocale(url);
        std::string_view rest = lower;
        if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
            rest = rest.substr(scheme + 3);
        }
        rest = rest.substr(0, rest.find('/'));
        if (const std::size_t www = rest.find("www."); www != std::string_view::npos) {
            rest = rest.substr(www + 4);
        }
        return std::string(rest);
    } catch (const std::exception&) {
        // Neutral on purpose: callers take "" as "no host" and go on; no name stops a scan.
        return {};
    }
}

std::string CleanFileName(std::string_view text) {
    try {
        std::string name = trimBlanksAndControls(CollapseBlanks(text));
        for (char& c : name) {
            if (isForbiddenInFileName(c)) {
                c = ' ';
            }
        }
        return trimBlanksAndControls(CollapseBlanks(name));
    } catch (const std::exception&) {
        // Neutral on purpose: the text unchanged still names a file, and callers expect no error.
        return std::string(text);
    }
}

std::string CollapseBlanks(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c != ' ' || result.empty() || result.back() != ' ') {
            result.push_back(c);
        }
    }
    return result;
}

std::string MakeUniqueFileName(const std::string& basePath, const std::string& extension,
                               const std::string& separator) {
    return FindUniqueFileName(basePath, extension, separator, 0).path;
}

UniqueFileName FindUniqueFileName(const std::string& basePath, const std::string& extension,
                                  const std::string& separator, unsigned long long firstCounter) {
    try {
        std::string candidate;
        for (unsigned long long counter = firstCounter;; ++counter) {
            candidate = basePath;
            if (counter > 0) {
                candidate += separator;
                candidate += std::to_string(counter);
            }
            candidate += '.';
            candidate += extension;
            switch (nameState(candidate)) {
            case NameState::Free:
                return {candidate, counter};
            case NameState::Unknown:
                return {};
            case NameState::Taken:
                break;
            }
        }
    } catch (const std::exception&) {
        // Neutral on purpose: callers test for the empty string and leave that movie out.
        return {};
    }
}

void FillListBox(const MovieList& movies, MovieListBox& listBox) {
    listBox.beginUpdate();
    try {
        listBox.clear();
        const std::vector<std::string>& items = movies.Items();
        for (std::size_t i = 1; i < items.size(); i += 2) {
            listBox.addLine(DisplayName(items[i]));
        }
    } catch (...) {
        listBox.endUpdate();
        throw;
    }
    listBox.endUpdate();
    if (listBox.count() > 0) {
        listBox.select(0);
    }
}

std::string SelectedCacheFile(const MovieList& movies, const MovieListBox& listBox) {
    const int selected = listBox.selectedIndex();
    if (selected < 0) {
        return {};
    }
    return movies.CacheFile(static_cast<std::size_t>(selected));
}

std::string SuggestedFileName(const MovieList& movies, const MovieListBox& listBox) {
    const int selected = listBox.selectedIndex();
    if (selected < 0) {
        return {};
    }
    return SuggestedName(movies.Url(static_cast<std::size_t>(selected)));
}

std::vector<std::string> AllSuggestedNames(const MovieList& movies, const MovieListBox& listBox) {
    std::vector<std::string> names;
    const int lines = listBox.count();
    names.reserve(static_cast<std::size_t>(std::max(lines, 0)));
    for (int line = 0; line < lines; ++line) {
        names.push_back(SuggestedName(movies.Url(static_cast<std::size_t>(line))));
    }
    return names;
}

std::vector<std::string> AllCacheFiles(const MovieList& movies, const MovieListBox& listBox) {
    std::vector<std::string> files;
    const int lines = listBox.count();
    files.reserve(static_cast<std::size_t>(std::max(lines, 0)));
    for (int line = 0; line < lines; ++line) {
        files.push_back(movies.CacheFile(static_cast<std::size_t>(line)));
    }
    return files;
}

} // namespace sarnika
