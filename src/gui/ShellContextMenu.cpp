#include "gui/ShellContextMenu.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QUrl>
#include <QVBoxLayout>

#include "cache/sources/swf/SwfHeader.h"

namespace sarnika {
namespace {

// A file manager that is slow to answer must not hold the menu's caller for long.
constexpr int kFileManagerTimeoutMs = 3000;
constexpr qsizetype kWrapAfter = 48;

bool isSeparator(QChar c) {
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/' || c == u':';
#else
    return c == u'/';
#endif
}

// Tried when the name is not found in its folder: the path as a folder (or drive) of its own.
QString locateAsFolder(const QString& path) {
    QString folder = path;
    if (folder.isEmpty() || !isSeparator(folder.back()) || folder.back() == u':') {
        folder += QDir::separator();
    }
    const QFileInfo info(folder);
    if (!QDir::isAbsolutePath(folder) || !info.isDir()) {
        return {};
    }
    return QDir::cleanPath(info.absoluteFilePath());
}

bool showInFileManager(const QString& item) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(item).toString()} << QString();
        if (bus.call(call, QDBus::Block, kFileManagerTimeoutMs).type() ==
            QDBusMessage::ReplyMessage) {
            return true;
        }
    }
    // No file manager that takes the request: open the folder at least.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(item).absolutePath()));
}

bool copyPath(const QString& item) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QDir::toNativeSeparators(item));
    return clipboard->text() == QDir::toNativeSeparators(item);
}

QString timeText(const QDateTime& time) {
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                          : QString();
}

QString numberText(double value) {
    return QLocale().toString(value, 'g', 10);
}

} // namespace

QString LocateShellItem(const QString& path) {
    if (path.isEmpty()) {
        return {};
    }
    qsizetype cut = path.size() - 1;
    while (cut >= 0 && !isSeparator(path[cut])) {
        --cut;
    }
    const QString folderPart = path.left(cut + 1);
    const QString namePart = path.mid(cut + 1);
    if (!namePart.isEmpty() && QDir::isAbsolutePath(folderPart) && QFileInfo(folderPart).isDir()) {
        const QFileInfo item(QDir(folderPart), namePart);
        if (item.exists() || item.isSymLink()) {
            return QDir::cleanPath(item.absoluteFilePath());
        }
    }
    return locateAsFolder(path);
}

bool ShowShellContextMenu(QWidget* owner, const QString& path, const QPoint& point) {
    const QString item = LocateShellItem(path);
    if (item.isEmpty()) {
        return false;
    }
    QMenu menu(owner);
    menu.setObjectName(QStringLiteral("popShellItem"));
    const auto entry = [&menu](const char* name, const QString& caption) {
        QAction* action = menu.addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    QAction* open = entry("miShellOpen", QStringLiteral("Open"));
    QAction* showInFolder = entry("miShellShowInFolder", QStringLiteral("Show in Folder"));
    QAction* copy = entry("miShellCopyPath", QStringLiteral("Copy Path"));
    menu.addSeparator();
    QAction* properties = entry("miShellProperties", QStringLiteral("Properties"));
    menu.setDefaultAction(open);

    const QPoint at = owner != nullptr ? owner->mapToGlobal(point) : point;
    const QAction* chosen = menu.exec(at);
    if (chosen == open) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(item));
    }
    if (chosen == showInFolder) {
        return showInFileManager(item);
    }
    if (chosen == copy) {
        return copyPath(item);
    }
    if (chosen == properties) {
        TShellPropertiesDlg dialog(item, owner);
        dialog.exec();
        return true;
    }
    return false;
}

TShellPropertiesDlg::TShellPropertiesDlg(const QString& item, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlgProperties"));
    const QFileInfo info(item);
    const QString name =
        info.fileName().isEmpty() ? QDir::toNativeSeparators(item) : info.fileName();
    setWindowTitle(QStringLiteral("Properties of %1").arg(name));

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    addRow(form, "lblName", QStringLiteral("Name:"), name);
    addRow(form, "lblFolder", QStringLiteral("Folder:"),
           QDir::toNativeSeparators(info.absolutePath()));
    const QLocale locale;
    if (info.isDir()) {
        addRow(form, "lblKind", QStringLiteral("Kind:"), QStringLiteral("Folder"));
    } else {
        addRow(form, "lblSize", QStringLiteral("Size:"),
               QStringLiteral("%1 (%2 bytes)")
                   .arg(locale.formattedDataSize(info.size()), locale.toString(info.size())));
    }
    addRow(form, "lblModified", QStringLiteral("Modified:"),
           timeText(info.fileTime(QFileDevice::FileModificationTime)));
    addRow(form, "lblAccessed", QStringLiteral("Accessed:"),
           timeText(info.fileTime(QFileDevice::FileAccessTime)));
    const QDateTime born = info.fileTime(QFileDevice::FileBirthTime);
    if (born.isValid()) {
        addRow(form, "lblCreated", QStringLiteral("Created:"), timeText(born));
    }
    if (info.isFile()) {
        addFlashRows(form, item);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(400);
}

void TShellPropertiesDlg::addRow(QFormLayout* form, const char* name, const QString& label,
                                 const QString& value) {
    auto* text = new QLabel(value, this);
    text->setObjectName(QString::fromLatin1(name));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Short values stay on one line; long paths and messages wrap.
    text->setWordWrap(value.size() > kWrapAfter);
    form->addRow(label, text);
}

void TShellPropertiesDlg::addFlashRows(QFormLayout* form, const QString& item) {
    // The user picked this file: a link to a movie is followed.
    const auto header =
        sources::readSwfHeaderFile(QFile::encodeName(item).toStdString(), sources::Links::Follow);
    if (!header) {
        // Only a file that claims to be a movie is worth a word about its header.
        if (item.endsWith(QStringLiteral(".swf"), Qt::CaseInsensitive)) {
            addRow(form, "lblFlashError", QStringLiteral("Flash movie:"),
                   QString::fromStdString(header.error().message));
        }
        return;
    }
    const QLocale locale;
    addRow(form, "lblFormat", QStringLiteral("Flash movie:"),
           QStringLiteral("%1 (%2), version %3")
               .arg(QString::fromStdString(header->signature),
                    QString::fromLatin1(sources::swfCompressionName(header->compression)),
                    QString::number(header->version)));
    addRow(form, "lblDeclaredLength", QStringLiteral("Declared length:"),
           QStringLiteral("%1 bytes").arg(locale.toString(header->declaredLength)));
    if (header->stage) {
        const sources::SwfStage& stage = *header->stage;
        addRow(form, "lblStage", QStringLiteral("Stage:"),
               QStringLiteral("%1 × %2 pixels")
                   .arg(numberText(stage.width()), numberText(stage.height())));
        addRow(form, "lblFrameRate", QStringLiteral("Frame rate:"),
               QStringLiteral("%1 frames per second").arg(numberText(stage.frameRate())));
        addRow(form, "lblFrames", QStringLiteral("Frames:"), locale.toString(stage.frameCount));
    } else {
        addRow(form, "lblStage", QStringLiteral("Stage:"),
               QStringLiteral("not readable in this build (LZMA)"));
    }
    if (!header->warning.empty()) {
        addRow(form, "lblWarning", QStringLiteral("Warning:"),
               QString::fromStdString(header->warning));
    }
}

} // namespace sarnika
