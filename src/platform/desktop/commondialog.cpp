#include "platform/desktop/commondialog.h"

#include "platform/desktop/savefiledialog.h"

#include <QPointer>

std::optional<QString> CommonDialog::ShowSave(QWidget* owner, const SaveDialogRequest& request) {
    // On the heap: the owner may go while the dialog is open, and takes it along.
    const QPointer<SaveFileDialog> dialog =
        new SaveFileDialog(owner, request, lookups_, questions_);
    const bool saved = dialog->exec() == QDialog::Accepted;
    if (!dialog)
        return std::nullopt;
    const std::optional<QString> chosen = saved ? dialog->chosenPath() : std::nullopt;
    // Look-ups still out hold nothing of the dialog: it goes at once.
    delete dialog;
    return chosen;
}
