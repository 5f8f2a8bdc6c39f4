#include "gui/ErrorGuard.h"

#include <exception>

#include <QApplication>
#include <QMessageBox>

namespace sarnika {

bool ErrorGuard::run(const std::function<void()>& handler) const {
    QString message;
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        message = QString::fromUtf8(error.what());
    } catch (...) {
        message = QStringLiteral("An unexpected error occurred.");
    }
    report(message);
    return false;
}

std::function<void()> ErrorGuard::wrap(std::function<void()> handler) const {
    return [this, handler = std::move(handler)] {
        run(handler);
    };
}

void ErrorGuard::report(const QString& text) const {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, m_owner);
    box.setObjectName(QStringLiteral("errorMessage"));
    box.exec();
}

} // namespace sarnika
