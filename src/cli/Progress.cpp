#include "cli/Progress.h"

#include "cli/platform/Console.h"

namespace sarnika::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kMaxColumns = 78;

} // namespace

Progress::Progress() : Progress(stderr, standardErrorIsTerminal()) {}

Progress::Progress(std::FILE* stream, bool enabled) : m_stream(stream), m_enabled(enabled) {}

Progress::~Progress() {
    clear();
}

void Progress::show(const std::string& text) {
    if (!m_enabled) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && now - m_last < kRedrawInterval) {
        return;
    }
    m_last = now;
    std::string line = text.substr(0, kMaxColumns);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = '?';
        }
    }
    // Progress is a courtesy: a terminal that cannot take it changes nothing else.
    static_cast<void>(std::fprintf(m_stream, "\r\033[K%s", line.c_str()));
    static_cast<void>(std::fflush(m_stream));
    m_shown = true;
}

void Progress::clear() {
    if (m_shown) {
        static_cast<void>(std::fputs("\r\033[K", m_stream));
        static_cast<void>(std::fflush(m_stream));
        m_shown = false;
    }
}

} // namespace sarnika::cli
