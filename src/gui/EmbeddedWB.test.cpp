#include "gui/EmbeddedWB.h"

#include <QAction>
#include <QApplication>
#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QObject>
#include <QProcess>
#include <QScreen>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "gui/WebEngineSetup.h"
#include "support/gui/WindowTestSupport.h"

using sarnika::PreviewError;
using sarnika::TEmbeddedWB;
using sarnika::testing::XServer;

namespace {

// Every wait of these tests: long enough for a loaded machine, reached only by a real fault.
constexpr int kPatience = 60000;
// What 150 changes of movie may add to the process tree (each leaked about 0.8 MiB before).
constexpr double kMaxGrowthMiB = 30;

// Proportional memory of this process and its children (the web engine's helpers), in MiB.
double processTreeMiB(qint64 pid) {
    double kib = 0;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (rollup.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            if (line.startsWith("Pss:")) {
                kib += line.mid(4).trimmed().split(' ').value(0).toDouble();
            }
        }
    }
    QDirIterator tasks(QStringLiteral("/proc/%1/task").arg(pid), QDir::Dirs | QDir::NoDotAndDotDot);
    while (tasks.hasNext()) {
        QFile children(tasks.next() + QStringLiteral("/children"));
        if (children.open(QIODevice::ReadOnly)) {
            for (const QByteArray& child : children.readAll().simplified().split(' ')) {
                if (!child.isEmpty()) {
                    kib += processTreeMiB(child.toLongLong()) * 1024;
                }
            }
        }
    }
    return kib / 1024;
}

bool near(QColor a, QColor b) {
    return qAbs(a.red() - b.red()) < 24 && qAbs(a.green() - b.green()) < 24 &&
           qAbs(a.blue() - b.blue()) < 24;
}

QColor centreColour(QWidget& widget) {
    const QImage image = widget.grab().toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

// The page's answer to a script, waited for in the event loop.
QVariant evaluate(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    return QTest::qWaitFor([&] { return done; }, kPatience) ? result : QVariant();
}

} // namespace

// Plays generated one-colour movies in a shown preview under a real X server.
class TestEmbeddedWB : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void showsMoviesAndSwitchesWithLoad();
    void switchesWithoutAWhiteFlash();
    void survivesBrokenMovies();
    void refusesWhatItCannotShow();
    void optionsReachViewAndPlayer();
    void pausesWhileHidden();
    void playsWhenShownAfterLoadingHidden();
    void preloadedPageTakesItsFirstMovie();
    void keysReachTheMovieFirst();
    void memoryStaysFlatWhileSwitching();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    QString makeMovie(const QString& name, const QString& colour);

    QTemporaryDir m_dir;
    QString m_green;
    QString m_blue;
    QString m_orange;
};

QString TestEmbeddedWB::makeMovie(const QString& name, const QString& colour) {
    QString path = m_dir.filePath(name);
    const int status = QProcess::execute(
        QStringLiteral("python3"), {QStringLiteral(SARNIKA_MAKE_SWF), path, QStringLiteral("--bg"),
                                    colour, QStringLiteral("--color"), colour,
                                    QStringLiteral("--rect"), QStringLiteral("0,0,550,400")});
    return status == 0 && QFile::exists(path) ? path : QString();
}

void TestEmbeddedWB::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_green = makeMovie(QStringLiteral("green movie.swf"), QStringLiteral("20c040"));
    m_blue = makeMovie(QStringLiteral("blue.swf"), QStringLiteral("2040e0"));
    m_orange = makeMovie(QStringLiteral("orange's [1].swf"), QStringLiteral("f08020"));
    QVERIFY2(!m_green.isEmpty() && !m_blue.isEmpty() && !m_orange.isEmpty(), "make_swf.py failed");
    QVERIFY(QFile::exists(TEmbeddedWB::defaultPlayerDir() + QStringLiteral("/ruffle.js")));
}

