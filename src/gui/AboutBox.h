#pragma once

#include <functional>

#include <QDialog>
#include <QLabel>
#include <QString>

#include "presenters/AboutPresenter.h"

class QPushButton;

namespace sarnika {

// Opens an address with the desktop (the main window passes ShellOpen).
using LinkOpener = std::function<void(const QString& address)>;

// A label that reads as a link: its tag says what its caption is (0 a web address, 1 an e-mail
// address) and a left click emits clicked().
class TLinkLabel : public QLabel {
    Q_OBJECT

public:
    TLinkLabel(const QString& caption, int tag, QWidget* parent);
    int tag() const { return m_tag; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_tag;
};

// The about box: name, version and copyright, the web site and support links and the legal
// notice. Escape, O&K and its K close it.
class TfmAbout : public QDialog, private presenters::AboutView {
    Q_OBJECT

public:
    explicit TfmAbout(LinkOpener openLink, QWidget* parent = nullptr);

    static QString webSiteAddress();
    static QString supportAddress();
    static QString copyrightNotice();
    static QString legalNotice();

    // The click handler of both links: tag 0 opens the caption, tag 1 "mailto:" + caption.
    void LinkLabel2Click(const TLinkLabel* sender);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::string applicationName() const override;
    void setVersionText(const std::string& text) override;
    void closeAccepted() override;

    presenters::TfmAbout m_presenter;
    QLabel* m_version = nullptr;
    QLabel* m_appIcon = nullptr;
    QPushButton* m_ok = nullptr;
};

} // namespace sarnika
