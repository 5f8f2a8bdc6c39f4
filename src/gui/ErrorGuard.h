#pragma once

#include <functional>

#include <QPointer>
#include <QString>
#include <QWidget>

namespace sarnika {

// The application's general error handler as the Qt window shows it. Qt cannot carry an
// exception through its event loop, so every handler of the window runs inside run(): an error
// ends the handler (presenters::runGuarded), its text is shown in a message box owned by the
// window, and the program goes on.
class ErrorGuard {
public:
    explicit ErrorGuard(QWidget* owner = nullptr) : m_owner(owner) {}

    // Runs the handler; false when it failed (the message has been shown by then).
    bool run(const std::function<void()>& handler) const;
    // A slot that runs the handler under this guard.
    std::function<void()> wrap(std::function<void()> handler) const;

    // Shows an error message box owned by the window, titled with the application's name.
    void report(const QString& text) const;

private:
    QPointer<QWidget> m_owner;
};

} // namespace sarnika
