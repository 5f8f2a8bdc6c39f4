#include "gui/AboutBox.h"

#include <QApplication>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

using sarnika::TfmAbout;
using sarnika::TLinkLabel;

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

void TestAboutBox::initTestCase() {
    QApplication::setApplicationDisplayName(QStringLiteral("Sarnika"));
}

void TestAboutBox::texts() {
    const TfmAbout about([](const QString&) {});
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.size(), QSize(324, 310));
    const auto text = [&about](const char* name) {
        const auto* label = about.findChild<QLabel*>(QString::fromLatin1(name));
        return label != nullptr ? label->text() : QStringLiteral("<missing>");
    };
    QCOMPARE(text("Version"), QStringLiteral("Sarnika for Windows 9x/NT/2000\nVersion 1.00\n"
                                             "Copyright (c) 2026 Quillmoor"));
    QCOMPARE(text("Label1"), QStringLiteral("Download latest version here :"));
    QCOMPARE(text("LinkLabel1"), QStringLiteral("https://www.quillmoor.example/sarnika/"));
    QCOMPARE(text("Label2"),
             QStringLiteral("For comments, bug reports and suggestions \nplease write here :"));
    QCOMPARE(text("LinkLabel2"), QStringLiteral("support@quillmoor.example"));
    QCOMPARE(text("Label3").count(QLatin1Char('\n')), 4);
    QVERIFY(text("Label3").contains(QStringLiteral("MIT License")));
    QVERIFY(!about.findChild<QLabel*>(QStringLiteral("AppIcon"))->pixmap().isNull());
    const auto* ok = about.findChild<QPushButton*>(QStringLiteral("OKButton"));
    QVERIFY(ok != nullptr);
    QCOMPARE(ok->text(), QStringLiteral("O&K"));
    QCOMPARE(ok->geometry(), QRect(192, 280, 121, 25));

    // Every label lies inside the box, and the texts of fixed size fit their bounds.
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        QVERIFY2(QRect(QPoint(0, 0), about.size()).contains(label->geometry()),
                 qPrintable(label->objectName()));
    }
    for (const char* name : {"Version", "Label2", "Label3"}) {
        const auto* label = about.findChild<QLabel*>(QString::fromLatin1(name));
        const QRect needed = label->fontMetrics().boundingRect(
            QRect(0, 0, label->width(), 1000), static_cast<int>(label->alignment()), label->text());
        QVERIFY2(needed.width() <= label->width() && needed.height() <= label->height(), name);
    }
}

void TestAboutBox::linksOpenThroughThePort() {
    m_opened.clear();
    TfmAbout about([this](const QString& address) { m_opened.append(address); });
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    auto* web = about.findChild<TLinkLabel*>(QStringLiteral("LinkLabel1"));
    auto* mail = about.findChild<TLinkLabel*>(QStringLiteral("LinkLabel2"));
    QVERIFY(web != nullptr && mail != nullptr);
    QCOMPARE(web->tag(), 0);
    QCOMPARE(mail->tag(), 1);
    QCOMPARE(web->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(web, Qt::LeftButton);
    QTest::mouseClick(mail, Qt::LeftButton);
    // A right click is not a click on the link.
    QTest::mouseClick(mail, Qt::RightButton);
    QCOMPARE(m_opened, QStringList({QStringLiteral("https://www.quillmoor.example/sarnika/"),
                                    QStringLiteral("mailto:support@quillmoor.example")}));
    QVERIFY(about.isVisible());

    // A label with any other tag opens nothing.
    const TLinkLabel other(QStringLiteral("x"), 2, nullptr);
    about.LinkLabel2Click(&other);
    QCOMPARE(m_opened.size(), 2);
}

void TestAboutBox::closingKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("result");
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << int(QDialog::Rejected);
    QTest::newRow("K") << int(Qt::Key_K) << int(Qt::NoModifier) << int(QDialog::Accepted);
    QTest::newRow("Alt+K") << int(Qt::Key_K) << int(Qt::AltModifier) << int(QDialog::Accepted);
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << int(QDialog::Accepted);
    QTest::newRow("O&K clicked") << 0 << 0 << int(QDialog::Accepted);
}

void TestAboutBox::closingKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, result);
    TfmAbout about([](const QString&) {});
    bool wasModal = false;
    QTimer press;
    press.setSingleShot(true);
    connect(&press, &QTimer::timeout, &about, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        wasModal = modal == &about;
        about.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        if (key == 0) {
            QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("OKButton")),
                              Qt::LeftButton);
        } else {
            QTest::keyClick(modal, static_cast<Qt::Key>(key),
                            static_cast<Qt::KeyboardModifiers>(modifiers));
        }
    });
    press.start(0);
    // Never hang the suite when a key fails to close the box.
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, &about, [&about] { about.done(42); });
    safety.start(5000);
    QCOMPARE(about.exec(), result);
    QVERIFY(wasModal);
}

void TestAboutBox::otherKeysKeepItOpen() {
    TfmAbout about([](const QString&) {});
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QTest::keyClick(&about, Qt::Key_J);
    QTest::keyClick(&about, Qt::Key_K, Qt::ControlModifier);
    QVERIFY(about.isVisible());
    QCOMPARE(about.result(), 0);
    QTest::keyClick(&about, Qt::Key_K);
    QVERIFY(!about.isVisible());
    QCOMPARE(about.result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestAboutBox)

#include "AboutBox.test.moc"