void TestEmbeddedWB::showsMoviesAndSwitchesWithLoad() {
    TEmbeddedWB preview;
    preview.resize(640, 480);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));

    QElapsedTimer timer;
    timer.start();
    preview.Navigate(m_green);
    QTRY_VERIFY_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0xc0, 0x40)), kPatience);
    qInfo("First frame %lld ms after Navigate", static_cast<long long>(timer.elapsed()));

    // The second movie reuses the page: the player's load(), not a new document.
    bool reloaded = false;
    connect(preview.view()->page(), &QWebEnginePage::loadStarted, this, [&] { reloaded = true; });
    timer.restart();
    preview.Navigate(m_blue);
    QTRY_VERIFY_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0x40, 0xe0)), kPatience);
    qInfo("Switch to the next movie: %lld ms", static_cast<long long>(timer.elapsed()));
    QVERIFY(!reloaded);
    QCOMPARE(preview.currentMovie(), QUrl::fromLocalFile(m_blue));

    // Quotes, brackets and spaces in the path survive the trip into the page.
    preview.Navigate(m_orange);
    QTRY_VERIFY_WITH_TIMEOUT(near(centreColour(preview), QColor(0xf0, 0x80, 0x20)), kPatience);
    qInfo("Process tree with a movie playing: %.0f MiB (PSS)",
          processTreeMiB(QCoreApplication::applicationPid()));
}

void TestEmbeddedWB::switchesWithoutAWhiteFlash() {
    TEmbeddedWB preview;
    preview.resize(400, 300);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
    // What the screen shows in the middle of the pane, as often as the event loop allows.
    const QPoint centre = preview.mapToGlobal(preview.rect().center());
    const auto shown = [&] {
        const QImage image =
            QGuiApplication::primaryScreen()->grabWindow(0, centre.x(), centre.y(), 1, 1).toImage();
        return image.isNull() ? QColor() : image.pixelColor(0, 0);
    };
    int whiteSamples = 0;
    int samples = 0;
    const auto watchUntil = [&](QColor colour) {
        return QTest::qWaitFor(
            [&] {
                const QColor now = shown();
                ++samples;
                if (now.lightness() > 200) {
                    ++whiteSamples;
                }
                return near(now, colour);
            },
            kPatience);
    };
    const QColor green(0x20, 0xc0, 0x40);
    const QColor blue(0x20, 0x40, 0xe0);
    // Once the pane has painted, it is dark or a movie: while the page and the player start,
    // and at every change of movie.
    QVERIFY(QTest::qWaitFor([&] { return shown().lightness() < 40; }, kPatience));
    preview.Navigate(m_green);
    QVERIFY(watchUntil(green));
    for (int round = 0; round < 3; ++round) {
        preview.Navigate(m_blue);
        QVERIFY(watchUntil(blue));
        preview.Navigate(m_green);
        QVERIFY(watchUntil(green));
    }
    qInfo("%d samples of the pane, %d of them white", samples, whiteSamples);
    QCOMPARE(whiteSamples, 0);
}

void TestEmbeddedWB::survivesBrokenMovies() {
    const QString junk = m_dir.filePath(QStringLiteral("junk.swf"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("CWS\x0a") + QByteArray(5000, '\x7f'));
    file.close();
    const QString empty = m_dir.filePath(QStringLiteral("empty.swf"));
    QFile emptyFile(empty);
    QVERIFY(emptyFile.open(QIODevice::WriteOnly));
    emptyFile.close();

    TEmbeddedWB preview;
    preview.resize(400, 300);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
    QWebEnginePage* page = preview.view()->page();
    const auto panicShown = [&] {
        return evaluate(page, QStringLiteral("typeof sarnika === 'object' && "
                                             "!!sarnika.player.shadowRoot.getElementById('panic')"))
            .toBool();
    };
    preview.Navigate(junk);
    QTRY_VERIFY_WITH_TIMEOUT(panicShown(), kPatience);
    QVERIFY(!near(centreColour(preview), QColor(0x20, 0xc0, 0x40)));
    preview.Navigate(empty);
    QTRY_VERIFY_WITH_TIMEOUT(panicShown(), kPatience);
    // Links in the player's error panel, and scripts, cannot take the page away.
    evaluate(page, QStringLiteral("for (const a of sarnika.player.shadowRoot.querySelectorAll("
                                  "'#panic a')) { a.click(); } location.href = 'file:///';"));
    QCOMPARE(evaluate(page, QStringLiteral("typeof sarnika")).toString(), QStringLiteral("object"));

    // The player shows its own error and takes the next movie as usual.
    preview.Navigate(m_green);
    QTRY_VERIFY_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0xc0, 0x40)), kPatience);
}

