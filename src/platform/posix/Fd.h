#pragma once

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace sarnika::posix {

// Owns a file descriptor and closes it when it goes; -1 holds none.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }
    // Closes now and answers 0 or the errno value: close() is where some file systems report
    // a failed write.
    int close() {
        const int closed = ::close(std::exchange(m_fd, -1));
        return closed == 0 ? 0 : errno;
    }

private:
    int m_fd = -1;
};

} // namespace sarnika::posix
