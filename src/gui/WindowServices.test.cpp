#include <memory>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QSize>
#include <QTest>
#include <QTimer>

#include "app/Options.h"
#include "app/SettingsStore.h"
#include "gui/Program.h"
#include "support/gui/ServicesTestRig.h"
#include "support/gui/WindowTestSupport.h"

using namespace sarnika;
using namespace sarnika::testing;

namespace {

// The options key, noting for every call whether the main window existed at that moment.
class WatchedOptions final : public OptionsStore {
public:
    explicit WatchedOptions(const QPointer<TfrmMain>& window) : m_window(window) {}
    std::optional<std::uint32_t> readNumber(const std::string& name) override {
        note("read", name);
        return m_store.readNumber(name);
    }
    void writeNumber(const std::string& name, std::uint32_t value) override {
        note("write", name);
        m_store.writeNumber(name, value);
    }
    QStringList calls;
    QStringList showCmdAtCall; // the stored placement's ShowCmd at each call

private:
    void note(const char* what, const std::string& name) {
        calls.append(
            QString::fromLatin1(what) +
            (m_window ? QStringLiteral(" while window ") : QStringLiteral(" without window ")) +
            QString::fromStdString(name));
        showCmdAtCall.append(placementValue(QStringLiteral("ShowCmd")));
    }
    const QPointer<TfrmMain>& m_window;
    QtOptionsStore m_store;
};

} // namespace

// The window's placement, its tray icon and the program's start and end, offscreen: a fake
// notification area stands in for the desktop's.
class TestWindowServices : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void storesReadAndRefuseAsTheRegistryWould();
    void reopensWhereAndHowItWasClosed();
    void placementErrorIsReportedAndWindowOpens();
    void trayRestoreIsNoShowing();
    void withoutNotificationAreaMinimisedStaysAWindow();
    void settingsAfterNormalCloseAndTrayExit();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    std::unique_ptr<sarnika::testing::ModalDriver> m_driver;
};

void TestWindowServices::init() {
    QFile::remove(sarnikaConf());
    QFile::remove(tessalyConf());
    m_driver = std::make_unique<ModalDriver>();
}

void TestWindowServices::cleanup() {
    QVERIFY2(m_driver->unexpected.isEmpty(), qPrintable(m_driver->unexpected.join(u'\n')));
    QVERIFY(m_driver->allAnswered());
    m_driver.reset();
}

void TestWindowServices::storesReadAndRefuseAsTheRegistryWould() {
    const auto failure = [](const std::function<void()>& step) {
        try {
            step();
        } catch (const SettingsError& error) {
            return QString::fromUtf8(error.what());
        }
        return QString();
    };
    {
        QSettings tessaly(tessalyConf(), QSettings::IniFormat);
        tessaly.setValue(QStringLiteral("SecLevel"), QStringLiteral("258"));
        tessaly.setValue(QStringLiteral("IEDetectPeriod"), QStringLiteral("-1"));
        tessaly.setValue(QStringLiteral("AutoStart"), QStringLiteral("yes"));
        tessaly.setValue(QStringLiteral("RemoveAll"), QSize(1, 2));
    }
    QtOptionsStore options;
    QCOMPARE(options.readNumber("SecLevel"), std::optional<std::uint32_t>(258));
    QCOMPARE(options.readNumber("IEDetectPeriod"), std::optional<std::uint32_t>(0xFFFFFFFF));
    QCOMPARE(options.readNumber("UnloadShell"), std::nullopt);
    for (const char* name : {"AutoStart", "RemoveAll"}) {
        QCOMPARE(failure([&options, name] { static_cast<void>(options.readNumber(name)); }),
                 QStringLiteral("Invalid data type for '%1'").arg(QString::fromLatin1(name)));
    }

    // Where the company's folder should be there is a file: no key can be made.
    const QString folder = QFileInfo(sarnikaConf()).path();
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
    QtIniStore store;
    QCOMPARE(failure([&store] { static_cast<void>(store.open("Software\\Quillmoor\\Sarnika")); }),
             QStringLiteral("Failed to create key Software\\Quillmoor\\Sarnika"));
    QCOMPARE(failure([&options] { options.writeNumber("SecLevel", 2); }),
             QStringLiteral("Failed to create key Software\\Quillmoor\\Tessaly"));
    QVERIFY(QFile::remove(folder));
}

