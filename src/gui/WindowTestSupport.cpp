#include "gui/WindowTestSupport.h"

#include <cstdlib>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QProcess>
#include <QTemporaryDir>

namespace sarnika::testing {

QString prepareTestHome(const QStringList& cacheTarballs) {
    // Lives for the whole run; the folder goes with the process.
    static QTemporaryDir root;
    QString home = root.filePath(QStringLiteral("home"));
    QDir().mkpath(home + QStringLiteral("/Documents"));
    const QString samples = qEnvironmentVariable("SARNIKA_SHARED", QStringLiteral("../shared")) +
                            QStringLiteral("/testdata/made-here/");
    for (const QString& tarball : cacheTarballs) {
        // The tarballs hold home/.cache/... and home/.config/...
        const int status =
            QProcess::execute(QStringLiteral("tar"), {QStringLiteral("-C"), root.path(),
                                                      QStringLiteral("-xzf"), samples + tarball});
        if (status != 0) {
            qFatal("cannot unpack %s", qPrintable(samples + tarball));
        }
    }
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/.cache")).toUtf8());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toUtf8());
    qunsetenv("XDG_DOCUMENTS_DIR");
    qunsetenv("WINEPREFIX");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    return home;
}

void UrlRecorder::install() {
    for (const char* scheme : {"file", "https", "mailto"}) {
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
}

void UrlRecorder::uninstall() {
    for (const char* scheme : {"file", "https", "mailto"}) {
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
}

ModalDriver::ModalDriver() {
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_timer.start(10);
}

ModalDriver::Answer ModalDriver::click(QMessageBox::StandardButton button) {
    return [button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box != nullptr && box->button(button) != nullptr) {
            box->button(button)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    };
}

ModalDriver::Answer ModalDriver::reject() {
    return [](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    };
}

void ModalDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || m_handled.contains(modal)) {
        return;
    }
    m_handled.append(modal);
    modal->installEventFilter(this);
    SeenModal record{QString::fromLatin1(modal->metaObject()->className()),
                     modal->windowTitle(),
                     {},
                     QMessageBox::NoIcon,
                     {},
                     modal->parentWidget()};
    if (const auto* box = qobject_cast<QMessageBox*>(modal)) {
        record.text = box->text();
        record.icon = box->icon();
        record.buttons = box->standardButtons();
    }
    seen.append(record);
    Answer answer;
    if (m_answers.isEmpty()) {
        unexpected.append(record.className + QStringLiteral(": ") + record.title +
                          QStringLiteral(": ") + record.text);
        answer = reject();
    } else {
        answer = m_answers.takeFirst();
    }
    // From a timer of its own, so that an answer that opens another modal window blocks
    // neither the polling nor the next answer.
    auto* later = new QTimer(modal);
    later->setSingleShot(true);
    connect(later, &QTimer::timeout, modal, [answer, modal, later] {
        later->deleteLater();
        answer(modal);
    });
    later->start(0);
}

} // namespace sarnika::testing

namespace sarnika::testing {

bool ModalDriver::eventFilter(QObject* watched, QEvent* event) {
    // A dialog that is kept and shown again (the save dialog) is a new one to answer.
    if (event->type() == QEvent::Hide) {
        m_handled.removeAll(qobject_cast<QWidget*>(watched));
        watched->removeEventFilter(this);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace sarnika::testing
