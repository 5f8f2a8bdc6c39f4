#include "support/gui/WindowTestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QPair>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "gui/Program.h"
#include "gui/TrayIcon.h"

namespace sarnika::testing {

QString prepareTestHome(const QStringList& cacheTarballs) {
    // Lives for the whole run; the folder goes with the process.
    static QTemporaryDir root;
    QString home = root.filePath(QStringLiteral("home"));
    QDir().mkpath(home + QStringLiteral("/Documents"));
    const QString samples = qEnvironmentVariable("SARNIKA_SHARED", QStringLiteral("../shared")) +
                            QStringLiteral("/testdata/made-here/");
    for (const QString& tarball : cacheTarballs) {
        // The tarballs hold home/.cache/... and home/.config/...
        const int status =
            QProcess::execute(QStringLiteral("tar"), {QStringLiteral("-C"), root.path(),
                                                      QStringLiteral("-xzf"), samples + tarball});
        if (status != 0) {
            qFatal("cannot unpack %s", qPrintable(samples + tarball));
        }
    }
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/.cache")).toUtf8());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toUtf8());
    qunsetenv("XDG_DOCUMENTS_DIR");
    qunsetenv("WINEPREFIX");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    return home;
}

namespace {

QString demoTool(const QString& name) {
    return QStringLiteral(SARNIKA_SOURCE_DIR "/tools/") + name;
}

} // namespace

QString prepareDemoHome() {
    QString home = prepareTestHome({});
    // The tool writes OUT/home/...: the same home as ours.
    const QString out = QDir(home).absoluteFilePath(QStringLiteral(".."));
    const int status = QProcess::execute(
        QStringLiteral("python3"),
        {demoTool(QStringLiteral("make_synthetic_caches.py")), out, QStringLiteral("--demo")});
    if (status != 0) {
        qFatal("make_synthetic_caches.py --demo failed");
    }
    return home;
}

QColor demoBackground(const QString& movieName) {
    // Every movie of the demo set in one run of the tool, kept for the rest of the test run.
    static const QHash<QString, QColor> backgrounds = [] {
        QHash<QString, QColor> found;
        QProcess python;
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import sys; sys.path.insert(0, sys.argv[1]); "
                                     "import make_swf_movies as m\n"
                                     "for name, movie in m.demo_movies().items(): "
                                     "print(name, bytes(m.background_of(movie)).hex())"),
                      demoTool(QString())});
        if (python.waitForFinished(60000) && python.exitCode() == 0) {
            for (const QByteArray& line : python.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> words = line.trimmed().split(' ');
                if (words.size() == 2) {
                    found.insert(QString::fromUtf8(words[0]),
                                 QColor(QStringLiteral("#") + QString::fromLatin1(words[1])));
                }
            }
        }
        return found;
    }();
    return backgrounds.value(movieName);
}

XServer::~XServer() {
    if (m_pid > 0) {
        kill(static_cast<pid_t>(m_pid), SIGTERM);
        waitpid(static_cast<pid_t>(m_pid), nullptr, 0);
    }
}

