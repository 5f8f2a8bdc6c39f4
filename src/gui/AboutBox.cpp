#include "gui/AboutBox.h"

#include <utility>

#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "gui/SplashWindow.h"
#include "winsvc/SplashLayout.h"

namespace sarnika {

namespace {

QFont pixelFont(const QFont& base, int pixels) {
    QFont font = base;
    font.setPixelSize(pixels);
    return font;
}

QFrame* bevelLine(const QString& name, const QRect& bounds, QWidget* parent) {
    auto* bevel = new QFrame(parent);
    bevel->setObjectName(name);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    // The line runs along the top edge of the bevel's bounds.
    bevel->setGeometry(bounds.left(), bounds.top(), bounds.width(), 2);
    return bevel;
}

QLabel* textLabel(const QString& name, const QString& text, QPoint at, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->move(at);
    label->adjustSize();
    return label;
}

} // namespace

TLinkLabel::TLinkLabel(const QString& caption, int tag, QWidget* parent)
    : QLabel(caption, parent), m_tag(tag) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QFont linkFont = pixelFont(font(), 12);
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    setFont(linkFont);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Active, QPalette::Highlight));
    setPalette(colours);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

TfmAbout::TfmAbout(LinkOpener openLink, QWidget* parent)
    : QDialog(parent),
      m_presenter(*this, [openLink = std::move(openLink)](const std::string& address) {
          if (openLink) {
              openLink(QString::fromStdString(address));
          }
      }) {
    setObjectName(QStringLiteral("fmAbout"));
    setWindowTitle(QStringLiteral("About"));
    QFont formFont = font();
    formFont.setPointSize(8);
    setFont(formFont);
    setFixedSize(324, 310);

    m_version = new QLabel(this);
    m_version->setObjectName(QStringLiteral("Version"));
    m_version->setTextFormat(Qt::PlainText);
    m_version->setGeometry(50, 5, 271, 52);
    m_version->setFont(pixelFont(formFont, 12));
    m_version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette black = m_version->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    m_version->setPalette(black);

    m_appIcon = new QLabel(this);
    m_appIcon->setObjectName(QStringLiteral("AppIcon"));
    m_appIcon->setGeometry(8, 8, 32, 32);
    m_appIcon->setCursor(Qt::PointingHandCursor);
    m_appIcon->setScaledContents(true);

    bevelLine(QStringLiteral("Bevel2"), QRect(8, 190, 304, 3), this);
    textLabel(QStringLiteral("Label1"), QStringLiteral("Download latest version here :"),
              QPoint(8, 104), this);

    auto* webLink = new TLinkLabel(webSiteAddress(), presenters::TfmAbout::kWebLinkTag, this);
    webLink->setObjectName(QStringLiteral("LinkLabel1"));
    webLink->move(8, 120);
    webLink->adjustSize();

    auto* label2 = new QLabel(
        QStringLiteral("For comments, bug reports and suggestions \nplease write here :"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->setTextFormat(Qt::PlainText);
    label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label2->setGeometry(8, 136, 305, 35);

    auto* mailLink = new TLinkLabel(supportAddress(), presenters::TfmAbout::kMailLinkTag, this);
    mailLink->setObjectName(QStringLiteral("LinkLabel2"));
    mailLink->move(8, 164);
    mailLink->adjustSize();

    auto* label3 = new QLabel(legalNotice(), this);
    label3->setObjectName(QStringLiteral("Label3"));
    label3->setTextFormat(Qt::PlainText);
    label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label3->setGeometry(8, 200, 308, 65);

    bevelLine(QStringLiteral("Bevel1"), QRect(8, 272, 305, 9), this);

    m_ok = new QPushButton(QStringLiteral("O&K"), this);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    m_ok->setGeometry(192, 280, 121, 25);
    m_ok->setDefault(true);
    m_ok->setFocus();

    connect(m_ok, &QPushButton::clicked, this, [this] { m_presenter.OKButtonClick(); });
    for (TLinkLabel* link : {webLink, mailLink}) {
        connect(link, &TLinkLabel::clicked, this, [this, link] { LinkLabel2Click(link); });
    }
    const QIcon icon =
        QGuiApplication::windowIcon().isNull() ? applicationIcon() : QGuiApplication::windowIcon();
    m_appIcon->setPixmap(icon.pixmap(32, 32));
    m_presenter.FormCreate();
}

QString TfmAbout::webSiteAddress() {
    return QString::fromStdString(presenters::TfmAbout::webSiteAddress());
}

QString TfmAbout::supportAddress() {
    return QString::fromStdString(presenters::TfmAbout::supportAddress());
}

QString TfmAbout::copyrightNotice() {
    return QString::fromStdString(presenters::TfmAbout::copyrightNotice());
}

QString TfmAbout::legalNotice() {
    return QString::fromStdString(presenters::TfmAbout::legalNotice());
}

std::string TfmAbout::applicationName() const {
    return QGuiApplication::applicationDisplayName().toStdString();
}

void TfmAbout::setVersionText(const std::string& text) {
    m_version->setText(QString::fromStdString(text));
}

void TfmAbout::closeAccepted() {
    accept();
}

void TfmAbout::LinkLabel2Click(const TLinkLabel* sender) {
    if (sender != nullptr) {
        m_presenter.LinkLabel2Click(sender->tag(), sender->text().toStdString());
    }
}

// Every key reaches the form first: Escape cancels, and K presses O&K like its Alt+K does,
// since the button, the only control that takes the focus, types no text.
void TfmAbout::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    if (event->key() == Qt::Key_K && event->modifiers() == Qt::NoModifier) {
        m_ok->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfmAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    const QScreen* screen = this->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect bounds = screen->geometry();
    const QSize outer = frameGeometry().size();
    const SplashPoint origin =
        centreIn({bounds.left(), bounds.top(), bounds.right() + 1, bounds.bottom() + 1},
                 {outer.width(), outer.height()});
    move(origin.x, origin.y);
}

} // namespace sarnika