void TestWindowServices::reopensWhereAndHowItWasClosed() {
    QRect closedAt;
    {
        // First run: declared size, centred; closing writes the nine values.
        ServicesRig rig;
        rig.window->FormCreate();
        rig.showSettled();
        QCOMPARE(rig.window->frameGeometry().size(), QSize(550, 437));
        QCOMPARE(rig.store->opened, 1);
        rig.window->move(40, 60);
        rig.window->resize(rig.window->size() + QSize(50, 30));
        closedAt = rig.window->frameGeometry();
        rig.window->close();
        QSettings written(sarnikaConf(), QSettings::IniFormat);
        written.beginGroup(QStringLiteral("Placement"));
        QCOMPARE(written.childKeys().size(), 9);
        const QString norm = QStringLiteral("%1,%2,%3,%4")
                                 .arg(closedAt.left())
                                 .arg(closedAt.top())
                                 .arg(closedAt.left() + closedAt.width())
                                 .arg(closedAt.top() + closedAt.height());
        QCOMPARE(placementValue(QStringLiteral("NormPos")), norm);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(placementValue(
                     QStringLiteral("NormPos(%1x%2)").arg(screen.width()).arg(screen.height())),
                 norm);
        QCOMPARE(placementValue(QStringLiteral("ShowCmd")), QStringLiteral("1"));
        QCOMPARE(placementValue(QStringLiteral("Visible")), QStringLiteral("0"));
        QCOMPARE(placementValue(QStringLiteral("FormVersion")), QStringLiteral("0"));
    }
    for (int run = 0; run < 2; ++run) {
        ServicesRig rig;
        rig.window->FormCreate();
        rig.showSettled();
        QCOMPARE(rig.window->frameGeometry(), closedAt);
        if (run == 1) {
            rig.window->showMaximized();
            QTRY_VERIFY(rig.window->isMaximized());
        }
        rig.window->close();
    }
    QCOMPARE(placementValue(QStringLiteral("ShowCmd")), QStringLiteral("3"));
    ServicesRig rig;
    rig.window->FormCreate();
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QVERIFY(rig.window->isMaximized());
    rig.window->showNormal();
    QTRY_COMPARE(rig.window->frameGeometry(), closedAt);
}

