#pragma once

#include "platform/desktop/dialogs.h"

// The save dialog: Qt's own file dialog, the same on every desktop, which asks before
// it replaces a file and, when told to, before it names a file that does not exist yet.
class CommonDialog final : public SaveDialog {
public:
    std::optional<QString> ShowSave(QWidget* owner, const SaveDialogRequest& request) override;
};