void TestEmbeddedWB::refusesWhatItCannotShow() {
    TEmbeddedWB preview;
    QVERIFY_THROWS_EXCEPTION(PreviewError,
                             preview.Navigate(m_dir.filePath(QStringLiteral("gone.swf"))));
    QVERIFY_THROWS_EXCEPTION(PreviewError, preview.Navigate(QString()));
    QVERIFY_THROWS_EXCEPTION(PreviewError, preview.Navigate(m_dir.path()));
    try {
        preview.Navigate(m_dir.filePath(QStringLiteral("gone.swf")));
    } catch (const PreviewError& error) {
        QVERIFY(QString::fromUtf8(error.what()).contains(QStringLiteral("gone.swf")));
    }

    QTemporaryDir noPlayer;
    preview.setPlayerDir(noPlayer.path());
    try {
        preview.Navigate(m_green);
        QFAIL("Navigate without the player files did not throw");
    } catch (const PreviewError& error) {
        QVERIFY(QString::fromUtf8(error.what()).contains(QStringLiteral("npm ci")));
    }
    QVERIFY(preview.currentMovie().isEmpty());
}

void TestEmbeddedWB::optionsReachViewAndPlayer() {
    TEmbeddedWB preview;
    preview.resize(400, 300);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
    QWebEngineSettings* settings = preview.view()->page()->settings();
    QVERIFY(settings->testAttribute(QWebEngineSettings::AutoLoadImages));
    QVERIFY(!settings->testAttribute(QWebEngineSettings::PlaybackRequiresUserGesture));
    QVERIFY(settings->testAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls));
    QCOMPARE(preview.view()->contextMenuPolicy(), Qt::NoContextMenu);

    const auto loadedConfig = [&] {
        return evaluate(preview.view()->page(),
                        QStringLiteral("(() => { const c = typeof sarnika === 'object' && "
                                       "sarnika.player.ruffle().loadedConfig; "
                                       "return c ? [c.allowScriptAccess, c.autoplay, c.letterbox, "
                                       "c.unmuteOverlay, c.splashScreen].join() : ''; })()"))
            .toString();
    };
    // Options set while the page is still loading reach its first movie.
    preview.Navigate(m_green);
    preview.setDownloadOptions({sarnika::TDownloadControlOption::DLCTL_NO_SCRIPTS});
    QTRY_COMPARE_WITH_TIMEOUT(loadedConfig(), QStringLiteral("false,on,on,hidden,false"),
                              kPatience);
    preview.setDownloadOptions(sarnika::defaultDownloadOptions());
    preview.Navigate(m_orange);
    QTRY_COMPARE_WITH_TIMEOUT(loadedConfig(), QStringLiteral("true,on,on,hidden,false"), kPatience);

    preview.setDownloadOptions({sarnika::TDownloadControlOption::DLCTL_NO_SCRIPTS});
    QVERIFY(!settings->testAttribute(QWebEngineSettings::AutoLoadImages));
    QVERIFY(settings->testAttribute(QWebEngineSettings::PlaybackRequiresUserGesture));
    preview.Navigate(m_blue);
    QTRY_COMPARE_WITH_TIMEOUT(loadedConfig(), QStringLiteral("false,on,on,hidden,false"),
                              kPatience);
}