void XServer::start() {
    int fds[2] = {-1, -1};
    if (pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", m_screen.c_str(),
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    m_pid = pid;
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(fds[0]);
    if (pid < 0 || number.empty()) {
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    const std::string display = ":" + number;
    qputenv("DISPLAY", QByteArray::fromStdString(display));
    qInfo("Started Xvfb on %s", display.c_str());
}

bool XServer::prepareRealDisplay() {
    try {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            start();
        }
    } catch (const std::exception& error) {
        qCritical("%s", error.what());
        return false;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

Desktop::Desktop() {
    const QList<QPair<QString, QStringList>> helpers = {
        {QStringLiteral("openbox"), {}},
        {QStringLiteral("trayer"),
         {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
          QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
          QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
          QStringLiteral("28"), QStringLiteral("--transparent"), QStringLiteral("false")}}};
    for (const auto& [program, arguments] : helpers) {
        auto helper = std::make_unique<QProcess>();
        helper->setProgram(program);
        helper->setArguments(arguments);
        helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper->setStandardOutputFile(QProcess::nullDevice());
        // A test that crashes takes its helpers along; they would hold ctest's output open.
        helper->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        helper->start();
        if (!helper->waitForStarted()) {
            qFatal("cannot start %s (is it installed? see scripts/gui-deps.sh)",
                   qPrintable(program));
        }
        m_helpers.push_back(std::move(helper));
    }
}

Desktop::~Desktop() {
    for (const auto& helper : m_helpers) {
        helper->terminate();
        if (!helper->waitForFinished(3000)) {
            helper->kill();
            helper->waitForFinished();
        }
    }
}

bool Desktop::ready() const {
    constexpr int kLimitMs = 60000;
    const auto windowManagerRuns = [] {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"),
                    {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        xprop.waitForFinished();
        return xprop.readAllStandardOutput().contains("window id");
    };
    return QTest::qWaitFor(windowManagerRuns, kLimitMs) &&
           QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kLimitMs);
}

bool runXdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

bool clickAt(const QPoint& global, int button, const QString& held) {
    QStringList arguments = {QStringLiteral("mousemove"), QString::number(global.x()),
                             QString::number(global.y())};
    if (!held.isEmpty()) {
        arguments << QStringLiteral("keydown") << held;
    }
    arguments << QStringLiteral("click") << QString::number(button);
    if (!held.isEmpty()) {
        arguments << QStringLiteral("keyup") << held;
    }
    return runXdotool(arguments);
}

namespace {

// What one of the X tools (xwininfo, xprop) prints.
QString x11Output(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Whether the X window sits inside another window than the root (xwininfo -tree).
bool embedded(const QWidget* window) {
    const QString tree =
        x11Output(QStringLiteral("xwininfo"), {QStringLiteral("-tree"), QStringLiteral("-id"),
                                               QString::number(window->winId())});
    const QRegularExpression id(QStringLiteral("(Root|Parent) window id: (0x[0-9a-f]+)"));
    QStringList ids;
    for (auto match = id.globalMatch(tree); match.hasNext();) {
        ids.append(match.next().captured(2));
    }
    return ids.size() == 2 && ids[0] != ids[1];
}

} // namespace

bool trayIconShown() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](const QWidget* window) {
        const QWindow* handle = window->windowHandle();
        return QByteArray(window->metaObject()->className()).contains("TrayIcon") &&
               handle != nullptr && handle->isExposed() && embedded(window);
    });
}

bool clickTrayIcon(const QtNotificationArea& area, int button, const std::function<bool()>& done) {
    constexpr int kLimitMs = 60000;
    constexpr int kRepeatMs = 5000;
    QElapsedTimer sinceClick;
    return QTest::qWaitFor(
        [&] {
            if (done()) {
                return true;
            }
            if (!sinceClick.isValid() || sinceClick.elapsed() > kRepeatMs) {
                clickAt(area.iconGeometry().center(), button);
                sinceClick.start();
            }
            return done();
        },
        kLimitMs);
}

QRect outerOnScreen(const QWidget* window) {
    const QString id = QString::number(window->window()->winId());
    // "  Absolute upper-left X:  130", "  Width: 548", ...
    const QString info = x11Output(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    const auto field = [&info](const QString& name) {
        const QRegularExpression pattern(name + QStringLiteral(":\\s+(-?\\d+)"));
        return pattern.match(info).captured(1).toInt();
    };
    QRect outer(field(QStringLiteral("Absolute upper-left X")),
                field(QStringLiteral("Absolute upper-left Y")), field(QStringLiteral("Width")),
                field(QStringLiteral("Height")));
    // _NET_FRAME_EXTENTS(CARDINAL) = 1, 1, 20, 5  (left, right, top, bottom)
    const QString extents = x11Output(
        QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")});
    const QStringList parts = extents.section(QLatin1Char('='), 1).split(QLatin1Char(','));
    if (parts.size() == 4) {
        outer.adjust(-parts[0].trimmed().toInt(), -parts[2].trimmed().toInt(),
                     parts[1].trimmed().toInt(), parts[3].trimmed().toInt());
    }
    return outer;
}

QString shownCaption(const QWidget* window) {
    // _NET_WM_NAME(UTF8_STRING) = "About"
    const QString line =
        x11Output(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), QString::number(window->window()->winId()),
                   QStringLiteral("_NET_WM_NAME")})
            .trimmed();
    const qsizetype open = line.indexOf(QLatin1Char('"'));
    return open < 0 ? line : line.mid(open + 1, line.lastIndexOf(QLatin1Char('"')) - open - 1);
}

void takeScreenshot(const QString& name) {
    const QString folder = qEnvironmentVariable("SARNIKA_SCREENSHOTS");
    if (folder.isEmpty()) {
        return;
    }
    QDir().mkpath(folder);
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                 folder + QLatin1Char('/') + name});
}

