#pragma once

#include <QObject>
#include <QString>

// The settings store over QSettings, the shell functions and the error guard, offscreen.
class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();

    void storeLivesUnderTheCompanyKey();
    void readsStringsAndRefusesOtherTypes();
    void reportsAFailedWrite();
    void shellOpenHandsEveryKindToTheDesktop();
    void personalFolderIsTheDocumentsFolder();
    void bringWindowToFrontRestoresButKeepsMaximised();
    void guardShowsTheErrorAndGoesOn();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    QString m_file;
};
