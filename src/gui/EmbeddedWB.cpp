#include "gui/EmbeddedWB.h"

#include <algorithm>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPalette>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

// Resources of a static library are registered by hand; this must sit outside any namespace.
static void registerPreviewResources() {
    Q_INIT_RESOURCE(preview);
}

namespace sarnika {

namespace {

constexpr auto kPlayerScript = "ruffle.js";
// How many movies one page shows before the next one gets a fresh page.
constexpr int kMoviesPerPage = 10;

// The player's settings for every movie: start at once, no splash or unmute overlay, keep the
// movie's aspect ratio, and no warnings about content it cannot emulate.
QJsonObject playerConfig() {
    return QJsonObject{
        {QStringLiteral("autoplay"), QStringLiteral("on")},
        {QStringLiteral("unmuteOverlay"), QStringLiteral("hidden")},
        {QStringLiteral("splashScreen"), false},
        {QStringLiteral("letterbox"), QStringLiteral("on")},
        {QStringLiteral("warnOnUnsupportedContent"), false},
    };
}

QString toJson(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A JavaScript string literal; the URL is percent-encoded, so it cannot end a script element.
QString jsString(const QUrl& url) {
    const QByteArray array =
        QJsonDocument(QJsonArray{url.toString(QUrl::FullyEncoded)}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Keeps the preview on the page it was given: links in the player's panels and movies that
// open URLs in the same window would otherwise replace the player with another document.
class PreviewPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl&, NavigationType type, bool) override {
        return type == NavigationTypeTyped;
    }
};

} // namespace

TEmbeddedWB::TEmbeddedWB(QWidget* parent)
    : QWidget(parent), m_profile(new QWebEngineProfile(this)), m_view(new QWebEngineView(this)),
      m_page(new PreviewPage(m_profile, m_view)), m_playerDir(defaultPlayerDir()) {
    setObjectName(QStringLiteral("wbPreview"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);

    // A right click shows the player's own menu, never the browser's.
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setPage(m_page);
    // Dark, as the page is, while a page or a movie has not drawn yet: no white flash between
    // movies.
    m_page->setBackgroundColor(Qt::black);
    for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(m_view)}) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, Qt::black);
        palette.setColor(QPalette::Base, Qt::black);
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    }
    m_view->installEventFilter(this);
    m_freezeRetry.setSingleShot(true);
    m_freezeRetry.setInterval(250);
    connect(&m_freezeRetry, &QTimer::timeout, this, [this] {
        if (!isVisible()) {
            pausePlayer();
        }
    });

    QWebEngineSettings* settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    applyOptions();

    connect(m_page, &QWebEnginePage::loadFinished, this, &TEmbeddedWB::onLoadFinished);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            [this] { m_pageState = PageState::None; });
}

TEmbeddedWB::~TEmbeddedWB() {
    // The page must go before its profile, and no hide event may reach a dying page.
    m_view->removeEventFilter(this);
    disconnect(m_page, nullptr, this, nullptr);
    m_pageState = PageState::None;
    delete m_view;
}

QString TEmbeddedWB::defaultPlayerDir() {
    QString fromEnvironment = qEnvironmentVariable("SARNIKA_RUFFLE_DIR");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    // Beside the program in a build folder; under share/ once installed (bin/../share/sarnika).
    const QDir programDir(QCoreApplication::applicationDirPath());
    QString besideProgram = programDir.filePath(QStringLiteral("ruffle"));
    QString installed =
        QDir::cleanPath(programDir.filePath(QStringLiteral("../share/sarnika/ruffle")));
    if (!QFileInfo::exists(besideProgram + QStringLiteral("/ruffle.js")) &&
        QFileInfo::exists(installed + QStringLiteral("/ruffle.js"))) {
        return installed;
    }
    return besideProgram;
}

void TEmbeddedWB::setPlayerDir(const QString& dir) {
    if (dir != m_playerDir) {
        m_playerDir = dir;
        m_pageState = PageState::None;
    }
}

void TEmbeddedWB::setDownloadOptions(TDownloadControlOptions options) {
    m_downloadOptions = options;
    applyOptions();
}

void TEmbeddedWB::setUserInterfaceOptions(TUserInterfaceOptions options) {
    m_userInterfaceOptions = options;
    applyOptions();
}

