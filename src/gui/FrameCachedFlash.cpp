#include "gui/FrameCachedFlash.h"

#include <algorithm>
#include <exception>
#include <map>
#include <set>
#include <thread>

#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFile>
#include <QHelpEvent>
#include <QListWidget>
#include <QPointer>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QToolTip>
#include <QVBoxLayout>

#include "cache/sources/BrowserCacheLayer.h"
#include "curation/SiteAssets.h"
#include "gui/EmbeddedWB.h"
#include "gui/ErrorGuard.h"
#include "gui/ShellContextMenu.h"

namespace sarnika {
namespace {

class WebPreview final : public PreviewPort {
public:
    explicit WebPreview(QWidget* parent) : m_view(new TEmbeddedWB(parent)) {
        m_view->setObjectName(QStringLiteral("wbPreview"));
        m_view->setDownloadOptions(defaultDownloadOptions());
        m_view->setUserInterfaceOptions({});
        // The web engine and the player take longer to start than the scan takes on most
        // caches: they start now, behind the splash window.
        m_view->Preload();
    }

    QWidget* widget() override { return m_view; }
    void Navigate(const QString& localPath) override {
        if (m_view != nullptr) {
            m_view->Navigate(localPath);
        }
    }

private:
    QPointer<TEmbeddedWB> m_view;
};

QString localPath(const std::string& file) {
    return QFile::decodeName(QByteArray::fromStdString(file));
}

// Whether the list box shows a menu of its own on a right click: a custom menu answered by its
// owner (the main window's popFiles), its own actions, or none at all by choice.
bool hasOwnPopupMenu(const QWidget& list) {
    switch (list.contextMenuPolicy()) {
    case Qt::CustomContextMenu:
    case Qt::PreventContextMenu:
        return true;
    case Qt::ActionsContextMenu:
        return !list.actions().isEmpty();
    case Qt::NoContextMenu:
    case Qt::DefaultContextMenu:
        break;
    }
    return false;
}

// The movie list: one line is always selected while there are lines. Qt's single selection
// lets Ctrl+click or Ctrl+Space take the selection away, which leaves the commands nothing to
// act on while the preview and the status line still show the old movie.
class MovieListWidget final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override {
        const QItemSelectionModel::SelectionFlags command =
            QListWidget::selectionCommand(index, event);
        const bool takesAway =
            command.testAnyFlags(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle);
        if (takesAway && (!index.isValid() || selectionModel()->isSelected(index))) {
            return QItemSelectionModel::NoUpdate;
        }
        return command;
    }
};

} // namespace

std::unique_ptr<PreviewPort> makeWebPreview(QWidget* parent) {
    return std::make_unique<WebPreview>(parent);
}

void ListWidgetBox::beginUpdate() {
    m_list.setUpdatesEnabled(false);
    m_updating = true;
}

// Thousands of lines inserted one by one cost the list a layout each; in one go, one.
void ListWidgetBox::endUpdate() {
    m_updating = false;
    if (!m_pending.isEmpty()) {
        m_list.addItems(m_pending);
        m_pending.clear();
    }
    m_list.setUpdatesEnabled(true);
}

void ListWidgetBox::clear() {
    // Emptying the list is no change of selection the frame should answer.
    const QSignalBlocker blocker(m_list);
    m_pending.clear();
    m_list.clear();
}

void ListWidgetBox::addLine(const std::string& text) {
    if (m_updating) {
        m_pending.append(QString::fromStdString(text));
    } else {
        m_list.addItem(QString::fromStdString(text));
    }
}

int ListWidgetBox::count() const {
    return m_list.count() + static_cast<int>(m_pending.size());
}

int ListWidgetBox::selectedIndex() const {
    const QList<QListWidgetItem*> selected = m_list.selectedItems();
    return selected.isEmpty() ? -1 : m_list.row(selected.first());
}

void ListWidgetBox::select(int index) {
    const QSignalBlocker blocker(m_list);
    m_list.setCurrentRow(index);
}

