#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/CacheAnalyzer.h"
#include "movies/MovieList.h"

namespace sarnika::presenters {

// A point in the movie list's coordinates.
struct ViewPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ViewPoint&) const = default;
};

// The point of a context popup asked for from the keyboard rather than with the mouse.
inline constexpr ViewPoint kKeyboardPopup{-1, -1};

// The movie browser frame as its presenter sees it: a list box, a status panel, the preview
// pane and the desktop's per-file menu.
class FrameView {
public:
    virtual ~FrameView() = default;
    virtual MovieListBox& listBox() = 0;
    // The list was filled anew from a scan (the view may describe each line further).
    virtual void moviesListed() = 0;
    // Shows the status panel with the text in its simple panel.
    virtual void showStatus(const std::string& text) = 0;
    // Previews the cached file; throws an error with a text for the user when it cannot.
    virtual void navigatePreview(const std::string& localFile) = 0;
    // Offers the file the desktop's per-file menu at the point of the list (kKeyboardPopup: at
    // the selected line).
    virtual void showShellMenu(const std::string& localFile, int line, ViewPoint at) = 0;
    // Runs a scan while the window is not up yet. The view may keep its window system's events
    // other than the user's input going meanwhile, with the scan on another thread: the scan
    // touches nothing of the view. What the scan throws comes out here. The default runs it in
    // place.
    virtual void runScanBeforeShown(const std::function<void()>& scan);
};

// How RefreshList waits for its scan.
enum class ScanWait {
    InPlace,          // the caller's thread scans; nothing else happens meanwhile
    WindowNotShownYet // the view may run the scan aside (FrameView::runScanBeforeShown)
};

// The body of the main window: the movie list, the preview of the selected movie and a status
// line. It owns the scan result and the analyzer that makes it.
class TframeCachedFlash {
public:
    TframeCachedFlash(FrameView& view, UrlCachePort& cache, const LocalTimePort& localTime);

    // Creates the empty movie list and the analyzer; before any other operation.
    void InitFrame();
    // Empties the list box and frees the movie list and the analyzer.
    void DoneFrame();
    // Rescans the cache and refills the list; the preview and status line stay as they are.
    void RefreshList(ScanWait wait = ScanWait::InPlace);
    // Shows the selected movie's host and previews it. Throws what the preview throws.
    void lbxFlashClick();
    // Offers the selected movie's cached file the desktop's per-file menu, unless the list box
    // has a popup menu of its own; `handled` is set when the menu was offered.
    void lbxFlashContextPopup(bool listHasOwnMenu, ViewPoint mousePos, bool& handled);

    std::string SelectedCacheFile() const;
    std::string SuggestedFileName() const;
    std::vector<std::string> AllSuggestedNames() const;
    std::vector<std::string> AllCacheFiles() const;

    // The lines listed now.
    int movieCount() const;
    MovieListBox& listBox() { return m_view.listBox(); }
    // Null outside InitFrame ... DoneFrame.
    const MovieList* movies() const { return m_movies.get(); }
    TCacheAnalyzer* analyzer() const { return m_analyzer.get(); }

    // "Flash movie from <host>": the status text of a movie.
    static std::string statusTextFor(const std::string& url);

private:
    FrameView& m_view;
    UrlCachePort& m_cache;
    const LocalTimePort& m_localTime;
    std::unique_ptr<MovieList> m_movies;
    std::unique_ptr<TCacheAnalyzer> m_analyzer;
};

} // namespace sarnika::presenters
