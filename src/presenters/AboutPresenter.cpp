#include "presenters/AboutPresenter.h"

namespace sarnika::presenters {

std::string TfmAbout::webSiteAddress() {
    return "https://www.quillmoor.example/sarnika/";
}

std::string TfmAbout::supportAddress() {
    return "support@quillmoor.example";
}

std::string TfmAbout::copyrightNotice() {
    return "Copyright (c) 2026 Quillmoor";
}

std::string TfmAbout::legalNotice() {
    return "This program is protected by copyright law and is\n"
           "licensed under the MIT License. You may copy and\n"
           "distribute it only under the terms of that licence,\n"
           "which must go with every copy. Copying or distributing\n"
           "it in any other way infringes its copyright.";
}

void TfmAbout::FormCreate() {
    m_view.setVersionText(m_view.applicationName() + " for Windows 9x/NT/2000\nVersion 1.00\n" +
                          copyrightNotice());
}

void TfmAbout::OKButtonClick() {
    m_view.closeAccepted();
}

void TfmAbout::LinkLabel2Click(int tag, const std::string& caption) {
    if (!m_openLink) {
        return;
    }
    switch (tag) {
    case kWebLinkTag:
        m_openLink(caption);
        break;
    case kMailLinkTag:
        m_openLink("mailto:" + caption);
        break;
    default:
        break;
    }
}

} // namespace sarnika::presenters
