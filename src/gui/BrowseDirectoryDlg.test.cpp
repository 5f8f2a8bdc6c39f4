#include "gui/BrowseDirectoryDlg.h"

#include <functional>
#include <memory>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWidget>

using sarnika::TdfsBrowseDirectoryDlg;

namespace {

QLineEdit* editBox(QDialog* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("edtFolder"));
}

QTreeView* tree(QDialog* dialog) {
    return dialog->findChild<QTreeView*>(QStringLiteral("tvFolders"));
}

QString treeFolder(QDialog* dialog) {
    const auto* model = qobject_cast<const QFileSystemModel*>(tree(dialog)->model());
    const QModelIndex current = tree(dialog)->currentIndex();
    return current.isValid() ? model->filePath(current) : QString();
}

void press(QDialog* dialog, QDialogButtonBox::StandardButton which) {
    dialog->findChild<QDialogButtonBox*>()->button(which)->click();
}

// Runs the dialog and hands it, once open, to drive; a dialog still open after 5 s is cancelled.
bool runDriven(TdfsBrowseDirectoryDlg& browser, const std::function<void(QDialog*)>& drive) {
    QTimer open;
    open.setSingleShot(true);
    QObject::connect(&open, &QTimer::timeout, &browser, [drive] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            drive(dialog);
        }
    });
    open.start(0);
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, &browser, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    safety.start(5000);
    return browser.Execute();
}

} // namespace

namespace sarnika {
class TdfsBrowseDirectoryDlg;
} // namespace sarnika

// The folder dialog driven from the test over a temporary folder tree, offscreen.
class TestBrowseDirectoryDlg : public QObject {
    Q_OBJECT

private slots:
    void init();
    void preselectedFolderConfirmed();
    void deepFolderScrolledIntoView();
    void typedNames();
    void treeAndSelectionWhileOpen();
    void cancelAndEscapeEmptyTheSelection();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_alpha;
    QString m_beta;
    sarnika::TdfsBrowseDirectoryDlg* m_browser = nullptr; // owned by m_owner, as by a window
    std::unique_ptr<QWidget> m_owner;
};

