#pragma once

#include <functional>
#include <string>

namespace sarnika::presenters {

// Opens an address with the desktop: a web address, or "mailto:" and an e-mail address.
using LinkOpener = std::function<void(const std::string& address)>;

// The about box as its presenter sees it.
class AboutView {
public:
    virtual ~AboutView() = default;
    // The application's name as the desktop shows it.
    virtual std::string applicationName() const = 0;
    virtual void setVersionText(const std::string& text) = 0;
    // Closes the box as accepted.
    virtual void closeAccepted() = 0;
};

// The about box: name, version and copyright, the web site and support links and the legal
// notice.
class TfmAbout {
public:
    // The tags of the two links: what their captions are.
    static constexpr int kWebLinkTag = 0;
    static constexpr int kMailLinkTag = 1;

    TfmAbout(AboutView& view, LinkOpener openLink)
        : m_view(view), m_openLink(std::move(openLink)) {}

    static std::string webSiteAddress();
    static std::string supportAddress();
    static std::string copyrightNotice();
    static std::string legalNotice();

    // Fills in the version text.
    void FormCreate();
    void OKButtonClick();
    // The click handler of both links: tag 0 opens the caption, tag 1 "mailto:" + caption.
    void LinkLabel2Click(int tag, const std::string& caption);

private:
    AboutView& m_view;
    LinkOpener m_openLink;
};

} // namespace sarnika::presenters
