#pragma once

#include <string>

#include <windows.h>

#include "presenters/SplashPresenter.h"

namespace sarnika::win32 {

// The small "please wait" window of a scan: a borderless, always-on-top window with a thin
// dialog frame that takes no input, the program's icon and the message. It is painted when
// show() returns and goes with the object.
class SplashWindow final : private presenters::SplashView, private TextMeasure {
public:
    SplashWindow(HINSTANCE instance, HICON icon);
    ~SplashWindow() override;
    SplashWindow(const SplashWindow&) = delete;
    SplashWindow& operator=(const SplashWindow&) = delete;

    void show(const std::string& text);
    HWND handle() const { return m_window; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void paint();

    int screenWidth() const override;
    const TextMeasure& messageMeasure() const override { return *this; }
    void setMessageBounds(const SplashRect& bounds) override { m_label = bounds; }
    void setClientSize(int width, int height) override;
    SplashRect centringReference() const override;
    SplashSize outerSize() const override;
    void moveTo(SplashPoint origin) override;
    void showPainted() override;
    SplashSize measureWrapped(const std::string& text, int wrapWidth) const override;

    HWND m_window = nullptr;
    HICON m_icon;
    HFONT m_font = nullptr;
    std::string m_text;
    SplashRect m_label;
};

} // namespace sarnika::win32
