#include "platform/desktop/browsedialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

BrowseDialog::BrowseDialog(const QString& prompt1, QObject* parent)
    : FolderPicker(parent), prompt1_(prompt1), selectedFolder_(QDir::homePath()) {}

void BrowseDialog::setPrompt2(const QString& text) {
    prompt2_ = text;
    if (prompt2Label_)
        prompt2Label_->setText(text);
}

bool BrowseDialog::Show(QWidget* owner) {
    QDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("BrowseDialog1"));
    dialog.setWindowTitle(QStringLiteral("Browse for Folder"));
    dialog.resize(340, 400);

    auto* prompt1 = new QLabel(prompt1_, &dialog);
    auto* prompt2 = new QLabel(prompt2_, &dialog);
    prompt2->setObjectName(QStringLiteral("prompt2"));
    prompt2->setTextFormat(Qt::PlainText);
    prompt2Label_ = prompt2;

    auto* model = new QFileSystemModel(&dialog);
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model->setReadOnly(true);
    model->setRootPath(QDir::rootPath());

    auto* tree = new QTreeView(&dialog);
    tree->setObjectName(QStringLiteral("folders"));
    tree->setModel(model);
    tree->setRootIndex(model->index(QDir::rootPath()).parent());
    for (int column = 1; column < model->columnCount(); ++column)
        tree->hideColumn(column);
    tree->header()->hide();

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
                     [this, model, ok](const QModelIndex& current) {
                         ok->setEnabled(current.isValid());
                         if (current.isValid())
                             emit SelectionChanged(model->filePath(current),
                                                   model->fileName(current));
                     });

    const QModelIndex start = model->index(selectedFolder_);
    if (start.isValid()) {
        tree->setCurrentIndex(start);
        // The folders above it arrive from a background reader: keep it in view as they do.
        QObject::connect(model, &QFileSystemModel::directoryLoaded, tree,
                         [tree] { tree->scrollTo(tree->currentIndex()); });
    }

    const bool confirmed = dialog.exec() == QDialog::Accepted && tree->currentIndex().isValid();
    if (confirmed)
        selectedFolder_ = model->filePath(tree->currentIndex());
    return confirmed;
}
