#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sarnika {

// The list box that shows one line per movie (a Qt list in the window, a fake in tests).
class MovieListBox {
public:
    virtual ~MovieListBox() = default;
    virtual void beginUpdate() = 0;
    virtual void endUpdate() = 0;
    virtual void clear() = 0;
    virtual void addLine(const std::string& text) = 0;
    virtual int count() const = 0;
    // -1 when no line is selected.
    virtual int selectedIndex() const = 0;
    // Selecting from code does not run the frame's click handling.
    virtual void select(int index) = 0;
};

// One scan result: item 2i is movie i's local cache file, item 2i+1 its source URL, in the
// order of the Flash movie query (largest local file first).
class MovieList {
public:
    // Replaces the whole list by the lines of the query's text, split at CR LF, a lone CR or a
    // lone LF; an empty line is an empty item; a final line break adds no item. A movie that
    // repeats an earlier one (WithoutDuplicateMovies) is left out.
    void LoadFromText(std::string_view text);

    const std::vector<std::string>& Items() const { return m_items; }
    std::size_t MovieCount() const { return m_items.size() / 2; }
    // Items 2i and 2i+1; the empty string past the end.
    const std::string& CacheFile(std::size_t movie) const;
    const std::string& Url(std::size_t movie) const;

private:
    std::vector<std::string> m_items;
};

// The items (cache file, URL, cache file, URL, ...) without the movies whose URL and bytes are
// those of an earlier one: two browsers that cached the same movie give one line. Movies of
// one URL with different content stay, as do those whose files cannot be read.
std::vector<std::string> WithoutDuplicateMovies(std::vector<std::string> items);

// The line the list shows for a URL: the part after the last "/", "\" or ":", cut at its
// first "?". May be empty.
std::string DisplayName(std::string_view url);
// CleanFileName of the display name, or "untitled" when that is empty.
std::string SuggestedName(std::string_view url);

// The host part of a URL, lower case, without "www."; empty on failure.
std::string HostFromUrl(std::string_view url);
// Text fit for a file name: the 14 characters / \ : * ? " < > | [ ] & $ % become blanks, runs of
// blanks one, leading and trailing control characters and blanks go. The input on failure.
std::string CleanFileName(std::string_view text);
// Every run of blanks (code 32) reduced to one blank.
std::string CollapseBlanks(std::string_view text);
// basePath.extension, or basePath<separator>1.extension, -2, ...: the first name that no file
// (a folder does not count) has. Empty on failure.
std::string MakeUniqueFileName(const std::string& basePath, const std::string& extension,
                               const std::string& separator);
// A free name of MakeUniqueFileName's series and its counter (0: the plain name). The search
// starts at `firstCounter`: a caller that has made the names below it may skip them, so that
// saving many movies of one name does not test all the earlier names again for each.
struct UniqueFileName {
    std::string path; // empty on failure
    unsigned long long counter = 0;
};
UniqueFileName FindUniqueFileName(const std::string& basePath, const std::string& extension,
                                  const std::string& separator, unsigned long long firstCounter);

// The frame's list operations.
void FillListBox(const MovieList& movies, MovieListBox& listBox);
std::string SelectedCacheFile(const MovieList& movies, const MovieListBox& listBox);
std::string SuggestedFileName(const MovieList& movies, const MovieListBox& listBox);
std::vector<std::string> AllSuggestedNames(const MovieList& movies, const MovieListBox& listBox);
std::vector<std::string> AllCacheFiles(const MovieList& movies, const MovieListBox& listBox);

} // namespace sarnika
