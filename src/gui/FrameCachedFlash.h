#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "cache/CacheAnalyzer.h"
#include "curation/MovieArchive.h"
#include "gui/ErrorGuard.h"
#include "movies/MovieList.h"
#include "presenters/FramePresenter.h"

class QHelpEvent;
class QListWidget;
class QSplitter;
class QStatusBar;

namespace sarnika {

// The preview pane as the frame sees it: the web view in the program, a plain widget in tests.
class PreviewPort {
public:
    virtual ~PreviewPort() = default;
    // Owned by the parent given to the factory.
    virtual QWidget* widget() = 0;
    // Throws PreviewError when the movie cannot be shown.
    virtual void Navigate(const QString& localPath) = 0;
};

using PreviewFactory = std::function<std::unique_ptr<PreviewPort>(QWidget* parent)>;

// Shows a file's per-file menu at a point of the owner; true when a chosen action succeeded.
using ShellMenuFunction =
    std::function<bool(QWidget* owner, const QString& path, const QPoint& point)>;

// The program's preview: a TEmbeddedWB named wbPreview that lets images, video and background
// sounds play and has no user-interface options.
std::unique_ptr<PreviewPort> makeWebPreview(QWidget* parent);

// A QListWidget as the movie list's list box.
class ListWidgetBox final : public MovieListBox {
public:
    explicit ListWidgetBox(QListWidget& list) : m_list(list) {}

    void beginUpdate() override;
    void endUpdate() override;
    void clear() override;
    void addLine(const std::string& text) override;
    int count() const override;
    int selectedIndex() const override;
    void select(int index) override;

private:
    QListWidget& m_list;
    // Lines added during an update go into the list at its end, in one insertion.
    QStringList m_pending;
    bool m_updating = false;
};

// The body of the main window: the movie list, the preview of the selected movie and a status
// line. A view of the frame's presenter, which owns the scan result and the analyzer.
class TframeCachedFlash : public QWidget, private presenters::FrameView {
    Q_OBJECT

public:
    TframeCachedFlash(UrlCachePort& cache, const LocalTimePort& localTime, const ErrorGuard& guard,
                      const PreviewFactory& makePreview, QWidget* parent = nullptr);
    ~TframeCachedFlash() override;
    TframeCachedFlash(const TframeCachedFlash&) = delete;
    TframeCachedFlash& operator=(const TframeCachedFlash&) = delete;

    // The presenter's handlers (presenters::TframeCachedFlash).
    void InitFrame() { m_presenter.InitFrame(); }
    void DoneFrame() { m_presenter.DoneFrame(); }
    void RefreshList() { m_presenter.RefreshList(); }
    // Throws PreviewError from the preview.
    void lbxFlashClick() { m_presenter.lbxFlashClick(); }
    // Offers the selected movie's cached file the desktop's per-file menu, unless the list box
    // has a popup menu of its own. `mousePos` is in the list box's coordinates, (-1, -1) when
    // the menu key was used; `handled` is set when the menu was offered.
    void lbxFlashContextPopup(QObject* sender, const QPoint& mousePos, bool& handled);
    // ShowShellContextMenu unless replaced.
    void setShellMenu(ShellMenuFunction showMenu) { m_showShellMenu = std::move(showMenu); }

    std::string SelectedCacheFile() const { return m_presenter.SelectedCacheFile(); }
    std::string SuggestedFileName() const { return m_presenter.SuggestedFileName(); }
    std::vector<std::string> AllSuggestedNames() const { return m_presenter.AllSuggestedNames(); }
    std::vector<std::string> AllCacheFiles() const { return m_presenter.AllCacheFiles(); }
    // The listed movies as a web archive keeps them: URL, cached file, the headers the cache
    // kept and the cache they came from.
    std::vector<curation::ArchivedMovie> ArchivedMovies() const;
    // The other cached files of the listed movies' sites and the files the movies name by URL,
    // with their bodies copied out where a browser keeps them inside its own files.
    std::vector<curation::ArchivedMovie> SiteFiles() const;
    // The content caches read, for people.
    std::vector<std::string> CachesRead() const;

    QListWidget* lbxFlash() const { return m_lbxFlash; }
    QSplitter* Splitter1() const { return m_splitter1; }
    QWidget* pnl2() const { return m_pnl2; }
    PreviewPort& wbPreview() const { return *m_wbPreview; }
    QStatusBar* pnlNav() const { return m_pnlNav; }
    // The simple panel's text.
    QString statusText() const;
    MovieListBox& listBox() override { return m_listBox; }
    // Null outside InitFrame ... DoneFrame.
    const MovieList* movies() const { return m_presenter.movies(); }
    TCacheAnalyzer* analyzer() const { return m_presenter.analyzer(); }
    presenters::TframeCachedFlash& presenter() { return m_presenter; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void moviesListed() override;
    // The tooltip of a line: the browser cache its movie came from; empty when not known.
    QString toolTipFor(int line) const;
    bool showToolTip(const QHelpEvent& event);
    void showStatus(const std::string& text) override;
    void navigatePreview(const std::string& localFile) override;
    void showShellMenu(const std::string& localFile, int line, presenters::ViewPoint at) override;
    void runScanBeforeShown(const std::function<void()>& scan) override;

    UrlCachePort& m_cache;
    const LocalTimePort& m_localTime;
    QListWidget* m_lbxFlash = nullptr;
    QSplitter* m_splitter1 = nullptr;
    QWidget* m_pnl2 = nullptr;
    std::unique_ptr<PreviewPort> m_wbPreview;
    QStatusBar* m_pnlNav = nullptr;
    ListWidgetBox m_listBox;
    ErrorGuard m_guard;
    ShellMenuFunction m_showShellMenu;
    presenters::TframeCachedFlash m_presenter;
};

} // namespace sarnika
