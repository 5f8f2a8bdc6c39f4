#pragma once

#include <memory>

#include <QIcon>
#include <QString>
#include <QWidget>

#include "presenters/SplashPresenter.h"

class QLabel;

namespace sarnika {

// The program's icons, from the resources built into the window library.
QIcon applicationIcon();
QIcon trayIcon();

// The small "please wait" window shown while a scan blocks the user-interface thread: the
// icon at 16, 16 and the message beside it, inside a thin frame, above other windows, taking
// no input.
class TSplashWindow : public QWidget, private presenters::SplashView {
    Q_OBJECT

public:
    // The width of the thin frame around the client area, on each side.
    static constexpr int kFrameWidth = 3;

    // "Analyzing your computer, please wait..."
    static QString analyzingMessage();

    // Creates, sizes, centres (on centreOn, else on the primary screen) and shows the window,
    // painted before it returns. A null picture moves the message to the left edge.
    static std::unique_ptr<TSplashWindow> showSplash(const QIcon& picture, const QString& text,
                                                     const QWidget* centreOn = nullptr);

    ~TSplashWindow() override;
    TSplashWindow(const TSplashWindow&) = delete;
    TSplashWindow& operator=(const TSplashWindow&) = delete;

    QString message() const;
    // The message's bounds in client coordinates (the frame excluded).
    QRect messageRect() const;
    QSize clientSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class FontMeasure;

    TSplashWindow(const QIcon& picture, const QString& text, const QWidget* centreOn);

    int screenWidth() const override;
    const TextMeasure& messageMeasure() const override;
    void setMessageBounds(const SplashRect& bounds) override;
    void setClientSize(int width, int height) override;
    SplashRect centringReference() const override;
    SplashSize outerSize() const override;
    void moveTo(SplashPoint origin) override;
    void showPainted() override;

    const QWidget* m_centreOn = nullptr;
    std::unique_ptr<FontMeasure> m_measure;
    QLabel* m_icon = nullptr;
    QLabel* m_message = nullptr;
    bool m_hasPicture = false;
    QSize m_client{64, 64};
};

// Shows a splash window for the lifetime of the guard: the window goes when the guard leaves
// its scope, also when an exception passes.
class TSplashGuard {
public:
    // The application's icon and analyzingMessage(), centred on the screen.
    TSplashGuard();
    TSplashGuard(const QIcon& picture, const QString& text, const QWidget* centreOn = nullptr);
    ~TSplashGuard();
    TSplashGuard(const TSplashGuard&) = delete;
    TSplashGuard& operator=(const TSplashGuard&) = delete;

    TSplashWindow* window() const { return m_window.get(); }
    // Frees the window before the end of the scope.
    void close();

private:
    std::unique_ptr<TSplashWindow> m_window;
};

} // namespace sarnika
