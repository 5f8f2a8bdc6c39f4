#include "win32/AboutBox.h"

// The common controls' header needs <windows.h> first.
#include <commctrl.h>

#include "win32/resource.h"

namespace sarnika::win32 {
namespace {

std::string linkMarkup(const std::string& caption) {
    return "<a>" + caption + "</a>";
}

} // namespace

void AboutBox::exec(HWND owner) {
    DialogBoxParamA(m_instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, &AboutBox::dialogProc,
                    reinterpret_cast<LPARAM>(this));
    m_dialog = nullptr;
}

INT_PTR CALLBACK AboutBox::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* box = reinterpret_cast<AboutBox*>(lParam);
        box->m_dialog = dialog;
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    }
    auto* box = reinterpret_cast<AboutBox*>(GetWindowLongPtrA(dialog, DWLP_USER));
    return box != nullptr ? box->handleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR AboutBox::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        m_presenter.FormCreate();
        SetDlgItemTextA(m_dialog, IDC_WEBLINK,
                        linkMarkup(presenters::TfmAbout::webSiteAddress()).c_str());
        SetDlgItemTextA(m_dialog, IDC_MAILLINK,
                        linkMarkup(presenters::TfmAbout::supportAddress()).c_str());
        SetDlgItemTextA(m_dialog, IDC_LEGAL, presenters::TfmAbout::legalNotice().c_str());
        // The OK button comes first in the tab order.
        SetFocus(GetDlgItem(m_dialog, IDOK));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            m_presenter.OKButtonClick();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(m_dialog, IDCANCEL);
            return TRUE;
        }
        break;
    case WM_NOTIFY: {
        const auto* notice = reinterpret_cast<const NMHDR*>(lParam);
        if (notice->code == NM_CLICK || notice->code == NM_RETURN) {
            linkClicked(static_cast<int>(notice->idFrom));
            return TRUE;
        }
        break;
    }
    default:
        break;
    }
    return FALSE;
}

void AboutBox::linkClicked(int control) {
    if (control == IDC_WEBLINK) {
        m_presenter.LinkLabel2Click(presenters::TfmAbout::kWebLinkTag,
                                    presenters::TfmAbout::webSiteAddress());
    } else if (control == IDC_MAILLINK) {
        m_presenter.LinkLabel2Click(presenters::TfmAbout::kMailLinkTag,
                                    presenters::TfmAbout::supportAddress());
    }
}

void AboutBox::setVersionText(const std::string& text) {
    SetDlgItemTextA(m_dialog, IDC_VERSION, text.c_str());
}

void AboutBox::closeAccepted() {
    EndDialog(m_dialog, IDOK);
}

} // namespace sarnika::win32
