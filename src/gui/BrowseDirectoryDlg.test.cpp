#include "gui/BrowseDirectoryDlg.h"

#include <functional>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "gui/BrowseDirectoryDlg.test.h"

using sarnika::TdfsBrowseDirectoryDlg;

namespace {

// What the test saw of the open dialog.
struct Seen {
    bool found = false;
    QString caption;
    QString title;
    QString edit;
    QString treeFolder;
    QPoint position;
    QSize outer;
    bool stayedOpen = false;
};

QLineEdit* editBox(QDialog* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("edtFolder"));
}

void press(QDialog* dialog, QDialogButtonBox::StandardButton which) {
    dialog->findChild<QDialogButtonBox*>()->button(which)->click();
}

QString treeFolder(QDialog* dialog) {
    const auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("tvFolders"));
    const auto* model = qobject_cast<const QFileSystemModel*>(tree->model());
    return tree->currentIndex().isValid() ? model->filePath(tree->currentIndex()) : QString();
}

// Runs the dialog and hands the open dialog to drive; a dialog left open is cancelled.
bool runDriven(TdfsBrowseDirectoryDlg& browser, Seen& seen,
               const std::function<void(QDialog*)>& drive) {
    QTimer open;
    open.setSingleShot(true);
    QObject::connect(&open, &QTimer::timeout, &browser, [&seen, drive] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        seen.found = dialog != nullptr;
        if (dialog == nullptr) {
            return;
        }
        seen.caption = dialog->windowTitle();
        seen.title = dialog->findChild<QLabel*>(QStringLiteral("lblTitle"))->text();
        seen.edit = editBox(dialog)->text();
        seen.treeFolder = treeFolder(dialog);
        seen.position = dialog->pos();
        seen.outer = dialog->frameGeometry().size();
        drive(dialog);
    });
    open.start(0);
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    safety.start(5000);
    return browser.Execute();
}

} // namespace

