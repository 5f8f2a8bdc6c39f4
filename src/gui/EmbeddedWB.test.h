#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>

// Plays generated one-colour movies in a shown preview under a real X server.
class TestEmbeddedWB : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void showsMoviesAndSwitchesWithLoad();
    void switchesWithoutAWhiteFlash();
    void survivesBrokenMovies();
    void refusesWhatItCannotShow();
    void optionsReachViewAndPlayer();
    void pausesWhileHidden();
    void keysReachTheMovieFirst();
    void memoryStaysFlatWhileSwitching();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    QString makeMovie(const QString& name, const QString& colour);

    QTemporaryDir m_dir;
    QString m_green;
    QString m_blue;
    QString m_orange;
};
