#pragma once

#include <string>

#include "winsvc/SplashLayout.h"

namespace sarnika::presenters {

// The splash window as its presenter sees it. Coordinates are the screen's; the client area is
// the window less its thin frame.
class SplashView {
public:
    virtual ~SplashView() = default;
    virtual int screenWidth() const = 0;
    virtual const TextMeasure& messageMeasure() const = 0;
    // The message's bounds in client coordinates, and the client area's size.
    virtual void setMessageBounds(const SplashRect& bounds) = 0;
    virtual void setClientSize(int width, int height) = 0;
    // What the window is centred on: the owner form, else the primary screen.
    virtual SplashRect centringReference() const = 0;
    virtual SplashSize outerSize() const = 0;
    virtual void moveTo(SplashPoint origin) = 0;
    // Shows the window and has it painted before it returns: the caller goes on without
    // running the event loop.
    virtual void showPainted() = 0;
};

// The small "please wait" window shown while a scan blocks the user-interface thread.
class TSplashWindow {
public:
    explicit TSplashWindow(SplashView& view) : m_view(view) {}

    // "Analyzing your computer, please wait..."
    static std::string analyzingMessage();

    // Sizes the window to the message (with the picture's room when there is one), centres and
    // shows it.
    void ShowSplash(const std::string& text, bool hasPicture);

private:
    SplashView& m_view;
};

// The splash window of a form, shown for a scope: the presenters of the forms ask their view
// for one and close it on the way out, also when an exception passes.
class SplashPort {
public:
    virtual ~SplashPort() = default;
    virtual void showSplash() = 0;
    virtual void closeSplash() = 0;
};

class SplashScope {
public:
    explicit SplashScope(SplashPort& port) : m_port(&port) { port.showSplash(); }
    ~SplashScope() { close(); }
    SplashScope(const SplashScope&) = delete;
    SplashScope& operator=(const SplashScope&) = delete;

    // Closes the window before the end of the scope.
    void close() {
        if (m_port != nullptr) {
            m_port->closeSplash();
            m_port = nullptr;
        }
    }

private:
    SplashPort* m_port;
};

} // namespace sarnika::presenters
