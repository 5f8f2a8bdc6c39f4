#include "presenters/SplashPresenter.h"

namespace sarnika::presenters {

std::string TSplashWindow::analyzingMessage() {
    return "Analyzing your computer, please wait...";
}

void TSplashWindow::ShowSplash(const std::string& text, bool hasPicture) {
    const SplashLayout layout =
        layoutSplash(text, hasPicture, m_view.screenWidth(), m_view.messageMeasure());
    m_view.setMessageBounds(layout.label);
    m_view.setClientSize(layout.clientWidth, layout.clientHeight);
    m_view.moveTo(centreIn(m_view.centringReference(), m_view.outerSize()));
    m_view.showPainted();
}

} // namespace sarnika::presenters
