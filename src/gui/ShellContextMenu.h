#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

class QFormLayout;
class QWidget;

namespace sarnika {

// The file or folder a path names, as an absolute path; empty when it names nothing. The path
// is split into its folder part (up to the last separator) and its name part; when the name
// is not found in that folder, the path with a trailing separator is tried as a folder of its
// own, which finds a folder (or a drive such as "C:") given with or without the separator.
QString LocateShellItem(const QString& path);

// The desktop's per-file menu: "Open" with the default application, "Show in Folder" in the
// file manager, "Copy Path" and "Properties". Shown for the item `path` names at `point`, in
// client coordinates of `owner`. True when the user chose an action and it succeeded; false
// when the path names nothing, the menu was dismissed or the action failed.
bool ShowShellContextMenu(QWidget* owner, const QString& path, const QPoint& point);

// The "Properties" window of a file or folder: name, place, size and times, and for a Flash
// movie what its header says.
class TShellPropertiesDlg : public QDialog {
    Q_OBJECT

public:
    explicit TShellPropertiesDlg(const QString& item, QWidget* parent = nullptr);

private:
    void addRow(QFormLayout* form, const char* name, const QString& label, const QString& value);
    void addFlashRows(QFormLayout* form, const QString& item);
};

} // namespace sarnika
