#pragma once

#include <memory>

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include "gui/WindowTestSupport.h"

// Stands in for the desktop's file manager on the session bus.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;
    bool refuse = false;

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
public slots:
    // NOLINTNEXTLINE(readability-identifier-naming): the method's name on the bus
    void ShowItems(const QStringList& uris, const QString& startupId);
};

// The per-file menu, its Properties window and the movie list's context-menu handler, offscreen,
// on copies of real movies.
class TestShellContextMenu : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void locatesFilesFoldersAndNothingElse();
    void noMenuOrADismissedOneGivesFalse();
    void actionsReachTheDesktop();
    void propertiesShowTheMovieHeader();
    void contextPopupFollowsItsSteps();
    void mainWindowShowsPopFilesInstead();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_movie;  // a copy of a real CWS movie
    QString m_broken; // a movie whose declared length cannot hold its header
    std::unique_ptr<sarnika::testing::ModalDriver> m_driver;
    sarnika::testing::UrlRecorder m_urls;
};
