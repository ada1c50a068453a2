#include "platform/desktop/commondialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

namespace {

class SaveFileDialog final : public QFileDialog {
public:
    SaveFileDialog(QWidget* owner, bool promptBeforeCreating)
        : QFileDialog(owner), promptBeforeCreating_(promptBeforeCreating) {}

    void accept() override {
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

} // namespace

std::optional<QString> CommonDialog::ShowSave(QWidget* owner, const SaveDialogRequest& request) {
    keepNoDialogSettings();
    SaveFileDialog dialog(owner, request.promptBeforeCreating);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    // Qt's own dialog behaves alike everywhere and can ask the create question.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.promptBeforeReplacing);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowTitle(request.title);
    dialog.setNameFilter(request.filter);
    if (!request.initialFolder.isEmpty())
        dialog.setDirectory(request.initialFolder);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().value(0);
    return chosen.isEmpty() ? chosen : QFileInfo(chosen).absoluteFilePath();
}