void TestEmbeddedWB::pausesWhileHidden() {
    TEmbeddedWB preview;
    preview.resize(400, 300);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
    preview.Navigate(m_green);
    QTRY_VERIFY_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0xc0, 0x40)), kPatience);
    QWebEnginePage* page = preview.view()->page();
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(page, QStringLiteral("sarnika.isPlaying()")).toBool(),
                             kPatience);

    preview.hide();
    QTRY_COMPARE_WITH_TIMEOUT(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen,
                              kPatience);

    preview.show();
    QCOMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Active);
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(page, QStringLiteral("sarnika.isPlaying()")).toBool(),
                             kPatience);

    // A movie the user paused stays paused across hide and show.
    QVERIFY(!evaluate(page, QStringLiteral("sarnika.player.ruffle().suspend(), "
                                           "sarnika.isPlaying()"))
                 .toBool());
    preview.hide();
    QTRY_COMPARE_WITH_TIMEOUT(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen,
                              kPatience);
    preview.show();
    QCOMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Active);
    // The page has run the resume that came with the show once it answers the next script.
    QVERIFY(!evaluate(page, QStringLiteral("sarnika.isPlaying()")).toBool());
}

// A window that starts in the tray loads its first movie while hidden. A page frozen in the
// middle of that load may never finish it (a black pane for the rest of the session, in some
// runs and not others): the page sleeps only with its movie in.
void TestEmbeddedWB::playsWhenShownAfterLoadingHidden() {
    for (int run = 0; run < 4; ++run) {
        TEmbeddedWB preview;
        preview.resize(400, 300);
        preview.Navigate(m_green);
        QWebEnginePage* page = preview.view()->page();
        QTRY_COMPARE_WITH_TIMEOUT(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen,
                                  kPatience);
        preview.show();
        // The first script after waking runs before anything the page had left hanging.
        QCOMPARE(evaluate(page, QStringLiteral("sarnika.player.ruffle().readyState")).toInt(), 2);
        QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
        QTRY_VERIFY2_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0xc0, 0x40)),
                                  qPrintable(QStringLiteral("run %1").arg(run)), kPatience);
        preview.Navigate(m_blue);
        QTRY_VERIFY_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0x40, 0xe0)), kPatience);
    }
}

// A page loaded ahead sets its player up before the first movie is known: the movie reaches
// that player whether it comes while the page loads, once the player waits, with other options,
// or while the window is hidden.
void TestEmbeddedWB::preloadedPageTakesItsFirstMovie() {
    const auto playerConfig = [](QWebEnginePage* page) {
        return evaluate(page, QStringLiteral("sarnika.player.ruffle().loadedConfig."
                                             "allowScriptAccess"))
            .toString();
    };
    for (const QString& when : {QStringLiteral("loading"), QStringLiteral("waiting"),
                                QStringLiteral("options"), QStringLiteral("hidden")}) {
        TEmbeddedWB preview;
        preview.resize(400, 300);
        if (when != QStringLiteral("hidden")) {
            preview.show();
            QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
        }
        preview.Preload();
        QWebEnginePage* page = preview.view()->page();
        if (when == QStringLiteral("waiting")) {
            // Set up: the player plays, with no movie yet.
            QTRY_VERIFY_WITH_TIMEOUT(
                evaluate(page, QStringLiteral("typeof sarnika === 'object' && sarnika.isPlaying()"))
                    .toBool(),
                kPatience);
        }
        if (when == QStringLiteral("options")) {
            preview.setDownloadOptions({sarnika::TDownloadControlOption::DLCTL_NO_SCRIPTS});
        }
        preview.Navigate(m_green);
        if (when == QStringLiteral("hidden")) {
            QTRY_COMPARE_WITH_TIMEOUT(page->lifecycleState(),
                                      QWebEnginePage::LifecycleState::Frozen, kPatience);
            preview.show();
            QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
        }
        QTRY_VERIFY2_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0xc0, 0x40)),
                                  qPrintable(when), kPatience);
        QCOMPARE(playerConfig(page), when == QStringLiteral("options") ? QStringLiteral("false")
                                                                       : QStringLiteral("true"));
        // The next movie comes the ordinary way.
        preview.Navigate(m_blue);
        QTRY_VERIFY2_WITH_TIMEOUT(near(centreColour(preview), QColor(0x20, 0x40, 0xe0)),
                                  qPrintable(when), kPatience);
    }
}

