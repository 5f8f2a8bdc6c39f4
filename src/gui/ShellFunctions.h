#pragma once

#include <QStandardPaths>
#include <QString>

class QWidget;

namespace sarnika {

// Hands a file, a web address or a "mailto:" address to the desktop's default handler and does
// not wait for it. Always true: what the handler makes of it is not the program's business.
bool ShellOpen(const QString& text);

// Raises and activates the window unless it is disabled; with `restore`, a visible minimised
// window is restored (a maximised one stays maximised) and gets the keyboard focus.
void BringWindowToFront(QWidget* window, bool restore);

// The path of a standard folder, without a trailing separator; empty when there is none or it
// does not exist.
QString GetSpecialFolderPath(QStandardPaths::StandardLocation folder);
// The user's documents folder (XDG's on Linux, the personal folder on Windows); empty when it
// does not exist.
QString GetPersonalFolder();

} // namespace sarnika
