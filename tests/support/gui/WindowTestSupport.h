#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QColor>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

namespace sarnika {
class QtNotificationArea;
} // namespace sarnika

namespace sarnika::testing {

// Points HOME and the XDG folders at a fresh temporary folder (with a Documents folder) and
// unpacks the named made-here caches into it. Call before the QApplication exists, since Qt
// keeps some of these paths for the rest of the run. Returns the new HOME.
QString prepareTestHome(const QStringList& cacheTarballs);

// The main() of a window test program: an Xvfb of its own (the program exits 77, skipped, when
// there is none), a test home with the Chromium sample cache, the program's application set-up,
// and a desktop (window manager and tray host) unless `withDesktop` is false. `makeTest` builds
// the QtTest object once the application exists.
int runWindowTests(int argc, char** argv, const std::function<std::unique_ptr<QObject>()>& makeTest,
                   bool withDesktop = true);

// The same with the demo's caches (tools/make_synthetic_caches.py --demo): a Chromium and a
// Firefox cache holding animated movies with known background colours.
QString prepareDemoHome();

// The background colour of a movie of the demo set, by its file name ("orbit.swf").
QColor demoBackground(const QString& movieName);

// An Xvfb of our own for tests that need a real X server; -displayfd lets the server pick a
// free number. start() sets DISPLAY, or throws when the server cannot be started.
class XServer {
public:
    explicit XServer(std::string screen = "1280x1024x24") : m_screen(std::move(screen)) {}
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ~XServer();

    void start();

    // For a test program's main(): a real X server for the web view (ours when DISPLAY is
    // unset) and the xcb platform, since an inherited offscreen one would not paint the view.
    // False, with the reason printed, when there is none.
    bool prepareRealDisplay();

private:
    std::string m_screen;
    qint64 m_pid = -1;
};

// A desktop on the X server of DISPLAY for journeys through the real window: the window manager
// (openbox) and a notification area (trayer, at the bottom right), stopped with the object.
class Desktop {
public:
    Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;
    ~Desktop();

    // Waits (up to 60 s) until the window manager and the notification area are up.
    bool ready() const;

private:
    std::vector<std::unique_ptr<QProcess>> m_helpers;
};

// Runs xdotool with the arguments ("key", "ctrl+s"); false when it failed.
bool runXdotool(const QStringList& arguments);
// A click of the button at a point of the screen, with the keys held ("ctrl") while clicking.
bool clickAt(const QPoint& global, int button = 1, const QString& held = {});
// Whether the tray icon's window sits inside the notification area, ready for a click.
bool trayIconShown();
// Clicks the tray icon with the button until `done` holds: a click that comes while the area
// still settles the icon goes nowhere, so it is repeated every 5 s. False when `done` did not
// hold within 60 s. An open menu blocks the wait; `done` may be met from inside it.
bool clickTrayIcon(const QtNotificationArea& area, int button, const std::function<bool()>& done);
// Where the window system shows a window with its frame: the client area as the X server places
// it, grown by the frame the window manager announces (_NET_FRAME_EXTENTS). Qt's own idea of
// the frame may lag behind or be missing.
QRect outerOnScreen(const QWidget* window);
// The caption the window system shows for a window (its _NET_WM_NAME).
QString shownCaption(const QWidget* window);
// Saves the whole screen into the folder SARNIKA_SCREENSHOTS names, if any.
void takeScreenshot(const QString& name);

// Records the addresses handed to the desktop (QDesktopServices::setUrlHandler).
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

    // Takes over the schemes the program opens: file, https and mailto.
    void install();
    void uninstall();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// What a modal window that came up looked like.
struct SeenModal {
    QString className;
    QString title;
    QString text; // a message box's text
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QPointer<QWidget> parent;
};

// Answers modal windows from inside their event loops: each new one is handed to the next
// queued answer; one without an answer is recorded as unexpected and rejected, so that no test
// hangs on a dialog.
class ModalDriver : public QObject {
    Q_OBJECT

public:
    using Answer = std::function<void(QWidget* modal)>;

    ModalDriver();

    void expect(Answer answer) { m_answers.append(std::move(answer)); }
    bool allAnswered() const { return m_answers.isEmpty(); }

    QList<SeenModal> seen;
    QStringList unexpected;

    // Answers for message boxes and dialogs.
    static Answer click(QMessageBox::StandardButton button);
    static Answer reject();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void poll();

    QTimer m_timer;
    QList<Answer> m_answers;
    QList<QPointer<QWidget>> m_handled;
};

} // namespace sarnika::testing
