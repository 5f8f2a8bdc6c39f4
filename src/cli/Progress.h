#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace sarnika::cli {

// One status line on stderr, redrawn in place and at most ten times a second; silent when
// stderr is not a terminal, so that scripts and logs see nothing of it.
class Progress {
public:
    // For stderr, enabled when it is a terminal.
    Progress();
    Progress(std::FILE* stream, bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    bool enabled() const { return m_enabled; }
    void show(const std::string& text);
    // Clears the line, so that other output starts on a clean line.
    void clear();

private:
    std::FILE* m_stream;
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last;
};

} // namespace sarnika::cli
