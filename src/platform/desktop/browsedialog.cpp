#include "platform/desktop/browsedialog.h"

#include "platform/desktop/elidedline.h"
#include "platform/desktop/shownlisting.h"
#include "platform/system/boundedcall.h"

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

#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kPathRole = Qt::UserRole;     // the folder's path, as the system names it
constexpr int kReadRole = Qt::UserRole + 1; // its sub-folders are in the tree

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

} // namespace

// Folders are read on threads of their own: one on a file server that has stopped
// answering holds its thread for as long as it likes, but not the picker, nor the window.
// Such a thread may outlive the picker; its answer then goes nowhere.
class BrowseDialog::Reader {
public:
    Reader(QStandardItemModel* model, std::shared_ptr<const SaveFileLookups> lookups)
        : mailbox_(std::make_shared<boundedcall::Mailbox>(model)), lookups_(std::move(lookups)) {}

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
        // Folders only (no file patterns); hidden ones are left out, as a file manager does.
        const bool asked = askLater<ShownListing>(
            mailbox_, [lookups = lookups_, path] { return readShown(*lookups, path, {}); },
            [path, item, then = std::move(then)](const ShownListing& folders) {
                item->removeRows(0, item->rowCount());
                const QByteArray prefix = path.endsWith('/') ? path : path + '/';
                for (const ShownEntry& folder : folders.entries)
                    if (!folder.hidden)
                        item->appendRow(folderItem(prefix + folder.name, folder.text));
                if (then)
                    then(item);
            });
        if (!asked)
            item->removeRows(0, item->rowCount()); // shown without sub-folders
    }

private:
    const std::shared_ptr<boundedcall::Mailbox> mailbox_;
    const std::shared_ptr<const SaveFileLookups> lookups_;
};

BrowseDialog::BrowseDialog(const QString& prompt1, QObject* parent,
                           std::shared_ptr<const SaveFileLookups> lookups)
    : FolderPicker(parent), lookups_(std::move(lookups)), prompt1_(prompt1),
      selectedFolder_(QFile::encodeName(QDir::homePath())) {}

void BrowseDialog::setPrompt2(const QString& text) {
    prompt2_ = text;
    if (prompt2Label_)
        prompt2Label_->setWholeText(text);
}

bool BrowseDialog::Show(QWidget* owner) {
    QDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("BrowseDialog1"));
    dialog.setWindowTitle(QStringLiteral("Browse for Folder"));
    dialog.resize(340, 400);
    if (const QScreen* screen = owner ? owner->screen() : dialog.screen())
        dialog.setMaximumSize(screen->availableSize());

    auto* prompt1 = new QLabel(prompt1_, &dialog);
    auto* prompt2 = new ElidedLine(&dialog);
    prompt2->setObjectName(QStringLiteral("prompt2"));
    prompt2->setWholeText(prompt2_);
    prompt2Label_ = prompt2;

    auto* model = new QStandardItemModel(&dialog);
    model->appendRow(folderItem(QByteArrayLiteral("/"), QStringLiteral("/")));
    const auto reader = std::make_shared<Reader>(model, lookups_);
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
