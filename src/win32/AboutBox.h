#pragma once

#include <windows.h>

#include "presenters/AboutPresenter.h"

namespace sarnika::win32 {

// The about box, a dialog of the program's resources owned by the main window and shown
// modally: name, version and copyright, the web site and support links, the legal notice.
// Escape, OK and its access key K close it.
class AboutBox final : private presenters::AboutView {
public:
    AboutBox(HINSTANCE instance, presenters::LinkOpener openLink)
        : m_instance(instance), m_presenter(*this, std::move(openLink)) {}

    // Runs the box and returns when it has closed.
    void exec(HWND owner);

private:
    static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void linkClicked(int control);

    std::string applicationName() const override { return "Sarnika"; }
    void setVersionText(const std::string& text) override;
    void closeAccepted() override;

    HINSTANCE m_instance;
    HWND m_dialog = nullptr;
    presenters::TfmAbout m_presenter;
};

} // namespace sarnika::win32
