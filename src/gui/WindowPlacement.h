#pragma once

#include <functional>
#include <optional>

#include <QMargins>
#include <QRect>
#include <QSize>

#include "winsvc/FormPlacement.h"

class QTimer;
class QWidget;

namespace sarnika {

// The placement record mapped onto a top-level QWidget: the normal rectangle is the outer
// frame of the window's normal geometry. On X11 the window manager's frame is known only once
// the window is mapped, so a placement applied before that is kept as a target and fitted
// again when the frame arrives; otherwise every run would grow the window by its frame.
class QtPlacementWindow final : public PlacementWindow {
public:
    // `declaredSize` is the outer size the window has when no placement applies; it is centred
    // on its screen while the position is DesktopCenter.
    QtPlacementWindow(QWidget* window, QSize declaredSize,
                      std::function<bool()> applicationMinimized);

    bool hasHandle() const override;
    WindowPlacement placement() const override;
    void setPlacement(const WindowPlacement& placement) override;
    bool isVisible() const override;
    bool applicationMinimized() const override;
    int systemMetric(SystemMetric metric) const override;
    int pixelsPerInch() const override;
    void postMinimize() override;
    bool isMainForm() const override { return true; }
    PlacementRect bounds() const override;
    FormBorderStyle borderStyle() const override;
    FormPosition position() const override { return m_position; }
    void setPosition(FormPosition position) override { m_position = position; }
    void setWindowState(WindowState state) override;
    void update() override;

    // Gives the window its outer geometry: centred at the declared size, or the applied
    // placement. Call after the show handlers and again once the frame is known.
    void fitOuterGeometry();
    // True once the window manager's frame around the window is known.
    bool noteFrame();
    // The frame is known or has not come in time: later fits follow the window itself.
    void settle();
    // True while the window was settled without a frame and has not been fitted to one since.
    bool awaitingLateFrame() const { return m_unframedClient.has_value(); }
    // A window manager that answers late (a busy machine, one started after the window) frames
    // a window that was settled without one: once the frame is known, the window gets the outer
    // geometry it was settled at, unless it was resized meanwhile. True when the wait is over.
    bool fitLateFrame();
    // Placed once, framed or not.
    bool settled() const { return m_settled; }

private:
    QRect outerTarget() const;
    QRect normalOuter() const;

    QWidget* m_window;
    QSize m_declaredSize;
    std::function<bool()> m_applicationMinimized;
    QTimer* m_minimizeLater;
    FormPosition m_position = FormPosition::DesktopCenter;
    std::optional<QRect> m_target;
    QMargins m_frame;
    bool m_frameAsked = false;
    bool m_settled = false;
    // Where an unframed window was settled: its client rectangle and the outer one it stands for.
    std::optional<QRect> m_unframedClient;
    QRect m_unframedOuter;
    PlacementPoint m_maxPosition{-1, -1};
};

} // namespace sarnika