void TestEmbeddedWB::keysReachTheMovieFirst() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* preview = new TEmbeddedWB(&window);
    layout->addWidget(preview);
    int triggered = 0;
    const auto addShortcut = [&](const QKeySequence& keys) {
        auto* action = new QAction(&window);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, &window, [&] { ++triggered; });
        window.addAction(action);
    };
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_A), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Backspace),
          QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_Left | Qt::KeypadModifier),
          QKeySequence(Qt::Key_Space), QKeySequence(Qt::ALT | Qt::Key_S)}) {
        addShortcut(keys);
    }
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, kPatience));
    preview->Navigate(m_green);
    QTRY_VERIFY_WITH_TIMEOUT(near(centreColour(*preview), QColor(0x20, 0xc0, 0x40)), kPatience);
    QApplication::setActiveWindow(&window);
    preview->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::focusWidget() != nullptr &&
                                 (QApplication::focusWidget() == preview->view()->focusProxy()),
                             kPatience);
    QWidget* target = QApplication::focusWidget();
    QWebEnginePage* page = preview->view()->page();
    evaluate(page, QStringLiteral("window.keysSeen = []; document.addEventListener('keydown', "
                                  "(e) => window.keysSeen.push(e.key), true)"));

    const auto fires = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        const int before = triggered;
        QTest::keyClick(target, key, modifiers);
        return triggered > before;
    };
    // A key that is one of the window's commands runs it, once; the others go to the movie.
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_A, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_Space, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_Left, Qt::KeyboardModifiers(Qt::KeypadModifier)},
          std::pair{Qt::Key_Return, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_Backspace, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_Left, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_S, Qt::KeyboardModifiers(Qt::AltModifier)}}) {
        const int before = triggered;
        QVERIFY2(fires(key, modifiers), qPrintable(QKeySequence(key).toString()));
        QCOMPARE(triggered, before + 1);
    }
    QVERIFY(!fires(Qt::Key_B, Qt::NoModifier));
    QVERIFY(!fires(Qt::Key_Up, Qt::NoModifier));
    QTRY_COMPARE_WITH_TIMEOUT(
        evaluate(page, QStringLiteral("window.keysSeen.slice(-2).join()")).toString(),
        QStringLiteral("b,ArrowUp"), kPatience);
}

void TestEmbeddedWB::memoryStaysFlatWhileSwitching() {
    // Memory left over by the other tests would blur the measure: ctest runs this one alone.
    if (!QCoreApplication::arguments().contains(QStringLiteral("memoryStaysFlatWhileSwitching"))) {
        QSKIP("measured in a run of its own (ctest -R EmbeddedWBMemory)");
    }
    TEmbeddedWB preview;
    preview.resize(400, 300);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview, kPatience));
    const QList<QPair<QString, QColor>> movies = {{m_green, QColor(0x20, 0xc0, 0x40)},
                                                  {m_blue, QColor(0x20, 0x40, 0xe0)},
                                                  {m_orange, QColor(0xf0, 0x80, 0x20)}};
    const auto shows = [&](QColor colour) {
        return near(centreColour(preview), colour);
    };
    const auto walk = [&](int switches) {
        for (int i = 0; i < switches; ++i) {
            const auto& [movie, colour] = movies.at(i % movies.size());
            preview.Navigate(movie);
            if (!QTest::qWaitFor([&] { return shows(colour); }, kPatience)) {
                return false;
            }
        }
        return true;
    };
    // The engine's caches and the player's first allocations settle in the first switches.
    QVERIFY(walk(30));
    const double before = processTreeMiB(QCoreApplication::applicationPid());
    QVERIFY(walk(150));
    const double after = processTreeMiB(QCoreApplication::applicationPid());
    qInfo("Process tree %.1f MiB before and %.1f MiB after 150 switches (PSS)", before, after);
    QVERIFY2(after - before <= kMaxGrowthMiB,
             qPrintable(QStringLiteral("grew by %1 MiB").arg(after - before)));
}

int main(int argc, char** argv) {
    XServer xserver;
    if (!xserver.prepareRealDisplay()) {
        return 1;
    }
    if (sarnika::prepareWebEngine()) {
        qInfo("Running as root: QTWEBENGINE_DISABLE_SANDBOX=1");
    }
    QApplication app(argc, argv);
    TestEmbeddedWB test;
    return QTest::qExec(&test, argc, argv);
}

#include "EmbeddedWB.test.moc"