void TestWindowServices::placementErrorIsReportedAndWindowOpens() {
    {
        QSettings settings(sarnikaConf(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Placement/NormPos"), QSize(1, 2));
    }
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    ServicesRig rig;
    rig.window->FormCreate();
    rig.showSettled();
    QCOMPARE(m_driver->seen.size(), 1);
    QCOMPARE(m_driver->seen[0].text, QStringLiteral("Invalid data type for 'NormPos'"));
    QCOMPARE(m_driver->seen[0].parent, rig.window.get());
    QVERIFY(rig.window->isVisible());
    QCOMPARE(rig.window->frameGeometry().size(), QSize(550, 437));
    // Never restored, so the close keeps the stored values as they were.
    rig.window->close();
    QCOMPARE(placementValue(QStringLiteral("ShowCmd")), QStringLiteral("<absent>"));
}

void TestWindowServices::trayRestoreIsNoShowing() {
    auto area = std::make_shared<FakeArea>();
    ServicesRig rig(area);
    rig.empty = true;
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    rig.window->FormCreate();
    rig.showSettled();
    QTRY_COMPARE(m_driver->seen.size(), 1);
    QCOMPARE(m_driver->seen[0].title, QStringLiteral("Sorry"));
    const QRect shownAt = rig.window->frameGeometry();
    QVERIFY(!rig.window->trayIco()->Active());
    QVERIFY(!area->shown);

    for (int round = 0; round < 2; ++round) {
        rig.window->showMinimized();
        QTRY_VERIFY(rig.window->hiddenToTray());
        QVERIFY(!rig.window->isVisible());
        QVERIFY(rig.window->trayIco()->Active());
        QVERIFY(area->shown);
        area->click();
        QTRY_VERIFY(rig.window->isVisible() && !rig.window->isMinimized());
        QVERIFY(!rig.window->hiddenToTray());
        QVERIFY(!rig.window->trayIco()->Active());
        QVERIFY(!area->shown);
        QTest::qWait(100);
    }
    // One restore pass, one "Sorry", the window where it was.
    QCOMPARE(rig.store->opened, 1);
    QCOMPARE(m_driver->seen.size(), 1);
    QCOMPARE(rig.window->frameGeometry(), shownAt);
    QCOMPARE(area->adds, 2);

    // "Restore" in the tray menu does the same as a click.
    rig.window->showMinimized();
    QTRY_VERIFY(rig.window->hiddenToTray());
    rig.window->popTray()->findChild<QAction*>(QStringLiteral("Restore1"))->trigger();
    QTRY_VERIFY(rig.window->isVisible() && !rig.window->isMinimized());
    QVERIFY(!area->shown);
}

void TestWindowServices::withoutNotificationAreaMinimisedStaysAWindow() {
    auto area = std::make_shared<FakeArea>();
    area->isAvailable = false;
    ServicesRig rig(area);
    rig.window->FormCreate();
    rig.showSettled();
    rig.window->showMinimized();
    QTRY_VERIFY(rig.window->trayIco()->Active());
    QVERIFY(!rig.window->hiddenToTray());
    QVERIFY(rig.window->isVisible());
    QVERIFY(rig.window->isMinimized());
    QVERIFY(!rig.window->trayIco()->added());
    // Restored from the task bar, the icon is switched off again.
    rig.window->showNormal();
    QTRY_VERIFY(!rig.window->trayIco()->Active());
}

void TestWindowServices::settingsAfterNormalCloseAndTrayExit() {
    const QStringList optionNames = {QStringLiteral("SecLevel"),
                                     QStringLiteral("HistoryRemoveSecLevel"),
                                     QStringLiteral("IEDetectPeriod"),
                                     QStringLiteral("AutoStart"),
                                     QStringLiteral("ShowConfirms"),
                                     QStringLiteral("IEAutoDetection"),
                                     QStringLiteral("ClearOnStartUp"),
                                     QStringLiteral("RemoveAll"),
                                     QStringLiteral("AutoCleanOnProgStartUp"),
                                     QStringLiteral("RemoveHistory"),
                                     QStringLiteral("UnloadShell")};
    for (const bool fromTray : {false, true}) {
        if (fromTray) {
            // A value another program left: any non-zero number is true and comes back as 1.
            QSettings(tessalyConf(), QSettings::IniFormat).setValue(QStringLiteral("RemoveAll"), 7);
        }
        auto area = std::make_shared<FakeArea>();
        ServicesRig rig(area);
        QPointer<TfrmMain> live;
        WatchedOptions options(live);
        // Timers of the test, started once the window is up.
        QTimer first;
        QTimer second;
        first.setSingleShot(true);
        second.setSingleShot(true);
        const int status = runProgram(
            [&rig, &live] {
                live = rig.window.get();
                return std::move(rig.window);
            },
            options,
            [fromTray, &first, &second](TfrmMain& window) {
                if (!fromTray) {
                    QObject::connect(&first, &QTimer::timeout, &window, &QWidget::close);
                } else {
                    QObject::connect(&first, &QTimer::timeout, &window, &QWidget::showMinimized);
                    QObject::connect(&second, &QTimer::timeout, &window, [&window] {
                        QVERIFY(window.hiddenToTray());
                        window.popTray()->findChild<QAction*>(QStringLiteral("Exit1"))->trigger();
                    });
                    second.start(600);
                }
                first.start(300);
            });
        QCOMPARE(status, 0);
        QVERIFY(!live);
        // The first run writes the defaults while loading too.
        const qsizetype calls = options.calls.size();
        QCOMPARE(calls, fromTray ? 22 : 33);
        for (const QString& call : options.calls) {
            QVERIFY2(call.contains(QStringLiteral("without window")), qPrintable(call));
        }
        for (qsizetype i = calls - 11; i < calls; ++i) {
            QVERIFY2(options.calls[i].startsWith(QStringLiteral("write")),
                     qPrintable(options.calls[i]));
        }
        // The placement was stored before the options record was saved.
        const QString showCmd = fromTray ? QStringLiteral("2") : QStringLiteral("1");
        QCOMPARE(options.showCmdAtCall.value(calls - 11), showCmd);
        QCOMPARE(placementValue(QStringLiteral("ShowCmd")), showCmd);
        QVERIFY(!area->shown);
        const QSettings tessaly(tessalyConf(), QSettings::IniFormat);
        QCOMPARE(tessaly.childKeys().size(), 11);
        for (const QString& name : optionNames) {
            QVERIFY2(tessaly.contains(name), qPrintable(name));
        }
        QCOMPARE(tessaly.value(QStringLiteral("RemoveAll")).toString(),
                 fromTray ? QStringLiteral("1") : QStringLiteral("0"));
        QCOMPARE(tessaly.value(QStringLiteral("SecLevel")).toString(), QStringLiteral("2"));
        qInfo("%s:\n%s", qPrintable(sarnikaConf()), qPrintable(fileText(sarnikaConf())));
        qInfo("%s:\n%s", qPrintable(tessalyConf()), qPrintable(fileText(tessalyConf())));
    }
}

int main(int argc, char** argv) {
    sarnika::testing::prepareTestHome({QStringLiteral("chromium-cache.tar.gz")});
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Sarnika"));
    TestWindowServices test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowServices.test.moc"
