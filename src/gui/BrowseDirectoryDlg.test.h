#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

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
