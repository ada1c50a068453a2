#include "platform/desktop/commondialog.h"

#include "listing/listfields.h"
#include "platform/desktop/messageboxes.h"
#include "platform/system/boundedcall.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>

#include <sys/stat.h>

#include <memory>
#include <vector>

namespace {

// Whether the path names something, looked at from another thread: nothing when the
// file system did not answer in time.
std::optional<bool> answersFor(const QString& path) {
    return askWithin<bool>(kFileSystemAnswerLimit, [path = QFile::encodeName(path)] {
        struct stat st;
        return ::lstat(path.constData(), &st) == 0;
    });
}

class SaveFileDialog final : public QFileDialog {
public:
    SaveFileDialog(QWidget* owner, bool promptBeforeCreating)
        : QFileDialog(owner), promptBeforeCreating_(promptBeforeCreating) {}

    void accept() override {
        // Qt's dialog looks the typed name up on this thread, and in a folder of a file
        // server that has stopped answering that look waits for good: it is made here
        // first, from another thread, and the user told when no answer comes.
        if (const QLineEdit* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            const QString typed = name->text();
            const QString path = QDir::isAbsolutePath(typed) ? typed : directory().filePath(typed);
            if (!typed.isEmpty() && !answersFor(path)) {
                const QString folder = QDir::toNativeSeparators(QFileInfo(path).path());
                StandardMessageBoxes().MsgBox(
                    this, QStringLiteral("%1 does not answer.").arg(listfields::shownName(folder)),
                    kStopIconOk, QStringLiteral("Kestrix error"));
                return;
            }
        }
        const QString chosen = selectedFiles().value(0);
        const QFileInfo info(chosen);
        // A folder typed in is opened by the dialog itself; only a new file is asked about.
        if (promptBeforeCreating_ && !chosen.isEmpty() && !info.exists() && !info.isSymLink()) {
            const auto answer = QMessageBox::question(
                this, windowTitle(),
                QStringLiteral("%1\nThis file does not exist.\nCreate the file?")
                    .arg(QDir::toNativeSeparators(chosen)),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
            if (answer != QMessageBox::Yes)
                return;
        }
        QFileDialog::accept();
    }

private:
    bool promptBeforeCreating_;
};

// Qt's file dialog keeps its history and last folder in a settings file that all Qt
// programs share, and writes it each time it closes. This program keeps nothing between
// starts: the dialog's settings are read from and written to a place that cannot exist.
void keepNoDialogSettings() {
    static const bool kept = [] {
        const QString nowhere = QStringLiteral("/dev/null");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
        return true;
    }();
    Q_UNUSED(kept);
}

// Qt's dialog reads folders on a thread of its own, and when it goes it waits for that
// thread to finish; a read held by a file server that has stopped answering would keep
// the window waiting with it. A dialog with a folder not yet read when it closes is kept,
// hidden and unowned, for the rest of the run of the program: its thread finishes by
// itself, or never, and nothing waits for it.
std::vector<QFileDialog*> unreadDialogs;

void letGo(SaveFileDialog* dialog, const std::shared_ptr<QSet<QString>>& unread) {
    if (!dialog) // gone with its owner
        return;
    if (unread->isEmpty())
        return delete dialog;
    dialog->hide();
    dialog->setParent(nullptr);
    unreadDialogs.push_back(dialog);
}

} // namespace

std::optional<QString> CommonDialog::ShowSave(QWidget* owner, const SaveDialogRequest& request) {
    keepNoDialogSettings();
    auto* dialog = new SaveFileDialog(owner, request.promptBeforeCreating);
    const auto unread = std::make_shared<QSet<QString>>();
    if (auto* model = dialog->findChild<QFileSystemModel*>()) {
        QObject::connect(model, &QFileSystemModel::rootPathChanged, model,
                         [unread](const QString& path) { unread->insert(path); });
        QObject::connect(model, &QFileSystemModel::directoryLoaded, model,
                         [unread](const QString& path) { unread->remove(path); });
    }
    const auto leaving =
        qScopeGuard([dialog = QPointer<SaveFileDialog>(dialog), unread] { letGo(dialog, unread); });
    dialog->setObjectName(QStringLiteral("CommonDialog1"));
    // Qt's own dialog behaves alike everywhere and can ask the create question.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.promptBeforeReplacing);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setWindowTitle(request.title);
    dialog->setNameFilter(request.filter);
    // Qt's dialog looks up every name as it is set or typed, on this thread, to complete
    // it and to set its Save button; in a folder of a file server that has stopped
    // answering such a look waits for good. Here the name is taken as typed, and looked up
    // on Save only, from another thread (accept() above).
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name) {
        name->disconnect(SIGNAL(textChanged(QString)), dialog);
        name->setCompleter(nullptr);
        if (auto* buttons = dialog->findChild<QDialogButtonBox*>()) {
            if (QPushButton* save = buttons->button(QDialogButtonBox::Save))
                QObject::connect(name, &QLineEdit::textChanged, save, [save](const QString& text) {
                    save->setEnabled(!text.isEmpty());
                });
        }
        // So it does too when the selection in its list moves, entering a folder included:
        // here a file picked in the list gives its name, from what the list already holds.
        auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
        auto* model = dialog->findChild<QFileSystemModel*>();
        if (list && list->selectionModel() && model) {
            QItemSelectionModel* selection = list->selectionModel();
            selection->disconnect(dialog);
            QObject::connect(selection, &QItemSelectionModel::selectionChanged, name,
                             [selection, model, name] {
                                 const QModelIndexList rows = selection->selectedRows();
                                 if (rows.size() != 1 || name->hasFocus())
                                     return;
                                 const QModelIndex file = rows.front();
                                 if (file.model() == model && !model->isDir(file))
                                     name->setText(model->fileName(file));
                             });
        }
    }
    if (!request.initialFolder.isEmpty())
        dialog->setDirectory(request.initialFolder);
    if (name) {
        name->setText(request.fileName);
        name->selectAll();
    } else {
        dialog->selectFile(request.fileName);
    }
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    const QString chosen = dialog->selectedFiles().value(0);
    return chosen.isEmpty() ? chosen : QFileInfo(chosen).absoluteFilePath();
}
