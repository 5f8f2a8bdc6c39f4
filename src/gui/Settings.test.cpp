#include "gui/Settings.h"

#include <stdexcept>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QTest>
#include <QUrl>

#include "gui/ErrorGuard.h"
#include "gui/ShellFunctions.h"
#include "support/gui/WindowTestSupport.h"

using namespace sarnika;
using sarnika::testing::ModalDriver;

// The settings store over QSettings, the shell functions and the error guard, offscreen.
class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();

    void storeLivesUnderTheCompanyKey();
    void readsStringsAndRefusesOtherTypes();
    void reportsAFailedWrite();
    void shellOpenHandsEveryKindToTheDesktop();
    void personalFolderIsTheDocumentsFolder();
    void bringWindowToFrontRestoresButKeepsMaximised();
    void guardShowsTheErrorAndGoesOn();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    QString m_file;
};

void TestSettings::init() {
    m_file = QtSettingsStore(QStringLiteral("SarnikaTest")).location();
    QFile::remove(m_file);
}

void TestSettings::storeLivesUnderTheCompanyKey() {
    QCOMPARE(QtSettingsStore().location(),
             QDir::homePath() + QStringLiteral("/.config/Quillmoor/Sarnika.conf"));
    QtSettingsStore store(QStringLiteral("SarnikaTest"));
    store.writeString("SaveAsFolder", "/home/ann/Flash films, old");
    QVERIFY(QFile::exists(m_file));
    QCOMPARE(QSettings(m_file, QSettings::IniFormat).value(QStringLiteral("SaveAsFolder")),
             QVariant(QStringLiteral("/home/ann/Flash films, old")));
    QCOMPARE(store.readString("SaveAsFolder"),
             std::optional<std::string>("/home/ann/Flash films, old"));
}

void TestSettings::readsStringsAndRefusesOtherTypes() {
    // As another program may have left them on disk.
    QVERIFY(QDir().mkpath(QFileInfo(m_file).path()));
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\n"
               "Plain=C:\\\\Movies\\\\\n"
               "Number=42\n"
               "Empty=\n"
               "EmptyList=@Invalid()\n"
               "EmptyBytes=@ByteArray()\n"
               "List=a, b\n"
               "Size=@Size(1 2)\n");
    file.close();
    QtSettingsStore store(QStringLiteral("SarnikaTest"));
    QCOMPARE(store.readString("Absent"), std::nullopt);
    QCOMPARE(store.readString("Plain"), std::optional<std::string>("C:\\Movies\\"));
    QCOMPARE(store.readString("Number"), std::optional<std::string>("42"));
    for (const char* empty : {"Empty", "EmptyList", "EmptyBytes"}) {
        QCOMPARE(store.readString(empty), std::optional<std::string>(""));
    }
    for (const char* wrong : {"List", "Size"}) {
        try {
            static_cast<void>(store.readString(wrong));
            QFAIL(wrong);
        } catch (const SettingsError& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Invalid data type for '%1'").arg(QString::fromLatin1(wrong)));
        }
    }
}

void TestSettings::reportsAFailedWrite() {
    // Where the file should be there is a folder.
    QVERIFY(QDir().mkpath(m_file));
    QtSettingsStore store(QStringLiteral("SarnikaTest"));
    try {
        store.writeString("SaveAllFolder", "/tmp/");
        QFAIL("no error");
    } catch (const SettingsError& error) {
        QCOMPARE(QString::fromUtf8(error.what()),
                 QStringLiteral("Failed to set data for 'SaveAllFolder'"));
    }
    QCOMPARE(store.readString("Other"), std::nullopt);
    QVERIFY(QDir().rmdir(m_file));
}

void TestSettings::shellOpenHandsEveryKindToTheDesktop() {
    sarnika::testing::UrlRecorder recorder;
    recorder.install();
    QVERIFY(ShellOpen(QStringLiteral("https://www.quillmoor.example/sarnika/")));
    QVERIFY(ShellOpen(QStringLiteral("mailto:support@quillmoor.example")));
    QVERIFY(ShellOpen(QStringLiteral("/tmp/some movie.swf")));
    QVERIFY(ShellOpen(QString()));
    QCOMPARE(recorder.opened,
             (QList<QUrl>{QUrl(QStringLiteral("https://www.quillmoor.example/sarnika/")),
                          QUrl(QStringLiteral("mailto:support@quillmoor.example")),
                          QUrl::fromLocalFile(QStringLiteral("/tmp/some movie.swf"))}));
    recorder.uninstall();
}

void TestSettings::personalFolderIsTheDocumentsFolder() {
    QCOMPARE(GetPersonalFolder(), QDir::homePath() + QStringLiteral("/Documents"));
    QVERIFY(!GetPersonalFolder().endsWith(QLatin1Char('/')));
    // The user's own choice in user-dirs.dirs wins.
    const QString dirs = QDir::homePath() + QStringLiteral("/.config/user-dirs.dirs");
    QFile file(dirs);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("XDG_DOCUMENTS_DIR=\"$HOME/Papers/\"\n");
    file.close();
    // Named but not made: there is no documents folder.
    QCOMPARE(GetPersonalFolder(), QString());
    QVERIFY(QDir::home().mkdir(QStringLiteral("Papers")));
    QCOMPARE(GetPersonalFolder(), QDir::homePath() + QStringLiteral("/Papers"));
    QFile::remove(dirs);
}

void TestSettings::bringWindowToFrontRestoresButKeepsMaximised() {
    QWidget window;
    window.showMinimized();
    QVERIFY(QTest::qWaitForWindowExposed(&window) || window.isMinimized());
    window.setEnabled(false);
    BringWindowToFront(&window, true);
    QVERIFY(window.isMinimized());
    window.setEnabled(true);
    BringWindowToFront(&window, true);
    QVERIFY(!window.isMinimized());

    window.showMaximized();
    BringWindowToFront(&window, true);
    QVERIFY(window.isMaximized());
    BringWindowToFront(nullptr, true);
}

void TestSettings::guardShowsTheErrorAndGoesOn() {
    QWidget owner;
    const ErrorGuard guard(&owner);
    ModalDriver driver;
    driver.expect(ModalDriver::click(QMessageBox::Ok));
    driver.expect(ModalDriver::click(QMessageBox::Ok));
    int after = 0;
    QVERIFY(!guard.run([] { throw std::runtime_error("Disk on fire"); }));
    QVERIFY(!guard.run([] { throw 42; }));
    QVERIFY(guard.run([&after] { ++after; }));
    guard.wrap([&after] { ++after; })();
    QCOMPARE(after, 2);
    QCOMPARE(driver.seen.size(), 2);
    QCOMPARE(driver.seen[0].text, QStringLiteral("Disk on fire"));
    QCOMPARE(driver.seen[0].title, QStringLiteral("Sarnika"));
    QCOMPARE(driver.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(driver.seen[0].parent, &owner);
    QVERIFY(!driver.seen[1].text.isEmpty());
    QVERIFY(driver.unexpected.isEmpty());
}

int main(int argc, char** argv) {
    sarnika::testing::prepareTestHome({});
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Sarnika"));
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "Settings.test.moc"
