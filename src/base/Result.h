#pragma once

#include <string>
#include <utility>
#include <variant>

namespace sarnika {

// Why an operation failed: a code for callers to branch on, and context for people.
struct Error {
    enum class Code {
        NotFound,
        Unreadable,
        Malformed,
        Unsupported,
        TooLarge,
        Exists,
        WriteFailed,
        Cancelled,
    };
    Code code = Code::Malformed;
    std::string message;
};

// Carries a value or an Error; the toolchains we build with lack std::expected in C++20.
template<typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Error error) : m_state(std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    const Error& error() const { return std::get<1>(m_state); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, Error> m_state;
};

// A Result without a value: success or an Error.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : m_error(std::move(error)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return m_error; }

private:
    Error m_error;
    bool m_failed = false;
};

inline Error makeError(Error::Code code, std::string message) {
    return Error{code, std::move(message)};
}

} // namespace sarnika

// Declares `name` holding the value of `expression` (a Result), or returns its Error from the
// enclosing function (which returns a Result or a Status). The expression is evaluated once.
#define SARNIKA_TRY_ASSIGN(name, expression)                                                       \
    auto name##Tried_ = (expression);                                                              \
    if (!name##Tried_) {                                                                           \
        return name##Tried_.error();                                                               \
    }                                                                                              \
    auto name = std::move(name##Tried_).value() // NOLINT(bugprone-macro-parentheses): declared

// Returns the Error of `expression` (a Status or a Result) from the enclosing function; goes on
// when it succeeded.
#define SARNIKA_TRY(expression)                                                                    \
    do {                                                                                           \
        if (auto sarnikaTried_ = (expression); !sarnikaTried_) {                                   \
            return sarnikaTried_.error();                                                          \
        }                                                                                          \
    } while (false)