TframeCachedFlash::TframeCachedFlash(UrlCachePort& cache, const LocalTimePort& localTime,
                                     const ErrorGuard& guard, const PreviewFactory& makePreview,
                                     QWidget* parent)
    : QWidget(parent), m_cache(cache), m_localTime(localTime),
      m_lbxFlash(new MovieListWidget(this)), m_splitter1(new QSplitter(Qt::Horizontal, this)),
      m_pnl2(new QWidget(this)), m_pnlNav(new QStatusBar(this)), m_listBox(*m_lbxFlash),
      m_guard(guard), m_showShellMenu(ShowShellContextMenu), m_presenter(*this, cache, localTime) {
    resize(632, 338);

    m_lbxFlash->setObjectName(QStringLiteral("lbxFlash"));
    m_lbxFlash->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lbxFlash->setSortingEnabled(false);
    // Every line is one line of text: the list need not measure each of thousands.
    m_lbxFlash->setUniformItemSizes(true);
    m_splitter1->setObjectName(QStringLiteral("Splitter1"));
    m_splitter1->setHandleWidth(3);
    m_splitter1->setChildrenCollapsible(false);
    m_splitter1->addWidget(m_lbxFlash);
    m_splitter1->addWidget(m_pnl2);
    m_splitter1->setStretchFactor(0, 0);
    m_splitter1->setStretchFactor(1, 1);
    m_splitter1->setSizes({193, width() - 193 - 3});

    m_pnl2->setObjectName(QStringLiteral("pnl2"));
    auto* previewLayout = new QVBoxLayout(m_pnl2);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    m_wbPreview = makePreview(m_pnl2);
    previewLayout->addWidget(m_wbPreview->widget());

    m_pnlNav->setObjectName(QStringLiteral("pnlNav"));
    m_pnlNav->setFixedHeight(19);
    m_pnlNav->setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter1, 1);
    layout->addWidget(m_pnlNav);

    setTabOrder(m_lbxFlash, m_pnl2);
    // Mouse and arrow keys alike; the current row may change before the selection does.
    connect(m_lbxFlash, &QListWidget::itemSelectionChanged, this,
            guard.wrap([this] { lbxFlashClick(); }));
    // A right click reaches the list's viewport, the menu key the list itself.
    m_lbxFlash->installEventFilter(this);
    m_lbxFlash->viewport()->installEventFilter(this);
}

TframeCachedFlash::~TframeCachedFlash() {
    // The list outlives this object's own members by a little; its last signals find no one.
    QObject::disconnect(m_lbxFlash, nullptr, this, nullptr);
}

// A line is described when it is hovered (toolTipFor): a long list shows with no work per line
// beyond its text.
void TframeCachedFlash::moviesListed() {}

// Two browsers may hold the same movie: each line tells, on hovering, whose cache it is in.
QString TframeCachedFlash::toolTipFor(int line) const {
    const auto* layer = dynamic_cast<const sources::BrowserCacheLayer*>(&m_cache);
    const MovieList* listed = m_presenter.movies();
    if (layer == nullptr || listed == nullptr || line < 0 ||
        static_cast<std::size_t>(line) >= listed->MovieCount()) {
        return {};
    }
    const auto movie = static_cast<std::size_t>(line);
    const sources::SourceLocation* source = layer->sourceOfLocalFile(listed->CacheFile(movie));
    if (source == nullptr) {
        return {};
    }
    const sources::SourceDescription about = sources::describeSource(*source);
    QString browser = QString::fromStdString(about.family);
    if (!about.profile.empty()) {
        browser += QStringLiteral(" (%1)").arg(QString::fromStdString(about.profile));
    }
    // On another machine's disk, whose cache it is matters as much as the browser's.
    const QString user = about.user.empty()
                             ? QString()
                             : QStringLiteral("User: %1\n").arg(QString::fromStdString(about.user));
    return QStringLiteral("From the cache of %1\n%2%3")
        .arg(browser, user, QString::fromStdString(listed->Url(movie)));
}

bool TframeCachedFlash::showToolTip(const QHelpEvent& event) {
    const QModelIndex index = m_lbxFlash->indexAt(event.pos());
    const QString text = index.isValid() ? toolTipFor(index.row()) : QString();
    if (text.isEmpty()) {
        QToolTip::hideText();
        return false;
    }
    QToolTip::showText(event.globalPos(), text, m_lbxFlash->viewport(),
                       m_lbxFlash->visualRect(index));
    return true;
}

void TframeCachedFlash::showStatus(const std::string& text) {
    m_pnlNav->show();
    m_pnlNav->showMessage(QString::fromStdString(text));
}

void TframeCachedFlash::navigatePreview(const std::string& localFile) {
    m_wbPreview->Navigate(localPath(localFile));
}

void TframeCachedFlash::lbxFlashContextPopup(QObject* sender, const QPoint& mousePos,
                                             bool& handled) {
    const auto* list = qobject_cast<const QWidget*>(sender);
    m_presenter.lbxFlashContextPopup(list != nullptr && hasOwnPopupMenu(*list),
                                     {mousePos.x(), mousePos.y()}, handled);
}

void TframeCachedFlash::showShellMenu(const std::string& localFile, int line,
                                      presenters::ViewPoint at) {
    QPoint point(at.x, at.y);
    if (at == presenters::kKeyboardPopup) {
        // From the keyboard: at the selected line rather than the list's corner.
        QListWidgetItem* item = m_lbxFlash->item(line);
        m_lbxFlash->scrollToItem(item);
        point =
            m_lbxFlash->viewport()->mapTo(m_lbxFlash, m_lbxFlash->visualItemRect(item).center());
    }
    // The menu belongs to the frame, so the point goes into the frame's coordinates.
    m_showShellMenu(this, localPath(localFile), m_lbxFlash->mapTo(this, point));
}

