#include "gui/ShellFunctions.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QWidget>

namespace sarnika {
namespace {

// A text with a scheme (two letters at least, so that "C:\x" stays a path) is an address.
bool isAddress(const QString& text) {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 2) {
        return false;
    }
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = text.at(i);
        const bool schemeChar = c.isLetterOrNumber() || c == QLatin1Char('+') ||
                                c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!schemeChar || c.unicode() > 0x7F) {
            return false;
        }
    }
    return text.at(0).isLetter();
}

} // namespace

bool ShellOpen(const QString& text) {
    if (text.isEmpty()) {
        return true;
    }
    const QUrl url = isAddress(text) ? QUrl(text, QUrl::TolerantMode) : QUrl::fromLocalFile(text);
    // Qt starts the desktop's opener detached and does not wait for the document to open.
    static_cast<void>(QDesktopServices::openUrl(url));
    return true;
}

void BringWindowToFront(QWidget* window, bool restore) {
    if (window == nullptr || !window->isEnabled()) {
        return;
    }
    window->raise();
    window->activateWindow();
    if (restore && window->isVisible()) {
        // Clearing only the minimised flag brings a maximised window back maximised.
        if (window->isMinimized()) {
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        }
        window->setFocus(Qt::ActiveWindowFocusReason);
    }
}

QString GetSpecialFolderPath(QStandardPaths::StandardLocation folder) {
    const QString path = QStandardPaths::writableLocation(folder);
    // The desktop names the folder even where it was never made (or was removed): a folder that
    // is not there is no folder to offer.
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        return {};
    }
    // cleanPath drops a trailing separator (but keeps a root's).
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

QString GetPersonalFolder() {
    return GetSpecialFolderPath(QStandardPaths::DocumentsLocation);
}

} // namespace sarnika
