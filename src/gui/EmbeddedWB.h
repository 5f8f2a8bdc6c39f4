#pragma once

#include <stdexcept>

#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include "gui/HostOptions.h"

class QFileInfo;
class QKeySequence;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

namespace sarnika {

// Navigate could not start showing a movie; what() is the description for the user (UTF-8).
class PreviewError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The preview pane: a web view that plays a local movie with Ruffle. The page is generated
// once; later movies are switched with the player's load(), which is several times faster
// than loading a new page. Errors while the movie loads are shown by the player itself.
class TEmbeddedWB : public QWidget {
    Q_OBJECT

public:
    explicit TEmbeddedWB(QWidget* parent = nullptr);
    ~TEmbeddedWB() override;
    TEmbeddedWB(const TEmbeddedWB&) = delete;
    TEmbeddedWB& operator=(const TEmbeddedWB&) = delete;

    // Loads the player's page ahead of the first movie, so that the web engine and the player
    // start while the window does other work. Does nothing when the player files are missing or
    // a page is there already.
    void Preload();
    // Shows the movie stored at localPath. Throws PreviewError when the file or the player
    // files are missing.
    void Navigate(const QString& localPath);

    TDownloadControlOptions DownloadOptions() const { return m_downloadOptions; }
    void setDownloadOptions(TDownloadControlOptions options);
    TUserInterfaceOptions UserInterfaceOptions() const { return m_userInterfaceOptions; }
    void setUserInterfaceOptions(TUserInterfaceOptions options);

    // The folder with ruffle.js and the files it loads; defaultPlayerDir() unless set.
    QString playerDir() const { return m_playerDir; }
    void setPlayerDir(const QString& dir);
    // $SARNIKA_RUFFLE_DIR when set, else the folder "ruffle" next to the program, else the
    // installed share/sarnika/ruffle beside the program's bin folder.
    static QString defaultPlayerDir();

    // The movie last navigated to (empty before the first Navigate).
    QUrl currentMovie() const { return m_movie; }
    QWebEngineView* view() const { return m_view; }

    // Whether a key pressed while the preview has focus is offered to the movie before the
    // window's shortcuts: every key except backspace, enter, the left and right arrows of the
    // cursor block and Alt combinations, which take the ordinary way.
    static bool keyGoesToMovieFirst(int key, Qt::KeyboardModifiers modifiers);
    // Tab and Shift+Tab without Ctrl, Alt or Meta: they move the focus out of the preview.
    static bool isTabAway(int key, Qt::KeyboardModifiers modifiers);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class PageState { None, Loading, Ready };

    void applyOptions();
    QFileInfo playerScript() const;
    void loadPage(const QFileInfo& player);
    QString pageHtml(const QUrl& firstMovie) const;
    QString loadOptionsJson() const;
    void onLoadFinished(bool ok);
    void pausePlayer();
    // Whether the key is the shortcut of one of the window's enabled, shown actions.
    bool isWindowCommand(const QKeySequence& pressed) const;
    void leavePreview(bool forward);
    void resumePlayer();

    QWebEngineProfile* m_profile = nullptr;
    QWebEngineView* m_view = nullptr;
    QWebEnginePage* m_page = nullptr;
    QString m_playerDir;
    QUrl m_movie;
    // The movie the current page was generated with.
    QUrl m_pageMovie;
    // The player options the current page was generated with.
    QString m_pageOptions;
    int m_moviesOnPage = 0;
    PageState m_pageState = PageState::None;
    // Asks a hidden page again to be paused and frozen while its player is still loading.
    QTimer m_freezeRetry;
    TDownloadControlOptions m_downloadOptions = defaultDownloadOptions();
    TUserInterfaceOptions m_userInterfaceOptions;
};

} // namespace sarnika
