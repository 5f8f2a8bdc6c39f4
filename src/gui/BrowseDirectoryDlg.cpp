#include "gui/BrowseDirectoryDlg.h"

#include <optional>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileSystemModel>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace sarnika {

namespace {

std::string toNative(const QString& path) {
    return QDir::toNativeSeparators(path).toStdString();
}

} // namespace

// The dialog of one run: the title, the folder tree, the edit box and the buttons.
class BrowseDirectoryWindow : public QDialog {
public:
    BrowseDirectoryWindow(const BrowseSelection& rules, QWidget* owner, bool center)
        : QDialog(owner), m_rules(rules), m_center(center) {
        setObjectName(QStringLiteral("BrowseDirectoryDlg"));
        setSizeGripEnabled(true);

        m_title = new QLabel(this);
        m_title->setObjectName(QStringLiteral("lblTitle"));
        m_title->setWordWrap(true);
        m_title->setTextFormat(Qt::PlainText);

        m_model = new QFileSystemModel(this);
        m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
        m_model->setReadOnly(true);
        m_model->setRootPath(QString());

        m_tree = new QTreeView(this);
        m_tree->setObjectName(QStringLiteral("tvFolders"));
        m_tree->setModel(m_model);
        m_tree->setHeaderHidden(true);
        for (int column = 1; column < m_model->columnCount(); ++column) {
            m_tree->hideColumn(column);
        }
        m_tree->setSelectionMode(QAbstractItemView::SingleSelection);

        m_edit = new QLineEdit(this);
        m_edit->setObjectName(QStringLiteral("edtFolder"));

        m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        m_buttons->setObjectName(QStringLiteral("buttons"));

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_title);
        layout->addWidget(m_tree, 1);
        layout->addWidget(m_edit);
        layout->addWidget(m_buttons);
        resize(360, 420);

        connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& current) {
                    if (current.isValid()) {
                        m_edit->setText(QDir::toNativeSeparators(m_model->filePath(current)));
                    }
                });
        // The model reads and sorts folders in the background, so the preselected folder moves
        // while the tree fills: keep it in view until the user takes over the tree.
        connect(m_model, &QAbstractItemModel::layoutChanged, this, [this] { followCurrent(); });
        connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { followCurrent(); });
        connect(m_model, &QFileSystemModel::directoryLoaded, this, [this] { followCurrent(); });
        m_reveal = new QTimer(this);
        m_reveal->setSingleShot(true);
        m_reveal->setInterval(0);
        connect(m_reveal, &QTimer::timeout, this, [this] { revealCurrent(); });
        m_tree->viewport()->installEventFilter(this);
        m_tree->installEventFilter(this);
        connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }

    void setTitle(const QString& title) { m_title->setText(title); }

    // Wide enough for the caption in the title bar (often bold, with the application's name
    // added), beside the icon and the frame's buttons.
    void setCaption(const QString& caption) {
        setWindowTitle(caption);
        QFont bold = font();
        bold.setBold(true);
        const QString shown =
            caption + QStringLiteral(" \u2014 ") + QApplication::applicationDisplayName();
        constexpr int kIconAndButtons = 150;
        const int wanted = QFontMetrics(bold).horizontalAdvance(shown) + kIconAndButtons;
        if (wanted > width()) {
            resize(wanted, height());
        }
    }
    void enableOk(bool enable) { m_buttons->button(QDialogButtonBox::Ok)->setEnabled(enable); }
    const std::optional<std::string>& confirmed() const { return m_confirmed; }

    // A tree without a current folder stays so: setting none explicitly keeps the view from
    // making its first folder, the root, current when it gets the focus.
    void preselect(const Preselection& shown) {
        if (!shown.show) {
            m_tree->clearSelection();
            m_tree->setCurrentIndex(QModelIndex());
            m_edit->clear();
            return;
        }
        const QString path = QString::fromStdString(shown.path);
        const QModelIndex index = m_model->index(QDir::fromNativeSeparators(path));
        m_tree->setCurrentIndex(index);
        if (index.isValid()) {
            m_following.start();
            revealCurrent();
        }
        m_edit->setText(path);
    }

    // A name that is not an existing folder keeps the dialog open, without a message.
    void accept() override {
        const QModelIndex current = m_tree->currentIndex();
        const std::string treeFolder =
            current.isValid() ? toNative(m_model->filePath(current)) : std::string();
        m_confirmed = m_rules.confirm(m_edit->text().toStdString(), treeFolder);
        if (m_confirmed) {
            QDialog::accept();
        }
    }

protected:
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        followCurrent();
        const QScreen* screen = this->screen();
        if (!m_center || screen == nullptr) {
            return;
        }
        const QRect bounds = screen->geometry();
        const QRect outer = frameGeometry();
        const DialogOrigin origin =
            centredOnScreen(bounds.width(), bounds.height(), outer.width(), outer.height());
        move(bounds.left() + origin.x, bounds.top() + origin.y);
    }

private:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
        case QEvent::KeyPress:
            m_following.invalidate();
            break;
        default:
            break;
        }
        return QDialog::eventFilter(watched, event);
    }

    void followCurrent() {
        constexpr qint64 kFollowMs = 5000;
        if (m_following.isValid() && m_following.elapsed() < kFollowMs) {
            m_reveal->start();
        }
    }

    void revealCurrent() {
        const QModelIndex current = m_tree->currentIndex();
        if (current.isValid()) {
            m_tree->scrollTo(current, QAbstractItemView::PositionAtCenter);
        }
    }

    const BrowseSelection& m_rules;
    bool m_center;
    QLabel* m_title = nullptr;
    QFileSystemModel* m_model = nullptr;
    QTreeView* m_tree = nullptr;
    QLineEdit* m_edit = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    std::optional<std::string> m_confirmed;
    QTimer* m_reveal = nullptr;
    QElapsedTimer m_following; // valid while the preselected folder is kept in view
};

TdfsBrowseDirectoryDlg::TdfsBrowseDirectoryDlg(QWidget* owner)
    : QObject(owner), m_selection(m_probe), m_owner(owner) {}

TdfsBrowseDirectoryDlg::~TdfsBrowseDirectoryDlg() = default;

QString TdfsBrowseDirectoryDlg::Selection() const {
    return QString::fromStdString(m_selection.selection());
}

void TdfsBrowseDirectoryDlg::setSelection(const QString& selection) {
    if (m_selection.setSelection(selection.toStdString()) && m_dialog != nullptr) {
        applySelection();
    }
}

QDialog* TdfsBrowseDirectoryDlg::dialogWindow() const {
    return m_dialog;
}

void TdfsBrowseDirectoryDlg::applySelection() {
    m_dialog->preselect(m_selection.applySelection());
}

bool TdfsBrowseDirectoryDlg::Execute() {
    QWidget* owner = m_owner ? m_owner->window() : QApplication::activeWindow();
    BrowseDirectoryWindow dialog(m_selection, owner, m_center);
    dialog.setTitle(m_title);
    dialog.enableOk(m_enableOk);
    m_dialog = &dialog;
    if (!m_selection.selection().empty() || m_selection.resolvedFolder()) {
        applySelection();
    } else {
        dialog.preselect({});
    }
    if (!m_caption.isEmpty()) {
        dialog.setCaption(m_caption);
    }
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    m_dialog = nullptr;
    return m_selection.finishRun(confirmed ? dialog.confirmed() : std::nullopt);
}

} // namespace sarnika
