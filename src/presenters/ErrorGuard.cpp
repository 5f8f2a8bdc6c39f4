#include "presenters/ErrorGuard.h"

#include <exception>

namespace sarnika::presenters {

bool runGuarded(const std::function<void()>& handler, const ErrorReport& report) {
    std::string message;
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
        message = ErrorGuard::unexpectedErrorText();
    }
    if (report) {
        report(message);
    }
    return false;
}

bool ErrorGuard::run(const std::function<void()>& handler) const {
    return runGuarded(handler, m_report);
}

void ErrorGuard::report(const std::string& text) const {
    if (m_report) {
        m_report(text);
    }
}

const char* ErrorGuard::unexpectedErrorText() {
    return "An unexpected error occurred.";
}

} // namespace sarnika::presenters
