#include "gui/SplashWindow.h"

#include <mutex>

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <qdrawutil.h>

#include "winsvc/SplashLayout.h"

// Resources of a static library are registered by hand; this must sit outside any namespace.
static void registerIconResources() {
    Q_INIT_RESOURCE(sarnika);
}

namespace sarnika {

namespace {

void ensureIconResources() {
    static std::once_flag once;
    std::call_once(once, registerIconResources);
}

QIcon iconFromSizes(const QString& baseName) {
    ensureIconResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(baseName).arg(size),
                     QSize(size, size));
    }
    return icon;
}

} // namespace

QIcon applicationIcon() {
    return iconFromSizes(QStringLiteral("sarnika"));
}

QIcon trayIcon() {
    return iconFromSizes(QStringLiteral("sarnika-tray"));
}

class TSplashWindow::FontMeasure final : public TextMeasure {
public:
    explicit FontMeasure(const QFont& font) : m_metrics(font) {}

    SplashSize measureWrapped(const std::string& text, int wrapWidth) const override {
        const QRect bounds = m_metrics.boundingRect(QRect(0, 0, wrapWidth, 0), Qt::TextWordWrap,
                                                    QString::fromStdString(text));
        return {bounds.width(), bounds.height()};
    }

private:
    QFontMetrics m_metrics;
};

QString TSplashWindow::analyzingMessage() {
    return QString::fromStdString(presenters::TSplashWindow::analyzingMessage());
}

TSplashWindow::TSplashWindow(const QIcon& picture, const QString& text, const QWidget* centreOn)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus),
      m_centreOn(centreOn), m_hasPicture(!picture.isNull()) {
    setObjectName(QStringLiteral("SplashWindow"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(text);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("imgIcon"));
    m_icon->setGeometry(kFrameWidth + 16, kFrameWidth + 16, 32, 32);
    m_icon->setScaledContents(true);
    m_icon->setVisible(m_hasPicture);
    if (m_hasPicture) {
        m_icon->setPixmap(picture.pixmap(32, 32));
    }

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("lblMessage"));
    m_message->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setText(text);
    m_measure = std::make_unique<FontMeasure>(m_message->font());
}

TSplashWindow::~TSplashWindow() = default;

std::unique_ptr<TSplashWindow> TSplashWindow::showSplash(const QIcon& picture, const QString& text,
                                                         const QWidget* centreOn) {
    std::unique_ptr<TSplashWindow> window(new TSplashWindow(picture, text, centreOn));
    presenters::TSplashWindow(*window).ShowSplash(text.toStdString(), window->m_hasPicture);
    // Only the placing looks at what the window was centred on.
    window->m_centreOn = nullptr;
    return window;
}

QString TSplashWindow::message() const {
    return m_message->text();
}

QRect TSplashWindow::messageRect() const {
    return m_message->geometry().translated(-kFrameWidth, -kFrameWidth);
}

QSize TSplashWindow::clientSize() const {
    return m_client;
}

int TSplashWindow::screenWidth() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry().width() : 0;
}

const TextMeasure& TSplashWindow::messageMeasure() const {
    return *m_measure;
}

void TSplashWindow::setMessageBounds(const SplashRect& bounds) {
    m_message->setGeometry(kFrameWidth + bounds.left, kFrameWidth + bounds.top, bounds.width(),
                           bounds.height());
}

void TSplashWindow::setClientSize(int width, int height) {
    m_client = QSize(width, height);
    setFixedSize(m_client.width() + 2 * kFrameWidth, m_client.height() + 2 * kFrameWidth);
}

SplashRect TSplashWindow::centringReference() const {
    SplashRect reference;
    if (m_centreOn != nullptr) {
        const QPoint topLeft = m_centreOn->mapToGlobal(QPoint(0, 0));
        reference = {topLeft.x(), topLeft.y(), topLeft.x() + m_centreOn->width(),
                     topLeft.y() + m_centreOn->height()};
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect bounds = screen->geometry();
        reference = {bounds.left(), bounds.top(), bounds.left() + bounds.width(),
                     bounds.top() + bounds.height()};
    }
    return reference;
}

SplashSize TSplashWindow::outerSize() const {
    return {width(), height()};
}

void TSplashWindow::moveTo(SplashPoint origin) {
    move(origin.x, origin.y);
}

// The caller goes on without running the event loop, so the window must be on screen and
// painted before it returns: wait briefly for the window system to expose it.
void TSplashWindow::showPainted() {
    show();
    repaint();
    QElapsedTimer waited;
    waited.start();
    do {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    } while (windowHandle() != nullptr && !windowHandle()->isExposed() && waited.elapsed() < 500);
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TSplashWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), false);
}

TSplashGuard::TSplashGuard()
    : TSplashGuard(QGuiApplication::windowIcon().isNull() ? applicationIcon()
                                                          : QGuiApplication::windowIcon(),
                   TSplashWindow::analyzingMessage()) {}

TSplashGuard::TSplashGuard(const QIcon& picture, const QString& text, const QWidget* centreOn)
    : m_window(TSplashWindow::showSplash(picture, text, centreOn)) {}

TSplashGuard::~TSplashGuard() {
    close();
}

void TSplashGuard::close() {
    if (m_window) {
        m_window->hide();
        m_window.reset();
    }
}

} // namespace sarnika
