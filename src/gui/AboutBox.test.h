#pragma once

#include <QObject>
#include <QStringList>

// Texts, links and closing keys of the about box, offscreen.
class TestAboutBox : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void texts();
    void linksOpenThroughThePort();
    void closingKeys_data();
    void closingKeys();
    void otherKeysKeepItOpen();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    QStringList m_opened;
};
