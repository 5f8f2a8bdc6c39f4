#pragma once

#include <memory>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "shell/BrowseSelection.h"

class QDialog;

namespace sarnika {

class BrowseDirectoryWindow;

// The folder browse dialog as a component: the owner keeps one, sets its texts and Selection,
// and runs it with Execute. The dialog shows Title above a tree of folders, an edit box for a
// typed name and OK and Cancel; OK on a name that is not an existing folder keeps it open.
class TdfsBrowseDirectoryDlg : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Title READ Title WRITE setTitle)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(QString Selection READ Selection WRITE setSelection)
    Q_PROPERTY(bool Center READ Center WRITE setCenter)
    Q_PROPERTY(bool EnableOKButton READ EnableOKButton WRITE setEnableOKButton)

public:
    // The dialog opens over the owner's window, else over the application's active window.
    explicit TdfsBrowseDirectoryDlg(QWidget* owner = nullptr);
    ~TdfsBrowseDirectoryDlg() override;
    TdfsBrowseDirectoryDlg(const TdfsBrowseDirectoryDlg&) = delete;
    TdfsBrowseDirectoryDlg& operator=(const TdfsBrowseDirectoryDlg&) = delete;

    QString Title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    QString Caption() const { return m_caption; }
    void setCaption(const QString& caption) { m_caption = caption; }
    bool Center() const { return m_center; }
    void setCenter(bool center) { m_center = center; }
    bool EnableOKButton() const { return m_enableOk; }
    void setEnableOKButton(bool enable) { m_enableOk = enable; }

    QString Selection() const;
    // An existing folder gets a trailing separator; while the dialog is open it shows the new
    // selection.
    void setSelection(const QString& selection);

    // Runs the dialog modally. True when the user confirmed a folder (Selection is its path,
    // as the platform writes it); false on Cancel or close (Selection is empty).
    bool Execute();

    // The dialog while it is open, else null.
    QDialog* dialogWindow() const;

private:
    void applySelection();

    LocalFolderProbe m_probe;
    BrowseSelection m_selection;
    QPointer<QWidget> m_owner;
    QString m_title;
    QString m_caption;
    bool m_center = true;
    bool m_enableOk = true;
    BrowseDirectoryWindow* m_dialog = nullptr;
};

} // namespace sarnika
