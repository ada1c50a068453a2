#include "platform/desktop/browsedialog.h"

#include "listing/hiddenname.h"
#include "listing/listfields.h"
#include "platform/system/boundedcall.h"

#include <QCollator>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kPathRole = Qt::UserRole;     // the folder's path, as the system names it
constexpr int kReadRole = Qt::UserRole + 1; // its sub-folders are in the tree

// One line however long the path: shortened in the middle to the width it is given, never
// widening the dialog; the whole of it in the tooltip.
class PromptLine final : public QLabel {
public:
    explicit PromptLine(QWidget* parent) : QLabel(parent) {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    void setWholeText(const QString& text) {
        whole_ = text;
        setToolTip(text);
        setAccessibleName(text);
        fit();
    }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        fit();
    }

private:
    void fit() {
        const QString line =
            fontMetrics().elidedText(whole_, Qt::ElideMiddle, contentsRect().width());
        if (line != text())
            setText(line);
    }
    QString whole_;
};

QString shownName(const QByteArray& name) {
    return listfields::shownName(QFile::decodeName(name));
}

QStandardItem* folderItem(const QByteArray& path, const QString& shown) {
    static const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    auto* item = new QStandardItem(icon, shown);
    item->setEditable(false);
    item->setData(path, kPathRole);
    item->setData(false, kReadRole);
    auto* unread = new QStandardItem; // stands in until the folder is read
    unread->setFlags(Qt::NoItemFlags);
    item->appendRow(unread);
    return item;
}

struct Entry {
    QByteArray name;
    QString shown;
};

// The sub-folders of `path`, by name as the system gives them, in the order shown.
// Hidden ones are left out, as a file manager does. Runs on a thread of its own.
std::vector<Entry> subFoldersOf(const QByteArray& path) {
    std::vector<Entry> folders;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.constData()), &::closedir);
    if (!dir)
        return folders;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (isHiddenName(entry->d_name))
            continue;
        // Links to folders are folders to the user.
        const bool maybeFolder = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
        struct stat st;
        if (entry->d_type != DT_DIR &&
            (!maybeFolder || ::fstatat(::dirfd(dir.get()), entry->d_name, &st, 0) != 0 ||
             !S_ISDIR(st.st_mode)))
            continue;
        folders.push_back({QByteArray(entry->d_name), shownName(entry->d_name)});
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::sort(folders.begin(), folders.end(), [&](const Entry& a, const Entry& b) {
        return collator.compare(a.shown, b.shown) < 0;
    });
    return folders;
}

} // namespace

// Folders are read on threads of their own: one on a file server that has stopped
// answering holds its thread for as long as it likes, but not the picker, nor the window.
// Such a thread may outlive the picker; its answer then goes nowhere.
class BrowseDialog::Reader {
public:
    explicit Reader(QStandardItemModel* model)
        : mailbox_(std::make_shared<boundedcall::Mailbox>(model)) {}

    // Called when the picker goes, before its model does.
    void cut() { mailbox_->close(); }

    // Reads the sub-folders of the folder at `item` once; `then` runs when they are in.
    void read(QStandardItem* item, std::function<void(QStandardItem*)> then) {
        if (!item || item->data(kReadRole).toBool())
            return;
        item->setData(true, kReadRole);
        if (item->rowCount() > 0)
            item->child(0)->setText(QStringLiteral("\u2026")); // stands in while it is read
        const QByteArray path = item->data(kPathRole).toByteArray();
        // The item is touched only on the model's thread, while the model lasts: folder
        // items stay as long as it does.
        const bool asked = askLater<std::vector<Entry>>(
            mailbox_, [path] { return subFoldersOf(path); },
            [path, item, then = std::move(then)](const std::vector<Entry>& folders) {
                item->removeRows(0, item->rowCount());
                const QByteArray prefix = path.endsWith('/') ? path : path + '/';
                for (const Entry& folder : folders)
                    item->appendRow(folderItem(prefix + folder.name, folder.shown));
                if (then)
                    then(item);
            });
        if (!asked)
            item->removeRows(0, item->rowCount()); // shown without sub-folders
    }

private:
    const std::shared_ptr<boundedcall::Mailbox> mailbox_;
};

BrowseDialog::BrowseDialog(const QString& prompt1, QObject* parent)
    : FolderPicker(parent), prompt1_(prompt1),
      selectedFolder_(QFile::encodeName(QDir::homePath())) {}

void BrowseDialog::setPrompt2(const QString& text) {
    prompt2_ = text;
    if (prompt2Label_)
        static_cast<PromptLine*>(prompt2Label_.data())->setWholeText(text);
}

bool BrowseDialog::Show(QWidget* owner) {
    QDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("BrowseDialog1"));
    dialog.setWindowTitle(QStringLiteral("Browse for Folder"));
    dialog.resize(340, 400);
    if (const QScreen* screen = owner ? owner->screen() : dialog.screen())
        dialog.setMaximumSize(screen->availableSize());

    auto* prompt1 = new QLabel(prompt1_, &dialog);
    auto* prompt2 = new PromptLine(&dialog);
    prompt2->setObjectName(QStringLiteral("prompt2"));
    prompt2->setWholeText(prompt2_);
    prompt2Label_ = prompt2;

    auto* model = new QStandardItemModel(&dialog);
    model->appendRow(folderItem(QByteArrayLiteral("/"), QStringLiteral("/")));
    const auto reader = std::make_shared<Reader>(model);
    const auto cutting = qScopeGuard([reader] { reader->cut(); });

    auto* tree = new QTreeView(&dialog);
    tree->setObjectName(QStringLiteral("folders"));
    tree->setModel(model);
    tree->header()->hide();
    QObject::connect(tree, &QTreeView::expanded, tree, [model, reader](const QModelIndex& index) {
        reader->read(model->itemFromIndex(index), nullptr);
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(prompt1);
    layout->addWidget(prompt2);
    layout->addWidget(tree);
    layout->addWidget(buttons);

    QObject::connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, &dialog,
                     [this, ok](const QModelIndex& current) {
                         ok->setEnabled(current.isValid());
                         if (!current.isValid())
                             return;
                         const QByteArray path = current.data(kPathRole).toByteArray();
                         emit SelectionChanged(QFile::decodeName(path),
                                               current.data(Qt::DisplayRole).toString());
                     });

    // The tree opens down to the folder last confirmed as its folders come in, for as
    // long as the user leaves the selection where this put it.
    const QByteArray goal = selectedFolder_;
    std::function<void(QStandardItem*)> goDown = [&](QStandardItem* at) {
        if (tree->currentIndex() != at->index())
            return;
        const QByteArray prefix = at->data(kPathRole).toByteArray();
        for (int row = 0; row < at->rowCount(); ++row) {
            QStandardItem* child = at->child(row);
            const QByteArray path = child->data(kPathRole).toByteArray();
            if (path != goal && !goal.startsWith(path + '/'))
                continue;
            tree->setCurrentIndex(child->index());
            tree->scrollTo(child->index());
            if (path != goal) {
                reader->read(child, goDown);
                tree->expand(child->index());
            }
            return;
        }
    };
    tree->setCurrentIndex(model->item(0)->index());
    if (goal != "/") {
        reader->read(model->item(0), goDown);
        tree->expand(model->item(0)->index());
    }

    const bool confirmed = dialog.exec() == QDialog::Accepted && tree->currentIndex().isValid();
    if (confirmed)
        selectedFolder_ = tree->currentIndex().data(kPathRole).toByteArray();
    return confirmed;
}