void TestBrowseDirectoryDlg::init() {
    m_owner.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    const QDir root(m_dir->path());
    QVERIFY(root.mkpath(QStringLiteral("alpha/inner")) && root.mkpath(QStringLiteral("beta")));
    QFile file(root.filePath(QStringLiteral("movie.swf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    m_alpha = root.filePath(QStringLiteral("alpha"));
    m_beta = root.filePath(QStringLiteral("beta"));

    m_owner = std::make_unique<QWidget>();
    m_owner->show();
    m_browser = new TdfsBrowseDirectoryDlg(m_owner.get());
    m_browser->setTitle(QStringLiteral("Save all..."));
    m_browser->setCaption(QStringLiteral("Select directory to save movies..."));
}

void TestBrowseDirectoryDlg::preselectedFolderConfirmed() {
    m_browser->setSelection(m_alpha);
    QCOMPARE(m_browser->Selection(), m_alpha + QLatin1Char('/'));
    QStringList seen;
    QRect placed;
    QVERIFY(runDriven(*m_browser, [&](QDialog* dialog) {
        seen = {dialog->windowTitle(), dialog->findChild<QLabel*>()->text(),
                editBox(dialog)->text(), treeFolder(dialog)};
        placed = dialog->frameGeometry();
        press(dialog, QDialogButtonBox::Ok);
    }));
    // Shown without the setter's trailing separator, in the box and in the tree.
    QCOMPARE(seen, QStringList({QStringLiteral("Select directory to save movies..."),
                                QStringLiteral("Save all..."), m_alpha, m_alpha}));
    const QRect screen = m_owner->screen()->geometry();
    QCOMPARE(placed.topLeft(), QPoint((screen.width() - placed.width()) / 2,
                                      (screen.height() - placed.height()) / 2));
    QCOMPARE(m_browser->Selection(), m_alpha);
    QVERIFY(m_browser->dialogWindow() == nullptr);

    // The next run opens on the confirmed folder.
    QString shown;
    QVERIFY(runDriven(*m_browser, [&](QDialog* dialog) {
        shown = editBox(dialog)->text();
        press(dialog, QDialogButtonBox::Ok);
    }));
    QCOMPARE(shown, m_alpha);
}

void TestBrowseDirectoryDlg::deepFolderScrolledIntoView() {
    // Far more folders than the tree has lines, the chosen one the last of them.
    const QDir root(m_dir->path());
    for (int n = 0; n < 60; ++n) {
        QVERIFY(root.mkpath(QStringLiteral("folder%1").arg(n, 2, 10, QLatin1Char('0'))));
    }
    const QString deep = root.filePath(QStringLiteral("zeta/inner/most"));
    QVERIFY(root.mkpath(deep));
    m_browser->setSelection(deep);
    bool visible = false;
    int captionRoom = 0;
    runDriven(*m_browser, [&](QDialog* dialog) {
        QTreeView* view = tree(dialog);
        visible = QTest::qWaitFor(
            [&] {
                const QRect line = view->visualRect(view->currentIndex());
                return treeFolder(dialog) == deep && line.isValid() &&
                       view->viewport()->rect().contains(line);
            },
            4000);
        captionRoom = dialog->width() - dialog->fontMetrics().horizontalAdvance(
                                            QStringLiteral("Select directory to save movies..."));
        dialog->reject();
    });
    QVERIFY(visible);
    // The caption fits the title bar beside the window's own buttons.
    QVERIFY(captionRoom >= 100);
}

void TestBrowseDirectoryDlg::typedNames() {
    const QString file = m_dir->filePath(QStringLiteral("movie.swf"));
    const QString missing = m_dir->filePath(QStringLiteral("gamma"));
    QStringList refused;
    QString firstShown = QStringLiteral("?");
    QVERIFY(runDriven(*m_browser, [&](QDialog* dialog) {
        firstShown = editBox(dialog)->text();
        for (const QString& name : {file, missing}) {
            editBox(dialog)->setText(name);
            press(dialog, QDialogButtonBox::Ok);
            QApplication::processEvents();
            // Still open, with no message box over it.
            if (dialog->isVisible() && QApplication::activeModalWidget() == dialog) {
                refused.append(name);
            }
        }
        editBox(dialog)->setText(m_beta + QStringLiteral("/../beta/"));
        press(dialog, QDialogButtonBox::Ok);
    }));
    QCOMPARE(firstShown, QString());
    QCOMPARE(refused, QStringList({file, missing}));
    QCOMPARE(m_browser->Selection(), m_beta);

    // A relative name is taken inside the folder selected in the tree.
    m_browser->setSelection(m_alpha);
    QVERIFY(runDriven(*m_browser, [](QDialog* dialog) {
        editBox(dialog)->setText(QStringLiteral("inner"));
        press(dialog, QDialogButtonBox::Ok);
    }));
    QCOMPARE(m_browser->Selection(), m_alpha + QStringLiteral("/inner"));
}

void TestBrowseDirectoryDlg::treeAndSelectionWhileOpen() {
    QString shown;
    QVERIFY(runDriven(*m_browser, [&](QDialog* dialog) {
        m_browser->setSelection(m_alpha + QLatin1Char('/'));
        shown = editBox(dialog)->text();
        // Picking a folder in the tree writes it into the edit box, and OK takes it.
        const auto* model = qobject_cast<const QFileSystemModel*>(tree(dialog)->model());
        tree(dialog)->setCurrentIndex(model->index(m_beta));
        press(dialog, QDialogButtonBox::Ok);
    }));
    QCOMPARE(shown, m_alpha);
    QCOMPARE(m_browser->Selection(), m_beta);
}

void TestBrowseDirectoryDlg::cancelAndEscapeEmptyTheSelection() {
    m_browser->setSelection(m_alpha);
    QVERIFY(
        !runDriven(*m_browser, [](QDialog* dialog) { press(dialog, QDialogButtonBox::Cancel); }));
    QCOMPARE(m_browser->Selection(), QString());

    // The next run opens with nothing preselected; Escape cancels too.
    QString shown = QStringLiteral("?");
    QVERIFY(!runDriven(*m_browser, [&](QDialog* dialog) {
        shown = editBox(dialog)->text() + treeFolder(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
    }));
    QCOMPARE(shown, QString());
    QCOMPARE(m_browser->Selection(), QString());
}

QTEST_MAIN(TestBrowseDirectoryDlg)

#include "BrowseDirectoryDlg.test.moc"