// What the view can honour: images, sound and video playing without a click, scroll bars.
// Whether the movie may script the page is read at each load (see loadOptionsJson).
void TEmbeddedWB::applyOptions() {
    QWebEngineSettings* settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::AutoLoadImages,
                           m_downloadOptions.contains(TDownloadControlOption::DLCTL_DLIMAGES));
    const bool mediaPlays = m_downloadOptions.contains(TDownloadControlOption::DLCTL_VIDEOS) ||
                            m_downloadOptions.contains(TDownloadControlOption::DLCTL_BGSOUNDS);
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !mediaPlays);
    settings->setAttribute(QWebEngineSettings::ShowScrollBars,
                           !m_userInterfaceOptions.contains(TUserInterfaceOption::SCROLL_NO));
}

QString TEmbeddedWB::loadOptionsJson() const {
    QJsonObject options = playerConfig();
    options.insert(QStringLiteral("allowScriptAccess"),
                   !m_downloadOptions.contains(TDownloadControlOption::DLCTL_NO_SCRIPTS));
    return toJson(options);
}

QFileInfo TEmbeddedWB::playerScript() const {
    return QFileInfo(QDir(m_playerDir).filePath(QString::fromLatin1(kPlayerScript)));
}

void TEmbeddedWB::loadPage(const QFileInfo& player) {
    m_pageMovie = m_movie;
    m_pageOptions = loadOptionsJson();
    m_moviesOnPage = 0;
    m_pageState = PageState::Loading;
    m_page->setHtml(pageHtml(m_movie),
                    QUrl::fromLocalFile(player.absolutePath() + QLatin1Char('/')));
}

void TEmbeddedWB::Preload() {
    const QFileInfo player = playerScript();
    if (m_pageState == PageState::None && player.isFile()) {
        loadPage(player);
    }
}

void TEmbeddedWB::Navigate(const QString& localPath) {
    const QFileInfo player = playerScript();
    if (!player.isFile()) {
        throw PreviewError(
            QStringLiteral("The Flash player is missing: %1 was not found. Run \"npm ci\" and "
                           "build again, or set SARNIKA_RUFFLE_DIR.")
                .arg(QDir::toNativeSeparators(player.absoluteFilePath()))
                .toStdString());
    }
    const QFileInfo movie(localPath);
    if (localPath.isEmpty() || !movie.isFile()) {
        throw PreviewError(QStringLiteral("Cannot show \"%1\": the file does not exist.")
                               .arg(QDir::toNativeSeparators(localPath))
                               .toStdString());
    }
    if (!movie.isReadable()) {
        throw PreviewError(QStringLiteral("Cannot show \"%1\": the file cannot be read.")
                               .arg(QDir::toNativeSeparators(localPath))
                               .toStdString());
    }

    m_movie = QUrl::fromLocalFile(movie.absoluteFilePath());
    // Each movie leaves some of the player's memory behind in its page, never given back while
    // the page lives: after a number of movies the next one gets a page of its own.
    if (m_pageState == PageState::Ready && ++m_moviesOnPage >= kMoviesPerPage) {
        m_pageState = PageState::None;
    }
    switch (m_pageState) {
    case PageState::None:
        loadPage(player);
        break;
    case PageState::Loading:
        // onLoadFinished switches to m_movie when the page is ready.
        break;
    case PageState::Ready:
        m_page->runJavaScript(
            QStringLiteral("sarnika.load(%1, %2)").arg(jsString(m_movie), loadOptionsJson()));
        // As a page that loads its movie while hidden: it waits to be shown. A page loaded
        // ahead of its movie gets here, for a window that starts in the tray, without ever
        // having been shown.
        if (!isVisible()) {
            pausePlayer();
        }
        break;
    }
}

void TEmbeddedWB::onLoadFinished(bool ok) {
    if (m_pageState != PageState::Loading) {
        return;
    }
    if (!ok) {
        // The next Navigate builds the page again.
        m_pageState = PageState::None;
        return;
    }
    m_pageState = PageState::Ready;
    // Loaded ahead of its first movie: the page has started setting its player up, and the
    // movie comes with Navigate.
    if (m_movie.isEmpty()) {
        return;
    }
    // Options changed while the page loaded apply to its movie as to any later one.
    if (m_movie != m_pageMovie || loadOptionsJson() != m_pageOptions) {
        m_page->runJavaScript(
            QStringLiteral("sarnika.load(%1, %2)").arg(jsString(m_movie), loadOptionsJson()));
    }
    if (!isVisible()) {
        pausePlayer();
    }
}

