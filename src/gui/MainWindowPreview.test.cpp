#include "gui/MainWindowPreview.test.h"

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QStatusBar>
#include <QTest>

#include "cache/IECache.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/SystemLocalTime.h"
#include "gui/MainWindow.h"
#include "gui/Settings.h"
#include "gui/WebEngineSetup.h"
#include "gui/WindowTestSupport.h"

using namespace sarnika;
using sarnika::sources::BrowserCacheLayer;

namespace {

// The demo's backgrounds are dark and close to one another: only a near-exact match counts.
bool same(QColor a, QColor b) {
    return qAbs(a.red() - b.red()) <= 4 && qAbs(a.green() - b.green()) <= 4 &&
           qAbs(a.blue() - b.blue()) <= 4;
}

QColor centreColour(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

// The list shows the name from the address; the demo's movie files are the same in lower case.
QString movieFileOf(const QString& line) {
    return line.toLower();
}

} // namespace

void TestMainWindowPreview::selectedMoviePlays() {
    testing::ModalDriver modals; // an error box would otherwise stop the test
    BrowserCacheLayer layer(BrowserCacheLayer::currentUserOptions());
    TIECache::CheckLibrary(layer);
    const sources::SystemLocalTime localTime;
    TfrmMain frmMain(layer, localTime);
    frmMain.FormCreate();
    frmMain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frmMain));

    auto* list = frmMain.findChild<QListWidget*>(QStringLiteral("lbxFlash"));
    auto* preview = frmMain.findChild<QWidget*>(QStringLiteral("wbPreview"));
    QVERIFY(list != nullptr && preview != nullptr);
    QCOMPARE(list->count(), 7);
    QCOMPARE(list->item(0)->text(), QStringLiteral("adventure.swf"));

    // The first movie plays at start-up; the arrow keys walk the list and each movie follows.
    list->setFocus();
    for (int row = 0; row < list->count(); ++row) {
        if (row > 0) {
            QTest::keyClick(list, Qt::Key_Down);
        }
        QCOMPARE(list->currentRow(), row);
        const QString movie = movieFileOf(list->item(row)->text());
        const QColor expected = testing::demoBackground(movie);
        QVERIFY2(expected.isValid(), qPrintable(movie));
        QTRY_VERIFY2_WITH_TIMEOUT(same(centreColour(preview), expected),
                                  qPrintable(movie + QStringLiteral(": ") +
                                             centreColour(preview).name() +
                                             QStringLiteral(" instead of ") + expected.name()),
                                  20000);
        QVERIFY(frmMain.frameSites()->pnlNav()->currentMessage().startsWith(
            QStringLiteral("Flash movie from ")));
    }
    QVERIFY2(modals.unexpected.isEmpty(), qPrintable(modals.unexpected.join(QLatin1Char('\n'))));
}

int main(int argc, char** argv) {
    testing::XServer xserver;
    if (!xserver.prepareRealDisplay()) {
        return 1;
    }
    testing::prepareDemoHome();
    prepareWebEngine();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(kSettingsOrganisation);
    QApplication::setApplicationName(kSettingsApplication);
    TestMainWindowPreview test;
    return QTest::qExec(&test, argc, argv);
}
