#pragma once

#include <string>

#include <windows.h>

#include "movies/MovieList.h"
#include "winsvc/FormPlacement.h"

namespace sarnika::win32 {

// The list box of the movie browser frame, as the movie list fills and reads it.
class ListBoxControl final : public MovieListBox {
public:
    void attach(HWND list) { m_list = list; }
    HWND handle() const { return m_list; }

    void beginUpdate() override;
    void endUpdate() override;
    void clear() override;
    void addLine(const std::string& text) override;
    int count() const override;
    int selectedIndex() const override;
    void select(int index) override;

private:
    HWND m_list = nullptr;
};

// A window's placement as the placement passes keep it: the system's own placement record.
class Win32PlacementWindow final : public PlacementWindow {
public:
    void attach(HWND window) { m_window = window; }
    bool hasHandle() const override { return m_window != nullptr; }
    WindowPlacement placement() const override;
    void setPlacement(const WindowPlacement& placement) override;
    bool isVisible() const override;
    bool applicationMinimized() const override;
    int systemMetric(SystemMetric metric) const override;
    int pixelsPerInch() const override;
    void postMinimize() override;
    bool isMainForm() const override { return true; }
    PlacementRect bounds() const override;
    FormBorderStyle borderStyle() const override { return FormBorderStyle::Sizeable; }
    FormPosition position() const override { return m_position; }
    void setPosition(FormPosition position) override { m_position = position; }
    void setWindowState(WindowState state) override;
    void update() override;

private:
    HWND m_window = nullptr;
    FormPosition m_position = FormPosition::DesktopCenter;
};

} // namespace sarnika::win32
