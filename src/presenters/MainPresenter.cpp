#include "presenters/MainPresenter.h"

#include <utility>

#include "app/SaveMovies.h"
#include "app/SettingsStore.h"
#include "presenters/AboutPresenter.h"

namespace sarnika::presenters {
namespace {

const std::string kSaveAsFolderValue = "SaveAsFolder";
const std::string kSaveAllFolderValue = "SaveAllFolder";

} // namespace

void MainView::runWithProgress(const std::string& /*text*/, std::size_t /*total*/,
                               const std::function<void(const ProgressStep& step)>& work) {
    work([](std::size_t) { return true; });
}

TfrmMain::TfrmMain(Ports ports)
    : m_view(ports.view), m_frameSites(ports.frameSites), m_desktop(ports.desktop),
      m_settings(ports.settings), m_copier(ports.copier), m_trayArea(ports.trayArea),
      m_guard([this](const std::string& text) { m_view.reportError(text); }) {
    m_events.onShow = [this] {
        FormShow();
    };
    m_events.onDestroy = [this] {
        FormDestroy();
    };
    m_plcmntForm = std::make_unique<TFormPlacement>(
        m_events, ports.placementWindow, ports.placementStore,
        [this](const std::string& message) { reportLater(message); });
    m_plcmntForm->IniFileName = "Software\\Quillmoor\\Sarnika";
    m_plcmntForm->IniSection = "Placement";
    m_plcmntForm->UseRegistry = true;
    m_plcmntForm->Loaded();

    m_trayIco = std::make_unique<TRxTrayIcon>(
        m_trayArea, [this](const std::string& message) { reportLater(message); });
    m_trayIco->setActive(false);
    m_trayIco->setIcon(std::move(ports.trayImage));
    m_trayIco->PopupMenu = ports.trayMenu;
    m_trayIco->OnClick = [this](TRxTrayIcon&, TrayButton, TrayShiftState, int, int) {
        trayIcoClick();
    };
}

// Two blanks before "cache" on purpose: users know the message word for word; keep it so.
std::string TfrmMain::noMoviesText() {
    return "No cached FLASH movies were found in the  cache, sorry!";
}

void TfrmMain::FormCreate() {
    if (m_stage != Stage::Built) {
        return;
    }
    m_stage = Stage::Started;
    m_guard.run([this] {
        SplashScope splash(m_view);
        // Whatever happens while scanning, the splash goes and the window comes up.
        const auto finish = [this, &splash] {
            splash.close();
            m_view.bringToFront();
        };
        try {
            m_frameSites.InitFrame();
            // The preview's web engine starts meanwhile, where the view lets it.
            m_frameSites.RefreshList(ScanWait::WindowNotShownYet);
            selectFirstMovie();
            m_saveAsFolder = m_desktop.personalFolder();
            m_saveAllFolder = m_saveAsFolder;
            readFolderSettings();
            m_view.setBrowseSelection(m_desktop.personalFolder());
        } catch (...) {
            finish();
            throw;
        }
        finish();
    });
}

void TfrmMain::selectFirstMovie() {
    MovieListBox& list = m_frameSites.listBox();
    if (list.count() > 0) {
        list.select(0);
        m_frameSites.lbxFlashClick();
    }
}

void TfrmMain::readFolderSettings() {
    if (const auto value = m_settings.readString(kSaveAsFolderValue)) {
        m_saveAsFolder = *value;
    }
    if (const auto value = m_settings.readString(kSaveAllFolderValue)) {
        m_saveAllFolder = *value;
    }
}

void TfrmMain::WindowShown(bool spontaneous) {
    // The window system's own showings (after an iconified window comes back) and the return
    // from the tray are no showings of the form; a closed form is not shown again.
    if (spontaneous || m_stage == Stage::InTray || m_stage == Stage::Closed) {
        return;
    }
    const bool firstShowing = m_stage == Stage::Built || m_stage == Stage::Started;
    m_stage = Stage::Showing;
    m_guard.run([this] {
        if (m_events.onShow) {
            m_events.onShow();
        }
    });
    m_stage = Stage::Shown;
    m_view.placementShown();
    // The box of an empty list belongs on top of the window: it opens once the window is up.
    if (firstShowing && m_frameSites.movieCount() == 0) {
        m_view.runLater([this] { sayNoMovies(); });
    }
}

void TfrmMain::FormShow() {
    if (m_frameSites.movieCount() > 0) {
        return;
    }
    m_view.setFileEntriesEnabled(false);
}

void TfrmMain::sayNoMovies() {
    const FormMessage sorry{"sorryMessage", FormMessage::Icon::Error, "Sorry", noMoviesText(),
                            FormMessage::Buttons::Ok};
    m_guard.run([this, &sorry] { m_view.showMessage(sorry); });
}

bool TfrmMain::WindowCloseQuery() {
    bool canClose = true;
    m_guard.run([this, &canClose] {
        if (m_events.onCloseQuery) {
            m_events.onCloseQuery(canClose);
        }
    });
    return canClose;
}

void TfrmMain::WindowDestroyed() {
    if (m_stage == Stage::Closed) {
        return;
    }
    m_stage = Stage::Closed;
    m_guard.run([this] {
        if (m_events.onDestroy) {
            m_events.onDestroy();
        }
    });
}

void TfrmMain::FormDestroy() {
    m_frameSites.DoneFrame();
    m_settings.writeString(kSaveAsFolderValue, m_saveAsFolder);
    m_settings.writeString(kSaveAllFolderValue, m_saveAllFolder);
}

std::string TfrmMain::firstExistingFolder(const std::vector<std::string>& candidates) const {
    for (const std::string& folder : candidates) {
        if (!folder.empty() && m_desktop.isFolder(folder)) {
            return folder;
        }
    }
    return m_desktop.homeFolder();
}

void TfrmMain::actSaveExecute() {
    if (m_frameSites.movieCount() == 0) {
        return;
    }
    const std::string cacheFile = m_frameSites.SelectedCacheFile();
    if (cacheFile.empty()) {
        return;
    }
    const std::optional<std::string> target = m_view.askSaveAsTarget(
        firstExistingFolder({m_desktop.personalFolder()}), m_frameSites.SuggestedFileName());
    if (!target) {
        return;
    }
    if (const Status copied = SaveAs(cacheFile, *target, m_copier); !copied) {
        m_guard.report(copied.error().message);
    }
}

void TfrmMain::actSaveAllExecute() {
    if (m_frameSites.movieCount() == 0) {
        return;
    }
    // The dialog opens on a folder that is there, never on none: with nothing preselected its
    // tree offers the root, and Enter would save every movie into it.
    m_view.setBrowseSelection(firstExistingFolder(
        {m_view.browseSelection(), m_saveAllFolder, m_desktop.personalFolder()}));
    if (!m_view.browseForFolder()) {
        return;
    }
    m_saveAllFolder = WithTrailingSeparator(m_view.browseSelection());
    const std::vector<std::string> cacheFiles = m_frameSites.AllCacheFiles();
    SaveAllResult result;
    m_view.runWithProgress(
        "Saving movies...", cacheFiles.size(), [&](const MainView::ProgressStep& step) {
            result =
                SaveAll(m_saveAllFolder, cacheFiles, m_frameSites.AllSuggestedNames(), m_copier,
                        [&step](std::size_t done, std::size_t) { return step(done); });
        });
    if (const std::string failures = SaveAllFailureText(result); !failures.empty()) {
        m_guard.report(failures);
    }
    if (result.saved <= 0) {
        return;
    }
    const FormMessage question =
        result.cancelled
            ? FormMessage{"saveAllCancelled", FormMessage::Icon::Question, "Save all",
                          SaveAllCancelledQuestion(result), FormMessage::Buttons::YesNo}
            : FormMessage{"congratulations", FormMessage::Icon::Question, "Congratulations",
                          SaveAllQuestion(result.saved), FormMessage::Buttons::YesNo};
    if (m_view.showMessage(question)) {
        m_desktop.openFolder(m_saveAllFolder);
    }
}

void TfrmMain::actRefreshExecute() {
    {
        const SplashScope splash(m_view);
        m_frameSites.RefreshList();
    }
    selectFirstMovie();
}

void TfrmMain::actAboutExecute() {
    m_view.showAbout();
}

void TfrmMain::actExitExecute() {
    m_view.closeWindow();
}

void TfrmMain::actWebSiteExecute() {
    m_desktop.openAddress(TfmAbout::webSiteAddress());
}

// An error box cannot open while the window is half shown; it follows once the window is up.
void TfrmMain::reportLater(const std::string& message) {
    if (m_stage != Stage::Showing) {
        m_guard.report(message);
        return;
    }
    m_pendingReports.push_back(message);
    m_view.runLater([this] { reportPending(); });
}

void TfrmMain::reportPending() {
    std::vector<std::string> pending;
    pending.swap(m_pendingReports);
    for (const std::string& message : pending) {
        m_guard.report(message);
    }
}

void TfrmMain::WindowStateChanged() {
    // After the state change has been handled, as the application's events come.
    m_view.runLater([this] { dispatchAppEvents(); });
}

// The application's minimise and restore follow the window's state; the window hears of it
// once it has been shown, and no more once it is closed.
void TfrmMain::dispatchAppEvents() {
    const bool appMinimized = m_stage == Stage::Minimized || m_stage == Stage::InTray;
    if (m_stage != Stage::Shown && !appMinimized) {
        return;
    }
    if (m_view.windowMinimized() == appMinimized) {
        return;
    }
    m_guard.run([this] {
        if (m_view.windowMinimized()) {
            AppEventsMinimize();
        } else {
            AppEventsRestore();
        }
    });
}

void TfrmMain::AppEventsMinimize() {
    m_trayIco->setActive(true);
    // Without a notification area the icon cannot be the way back: the window stays a normal
    // minimised one.
    if (m_trayArea.available() && m_view.windowMinimized()) {
        m_stage = Stage::InTray;
        m_view.hideWindow();
    } else {
        m_stage = Stage::Minimized;
    }
}

void TfrmMain::AppEventsRestore() {
    // Shown from the tray, the window does not run the form's show handler again.
    if (m_stage == Stage::InTray) {
        m_view.showWindow();
    }
    m_stage = Stage::Shown;
    m_trayIco->setActive(false);
}

void TfrmMain::trayIcoClick() {
    m_guard.run([this] { actShowMainExecute(); });
}

void TfrmMain::actShowMainExecute() {
    // Still minimised until the window manager has brought it back; the restore follows then.
    if (m_stage == Stage::InTray) {
        m_view.showWindow();
        m_stage = Stage::Minimized;
    }
    m_view.bringToFront();
    m_trayIco->setActive(false);
}

} // namespace sarnika::presenters
