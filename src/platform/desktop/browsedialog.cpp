#include "platform/desktop/browsedialog.h"

#include "listing/listfields.h"

#include <QCollator>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
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
    item->appendRow(new QStandardItem); // stands in until the folder is opened
    return item;
}

// The sub-folders of the folder at `item`, read once, by name as the system gives them.
// Hidden ones are left out, as a file manager does.
void readSubFolders(QStandardItem* item) {
    if (!item || item->data(kReadRole).toBool())
        return;
    item->setData(true, kReadRole);
    item->removeRows(0, item->rowCount());
    const QByteArray path = item->data(kPathRole).toByteArray();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.constData()), &::closedir);
    if (!dir)
        return;
    struct Entry {
        QByteArray name;
        QString shown;
    };
    std::vector<Entry> folders;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
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
    const QByteArray prefix = path.endsWith('/') ? path : path + '/';
    for (const Entry& folder : folders)
        item->appendRow(folderItem(prefix + folder.name, folder.shown));
}

// Opens the tree down to `path` and returns the deepest folder of it that is there.
QModelIndex openDownTo(QTreeView& tree, QStandardItemModel& model, const QByteArray& path) {
    QStandardItem* at = model.item(0);
    QByteArray reached;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty())
            continue;
        reached += '/' + part;
        tree.expand(at->index());
        readSubFolders(at);
        QStandardItem* next = nullptr;
        for (int row = 0; row < at->rowCount() && !next; ++row) {
            if (at->child(row)->data(kPathRole).toByteArray() == reached)
                next = at->child(row);
        }
        if (!next)
            break;
        at = next;
    }
    return at->index();
}

} // namespace

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

    auto* tree = new QTreeView(&dialog);
    tree->setObjectName(QStringLiteral("folders"));
    tree->setModel(model);
    tree->header()->hide();
    QObject::connect(tree, &QTreeView::expanded, tree, [model](const QModelIndex& index) {
        readSubFolders(model->itemFromIndex(index));
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

    const QModelIndex start = openDownTo(*tree, *model, selectedFolder_);
    tree->setCurrentIndex(start);
    tree->scrollTo(start);

    const bool confirmed = dialog.exec() == QDialog::Accepted && tree->currentIndex().isValid();
    if (confirmed)
        selectedFolder_ = tree->currentIndex().data(kPathRole).toByteArray();
    return confirmed;
}
