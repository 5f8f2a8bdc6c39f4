#include "presenters/FramePresenter.h"

#include "movies/FlashMovieScan.h"

namespace sarnika::presenters {

TframeCachedFlash::TframeCachedFlash(FrameView& view, UrlCachePort& cache,
                                     const LocalTimePort& localTime)
    : m_view(view), m_cache(cache), m_localTime(localTime) {}

void TframeCachedFlash::InitFrame() {
    m_movies = std::make_unique<MovieList>();
    m_view.listBox().clear();
    m_analyzer = std::make_unique<TCacheAnalyzer>(m_cache, m_localTime);
}

void TframeCachedFlash::DoneFrame() {
    m_view.listBox().clear();
    m_movies.reset();
    m_analyzer.reset();
}

void FrameView::runScanBeforeShown(const std::function<void()>& scan) {
    scan();
}

void TframeCachedFlash::RefreshList(ScanWait wait) {
    m_view.listBox().clear();
    if (!m_analyzer || !m_movies) {
        return;
    }
    MovieList scanned;
    const auto scan = [this, &scanned] {
        scanned = ScanFlashMovies(*m_analyzer);
    };
    if (wait == ScanWait::WindowNotShownYet) {
        m_view.runScanBeforeShown(scan);
    } else {
        scan();
    }
    *m_movies = std::move(scanned);
    FillListBox(*m_movies, m_view.listBox());
    m_view.moviesListed();
}

std::string TframeCachedFlash::statusTextFor(const std::string& url) {
    return "Flash movie from " + HostFromUrl(url);
}

void TframeCachedFlash::lbxFlashClick() {
    const int line = m_view.listBox().selectedIndex();
    if (line < 0 || !m_movies) {
        return;
    }
    const auto movie = static_cast<std::size_t>(line);
    m_view.showStatus(statusTextFor(m_movies->Url(movie)));
    const std::string& cacheFile = m_movies->CacheFile(movie);
    if (!cacheFile.empty()) {
        m_view.navigatePreview(cacheFile);
    }
}

void TframeCachedFlash::lbxFlashContextPopup(bool listHasOwnMenu, ViewPoint mousePos,
                                             bool& handled) {
    const int line = m_view.listBox().selectedIndex();
    if (line < 0 || !m_movies || listHasOwnMenu) {
        return;
    }
    const std::string& cacheFile = m_movies->CacheFile(static_cast<std::size_t>(line));
    if (cacheFile.empty()) {
        return;
    }
    m_view.showShellMenu(cacheFile, line, mousePos);
    handled = true;
}

std::string TframeCachedFlash::SelectedCacheFile() const {
    return m_movies ? sarnika::SelectedCacheFile(*m_movies, m_view.listBox()) : std::string();
}

std::string TframeCachedFlash::SuggestedFileName() const {
    return m_movies ? sarnika::SuggestedFileName(*m_movies, m_view.listBox()) : std::string();
}

std::vector<std::string> TframeCachedFlash::AllSuggestedNames() const {
    return m_movies ? sarnika::AllSuggestedNames(*m_movies, m_view.listBox())
                    : std::vector<std::string>();
}

std::vector<std::string> TframeCachedFlash::AllCacheFiles() const {
    return m_movies ? sarnika::AllCacheFiles(*m_movies, m_view.listBox())
                    : std::vector<std::string>();
}

int TframeCachedFlash::movieCount() const {
    return m_view.listBox().count();
}

} // namespace sarnika::presenters
