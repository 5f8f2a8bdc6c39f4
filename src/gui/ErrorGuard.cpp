#include "gui/ErrorGuard.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "presenters/ErrorGuard.h"

namespace sarnika {

bool ErrorGuard::run(const std::function<void()>& handler) const {
    return presenters::runGuarded(
        handler, [this](const std::string& text) { report(QString::fromStdString(text)); });
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
    if (m_owner == nullptr || !m_owner->window()->isVisible()) {
        // Qt centres a box on its owner's window, which during the start-up is not placed yet:
        // the box would come up in the screen's corner. It goes in the middle of the screen.
        const QScreen* screen =
            m_owner != nullptr ? m_owner->window()->screen() : QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            box.adjustSize();
            QRect placed(QPoint(), box.size());
            placed.moveCenter(screen->availableGeometry().center());
            box.move(placed.topLeft());
        }
    }
    box.exec();
}

} // namespace sarnika