QString TEmbeddedWB::pageHtml(const QUrl& firstMovie) const {
    static const QString kTemplate = [] {
        registerPreviewResources();
        QFile page(QStringLiteral(":/preview/preview.html"));
        if (!page.open(QIODevice::ReadOnly)) {
            throw PreviewError("The preview page is missing from the program's resources.");
        }
        return QString::fromUtf8(page.readAll());
    }();
    return kTemplate.arg(toJson(playerConfig()), QString::fromLatin1(kPlayerScript),
                         jsString(firstMovie), loadOptionsJson());
}

void TEmbeddedWB::pausePlayer() {
    if (m_pageState != PageState::Ready) {
        return;
    }
    // Freezing stops the page's timers as well; only a hidden page may be frozen, and only once
    // its player has no load under way: ask again a little later until then.
    m_page->runJavaScript(QStringLiteral("sarnika.pause()"), [this](const QVariant& idle) {
        if (m_pageState != PageState::Ready || isVisible() || m_page->isVisible()) {
            return;
        }
        if (idle.toBool()) {
            m_page->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
        } else {
            m_freezeRetry.start();
        }
    });
}

void TEmbeddedWB::resumePlayer() {
    m_freezeRetry.stop();
    if (m_page->lifecycleState() != QWebEnginePage::LifecycleState::Active) {
        m_page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
    }
    if (m_pageState == PageState::Ready) {
        m_page->runJavaScript(QStringLiteral("sarnika.resume()"));
    }
}

void TEmbeddedWB::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    resumePlayer();
}

void TEmbeddedWB::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    pausePlayer();
}

bool TEmbeddedWB::keyGoesToMovieFirst(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::AltModifier)) {
        return false;
    }
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return false;
    case Qt::Key_Left:
    case Qt::Key_Right:
        return modifiers.testFlag(Qt::KeypadModifier);
    default:
        return true;
    }
}

bool TEmbeddedWB::isWindowCommand(const QKeySequence& pressed) const {
    QWidget* top = window();
    for (QAction* action : top->findChildren<QAction*>()) {
        if (!action->isEnabled() || !action->shortcuts().contains(pressed) ||
            action->shortcutContext() == Qt::WidgetShortcut) {
            continue;
        }
        const QObjectList owners = action->associatedObjects();
        const bool shown = std::any_of(owners.begin(), owners.end(), [top](QObject* owner) {
            auto* widget = qobject_cast<QWidget*>(owner);
            return widget != nullptr && widget->window() == top && widget->isVisible();
        });
        if (shown) {
            return true;
        }
    }
    return false;
}

void TEmbeddedWB::leavePreview(bool forward) {
    // The next widget of the window's tab order outside the preview, either way round.
    QWidget* candidate = forward ? nextInFocusChain() : previousInFocusChain();
    while (candidate != nullptr && candidate != this) {
        if (!isAncestorOf(candidate) && candidate->window() == window() &&
            (candidate->focusPolicy() & Qt::TabFocus) != 0 && candidate->isVisible() &&
            candidate->isEnabled()) {
            candidate->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return;
        }
        candidate = forward ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
    }
}

bool TEmbeddedWB::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view && event->type() == QEvent::ChildAdded) {
        // The view renders into a child widget that it replaces when its renderer restarts.
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType()) {
            child->installEventFilter(this);
        }
    } else if ((event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
               watched != m_view) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Tab and Shift+Tab always take the focus out of the movie, back to the window.
        if (isTabAway(key->key(), key->modifiers())) {
            if (event->type() == QEvent::KeyPress) {
                leavePreview(key->key() == Qt::Key_Tab);
                return true;
            }
            return false;
        }
        if (!keyGoesToMovieFirst(key->key(), key->modifiers())) {
            return QWidget::eventFilter(watched, event);
        }
        // Accepting the override delivers the key to the page instead of the window's shortcuts.
        // The player claims every key while the movie has its focus, whether the movie listens
        // for it or not, so a key that is one of the window's commands stays the window's: it
        // runs once, and a keyboard user is never stuck in the movie.
        if (event->type() == QEvent::ShortcutOverride &&
            !isWindowCommand(QKeySequence(key->keyCombination()))) {
            event->accept();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TEmbeddedWB::isTabAway(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers others =
        modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    return (key == Qt::Key_Tab || key == Qt::Key_Backtab) && others == Qt::NoModifier;
}

} // namespace sarnika
