#pragma once

#include <functional>
#include <string>

namespace sarnika::presenters {

// Shows an error message to the user, owned by the form (a message box titled with the
// application's name).
using ErrorReport = std::function<void(const std::string& text)>;

// The application's general error handler: every handler of a form runs inside run(). An
// exception ends the handler, its text is reported and the program goes on.
class ErrorGuard {
public:
    explicit ErrorGuard(ErrorReport report) : m_report(std::move(report)) {}

    // Runs the handler; false when it failed (the message has been reported by then).
    bool run(const std::function<void()>& handler) const;
    void report(const std::string& text) const;

    // The text reported for an exception that is not a std::exception.
    static const char* unexpectedErrorText();

private:
    ErrorReport m_report;
};

// Runs the handler and reports the text of an exception that leaves it; false then.
bool runGuarded(const std::function<void()>& handler, const ErrorReport& report);

} // namespace sarnika::presenters