void UrlRecorder::install() {
    for (const char* scheme : {"file", "https", "mailto"}) {
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
}

void UrlRecorder::uninstall() {
    for (const char* scheme : {"file", "https", "mailto"}) {
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
}

ModalDriver::ModalDriver() {
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_timer.start(10);
}

ModalDriver::Answer ModalDriver::click(QMessageBox::StandardButton button) {
    return [button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box != nullptr && box->button(button) != nullptr) {
            box->button(button)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    };
}

ModalDriver::Answer ModalDriver::reject() {
    return [](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    };
}

void ModalDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    // A progress dialog is the program at work, not a question to answer.
    if (modal == nullptr || m_handled.contains(modal) || qobject_cast<QProgressDialog*>(modal)) {
        return;
    }
    m_handled.append(modal);
    modal->installEventFilter(this);
    SeenModal record{QString::fromLatin1(modal->metaObject()->className()),
                     modal->windowTitle(),
                     {},
                     QMessageBox::NoIcon,
                     {},
                     modal->parentWidget()};
    if (const auto* box = qobject_cast<QMessageBox*>(modal)) {
        record.text = box->text();
        record.icon = box->icon();
        record.buttons = box->standardButtons();
    }
    seen.append(record);
    Answer answer;
    if (m_answers.isEmpty()) {
        unexpected.append(record.className + QStringLiteral(": ") + record.title +
                          QStringLiteral(": ") + record.text);
        answer = reject();
    } else {
        answer = m_answers.takeFirst();
    }
    // From a timer of its own, so that an answer that opens another modal window blocks
    // neither the polling nor the next answer.
    auto* later = new QTimer(modal);
    later->setSingleShot(true);
    connect(later, &QTimer::timeout, modal, [answer, modal, later] {
        later->deleteLater();
        answer(modal);
    });
    later->start(0);
}

} // namespace sarnika::testing

namespace sarnika::testing {

bool ModalDriver::eventFilter(QObject* watched, QEvent* event) {
    // A dialog that is kept and shown again (the save dialog) is a new one to answer.
    if (event->type() == QEvent::Hide) {
        m_handled.removeAll(qobject_cast<QWidget*>(watched));
        watched->removeEventFilter(this);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace sarnika::testing

namespace sarnika::testing {

int runWindowTests(int argc, char** argv, const std::function<std::unique_ptr<QObject>()>& makeTest,
                   bool withDesktop) {
    constexpr int kSkipped = 77; // ctest reports this exit code as a skipped test
    try {
        XServer xserver("1024x768x24");
        try {
            xserver.start();
        } catch (const std::exception&) {
            std::puts("SKIP: Xvfb is not installed (Debian package xvfb); these tests need an X "
                      "server.");
            return kSkipped;
        }
        prepareTestHome({QStringLiteral("chromium-cache.tar.gz")});
        qputenv("QT_QPA_PLATFORM", "xcb");
        std::unique_ptr<Desktop> desktop = withDesktop ? std::make_unique<Desktop>() : nullptr;
        QApplication app(argc, argv);
        // Named as the program names itself.
        prepareApplication();
        if (desktop && !desktop->ready()) {
            qCritical("openbox or trayer did not come up");
            return 1;
        }
        const std::unique_ptr<QObject> test = makeTest();
        return QTest::qExec(test.get(), argc, argv);
    } catch (const std::exception& error) {
        qCritical("%s", error.what());
    }
    return 1;
}

} // namespace sarnika::testing