void TestBrowseDirectoryDlg::init() {
    m_owner.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir root(m_dir->path());
    QVERIFY(root.mkpath(QStringLiteral("alpha/inner")));
    QVERIFY(root.mkpath(QStringLiteral("beta")));
    QFile file(root.filePath(QStringLiteral("movie.swf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    m_alpha = root.filePath(QStringLiteral("alpha"));
    m_beta = root.filePath(QStringLiteral("beta"));

    m_owner = std::make_unique<QWidget>();
    m_owner->setGeometry(10, 10, 200, 100);
    m_owner->show();
    m_browser = new TdfsBrowseDirectoryDlg(m_owner.get());
    m_browser->setTitle(QStringLiteral("Save all..."));
    m_browser->setCaption(QStringLiteral("Select directory to save movies..."));
}

void TestBrowseDirectoryDlg::preselectionAndTexts() {
    m_browser->setSelection(m_alpha);
    QCOMPARE(m_browser->Selection(), m_alpha + QLatin1Char('/'));
    Seen seen;
    const bool result =
        runDriven(*m_browser, seen, [](QDialog* dialog) { press(dialog, QDialogButtonBox::Ok); });
    QVERIFY(seen.found);
    QCOMPARE(seen.caption, QStringLiteral("Select directory to save movies..."));
    QCOMPARE(seen.title, QStringLiteral("Save all..."));
    // Shown without the setter's trailing separator, in the box and in the tree.
    QCOMPARE(seen.edit, m_alpha);
    QCOMPARE(seen.treeFolder, m_alpha);
    const QRect screen = m_owner->screen()->geometry();
    QCOMPARE(seen.position, QPoint((screen.width() - seen.outer.width()) / 2,
                                   (screen.height() - seen.outer.height()) / 2));
    QVERIFY(result);
    QCOMPARE(m_browser->Selection(), m_alpha);
    QVERIFY(m_browser->dialogWindow() == nullptr);
}

void TestBrowseDirectoryDlg::typedFolderConfirms() {
    Seen seen;
    const QString typed = m_beta + QStringLiteral("/../beta/");
    const bool result = runDriven(*m_browser, seen, [typed](QDialog* dialog) {
        editBox(dialog)->setText(typed);
        press(dialog, QDialogButtonBox::Ok);
    });
    QVERIFY(seen.found);
    // Nothing preselected on a first run without a selection.
    QCOMPARE(seen.edit, QString());
    QVERIFY(result);
    QCOMPARE(m_browser->Selection(), m_beta);

    // The next run opens on the chosen folder.
    const bool again =
        runDriven(*m_browser, seen, [](QDialog* dialog) { press(dialog, QDialogButtonBox::Ok); });
    QCOMPARE(seen.edit, m_beta);
    QVERIFY(again);
    QCOMPARE(m_browser->Selection(), m_beta);
}

void TestBrowseDirectoryDlg::nameThatIsNoFolderKeepsItOpen() {
    Seen seen;
    const QString file = m_dir->filePath(QStringLiteral("movie.swf"));
    const QString missing = m_dir->filePath(QStringLiteral("gamma"));
    QStringList modalAfterRefusal;
    const bool result = runDriven(*m_browser, seen, [&](QDialog* dialog) {
        for (const QString& refused : {file, missing}) {
            editBox(dialog)->setText(refused);
            press(dialog, QDialogButtonBox::Ok);
            QApplication::processEvents();
            // Still open, and no message box on top of it.
            const QWidget* modal = QApplication::activeModalWidget();
            modalAfterRefusal.append(dialog->isVisible() && modal == dialog ? refused : QString());
        }
        editBox(dialog)->setText(m_alpha);
        press(dialog, QDialogButtonBox::Ok);
    });
    QCOMPARE(modalAfterRefusal, QStringList({file, missing}));
    QVERIFY(result);
    QCOMPARE(m_browser->Selection(), m_alpha);
}

void TestBrowseDirectoryDlg::relativeNameAndTreeSelection() {
    m_browser->setSelection(m_alpha);
    Seen seen;
    const bool result = runDriven(*m_browser, seen, [](QDialog* dialog) {
        editBox(dialog)->setText(QStringLiteral("inner"));
        press(dialog, QDialogButtonBox::Ok);
    });
    QVERIFY(result);
    QCOMPARE(m_browser->Selection(), m_alpha + QStringLiteral("/inner"));

    // Picking a folder in the tree writes it into the edit box, and OK takes it.
    const bool picked = runDriven(*m_browser, seen, [this](QDialog* dialog) {
        auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("tvFolders"));
        const auto* model = qobject_cast<const QFileSystemModel*>(tree->model());
        tree->setCurrentIndex(model->index(m_beta));
        press(dialog, QDialogButtonBox::Ok);
    });
    QVERIFY(picked);
    QCOMPARE(m_browser->Selection(), m_beta);
}

void TestBrowseDirectoryDlg::cancelAndEscapeEmptyTheSelection() {
    m_browser->setSelection(m_alpha);
    Seen seen;
    QVERIFY(!runDriven(*m_browser, seen,
                       [](QDialog* dialog) { press(dialog, QDialogButtonBox::Cancel); }));
    QCOMPARE(m_browser->Selection(), QString());

    // The next run opens with nothing preselected; Escape cancels too.
    QVERIFY(!runDriven(*m_browser, seen,
                       [](QDialog* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }));
    QCOMPARE(seen.edit, QString());
    QCOMPARE(m_browser->Selection(), QString());
}

void TestBrowseDirectoryDlg::selectionChangedWhileOpen() {
    Seen seen;
    QString shown;
    const bool result = runDriven(*m_browser, seen, [&](QDialog* dialog) {
        m_browser->setSelection(m_beta + QLatin1Char('/'));
        shown = editBox(dialog)->text();
        QVERIFY(m_browser->dialogWindow() == dialog);
        press(dialog, QDialogButtonBox::Ok);
    });
    QCOMPARE(shown, m_beta);
    QVERIFY(result);
    QCOMPARE(m_browser->Selection(), m_beta);
}

QTEST_MAIN(TestBrowseDirectoryDlg)