// The scan runs on a thread of its own while this thread goes on with the window system's events
// (the user's input waits): the web engine starts the preview's page meanwhile, and the splash
// window is painted when asked.
void TframeCachedFlash::runScanBeforeShown(const std::function<void()>& scan) {
    std::exception_ptr failure;
    QEventLoop waiting;
    std::thread scanning([&scan, &failure, &waiting] {
        try {
            scan();
        } catch (...) {
            failure = std::current_exception();
        }
        // Posted: the loop ends even when the scan is done before the loop has begun.
        static_cast<void>(QMetaObject::invokeMethod(&waiting, "quit", Qt::QueuedConnection));
    });
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
    scanning.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool TframeCachedFlash::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && watched == m_lbxFlash->viewport()) {
        if (!showToolTip(*static_cast<QHelpEvent*>(event))) {
            event->ignore();
        }
        return true;
    }
    if (event->type() == QEvent::ContextMenu) {
        const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        const bool fromKeyboard = menuEvent->reason() == QContextMenuEvent::Keyboard;
        // A right click that nobody took travels on from the viewport to the list: once is enough.
        if (fromKeyboard ? watched == m_lbxFlash : watched == m_lbxFlash->viewport()) {
            const QPoint pos = fromKeyboard
                                   ? QPoint(-1, -1)
                                   : m_lbxFlash->viewport()->mapTo(m_lbxFlash, menuEvent->pos());
            bool handled = false;
            m_guard.run([this, &pos, &handled] { lbxFlashContextPopup(m_lbxFlash, pos, handled); });
            if (handled) {
                event->accept();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

std::vector<curation::ArchivedMovie> TframeCachedFlash::ArchivedMovies() const {
    std::vector<curation::ArchivedMovie> archived;
    const MovieList* listed = m_presenter.movies();
    const TCacheAnalyzer* scanned = m_presenter.analyzer();
    if (listed == nullptr) {
        return archived;
    }
    // The entries of the scan by their local file, for the headers and times the cache kept.
    std::map<std::string, const TEntryInfo*> entries;
    if (scanned != nullptr) {
        for (const auto* list : {&scanned->MultimediaEntries(), &scanned->OtherEntries(),
                                 &scanned->PageEntries(), &scanned->ImageEntries()}) {
            for (const auto& entry : *list) {
                entries.emplace(entry->LocalFileName, entry.get());
            }
        }
    }
    const auto* layer = dynamic_cast<const sources::BrowserCacheLayer*>(&m_cache);
    for (std::size_t movie = 0; movie < listed->MovieCount(); ++movie) {
        const std::string localFile = listed->CacheFile(movie);
        const auto found = entries.find(localFile);
        curation::ArchivedMovie& item =
            archived.emplace_back(found != entries.end() ? curation::archivedEntry(*found->second)
                                                         : curation::ArchivedMovie());
        item.url = listed->Url(movie);
        item.localFile = localFile;
        if (layer != nullptr) {
            if (const sources::SourceLocation* source = layer->sourceOfLocalFile(item.localFile)) {
                item.source = sources::describeSource(*source);
            }
        }
    }
    return archived;
}

std::vector<curation::ArchivedMovie> TframeCachedFlash::SiteFiles() const {
    std::vector<curation::ArchivedMovie> files;
    const MovieList* listed = m_presenter.movies();
    if (listed == nullptr || m_presenter.analyzer() == nullptr) {
        return files;
    }
    curation::SiteAssets assets;
    std::set<std::string> movieUrls;
    for (std::size_t movie = 0; movie < listed->MovieCount(); ++movie) {
        const std::string url = listed->Url(movie);
        assets.addHost(HostFromUrl(url));
        assets.addNamedBy(url, listed->CacheFile(movie));
        movieUrls.insert(url);
    }
    // The browsers' own caches have only their movies copied out: another reading of them copies
    // out the site files too. A WinINet cache keeps every file as a file of its own.
    const TCacheAnalyzer* scanned = m_presenter.analyzer();
    std::unique_ptr<sources::BrowserCacheLayer> reading;
    std::unique_ptr<TCacheAnalyzer> analyzer;
    if (const auto* layer = dynamic_cast<const sources::BrowserCacheLayer*>(&m_cache)) {
        sources::BrowserCacheLayer::Options options = layer->options();
        options.pruneUnknownSources = false;
        options.extractAlso = [&assets](std::string_view url) {
            return assets.takes(url);
        };
        reading = std::make_unique<sources::BrowserCacheLayer>(std::move(options));
        analyzer = std::make_unique<TCacheAnalyzer>(*reading, m_localTime);
        analyzer->Rescan();
        scanned = analyzer.get();
    }
    for (const TEntryInfo* entry : curation::siteEntries(*scanned, assets, movieUrls)) {
        curation::ArchivedMovie& item = files.emplace_back(curation::archivedEntry(*entry));
        item.contentType = curation::mediaTypeOfName(item.url);
        if (reading) {
            if (const sources::SourceLocation* source =
                    reading->sourceOfLocalFile(item.localFile)) {
                item.source = sources::describeSource(*source);
            }
        }
    }
    return files;
}

std::vector<std::string> TframeCachedFlash::CachesRead() const {
    const auto* layer = dynamic_cast<const sources::BrowserCacheLayer*>(&m_cache);
    return layer != nullptr ? sources::contentCachesRead(*layer) : std::vector<std::string>();
}

QString TframeCachedFlash::statusText() const {
    return m_pnlNav->currentMessage();
}

} // namespace sarnika
