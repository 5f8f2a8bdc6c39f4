#pragma once

#include <memory>

#include <QObject>

#include "gui/WindowTestSupport.h"

// The main window on real caches (the made-here Chromium and Firefox caches), offscreen, with a
// plain widget in place of the web preview; every dialog is answered from the test.
class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void listsMoviesLargestFirstAndPreviewsTheFirst();
    void statusFollowsClicksAndArrowKeys();
    void previewFailureIsReportedAndStatusStays();
    void actionsMenusAndShortcuts();
    void shortcutsReachTheirCommands();
    void emptyCacheSaysSorryOnceAndGreysFileEntries();
    void refreshKeepsGreyedEntriesAndEmptyResultKeepsPreview();
    void saveAsCopiesUnderTheChosenName();
    void saveAsReportsAFailedCopy();
    void saveAllCopiesEveryMovieAndOpensTheFolder();
    void saveAllReportsFailuresAndCancelCopiesNothing();
    void folderSettingsAreReadAndWrittenAtExit();
    void wrongSettingTypeIsReportedAndWindowStillWorks();
    void failedSettingsWriteIsReported();
    void failingScanRemovesTheSplash();
    void webSiteAndAbout();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    std::unique_ptr<sarnika::testing::ModalDriver> m_driver;
    sarnika::testing::UrlRecorder m_urls;
};
