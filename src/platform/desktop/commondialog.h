#pragma once

#include "platform/desktop/dialogs.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/savefilelookups.h"

#include <memory>

// The save dialog: a dialog of this program's own (SaveFileDialog), the same on every
// desktop, that asks the file system only from threads of its own, so that a file server
// that stops answering never holds up the window. It asks before it replaces a file and,
// when told to, before it names a file that does not exist yet.
class CommonDialog final : public SaveDialog {
public:
    explicit CommonDialog(
        std::shared_ptr<const SaveFileLookups> lookups = systemSaveFileLookups(),
        std::shared_ptr<QuestionBoxes> questions = std::make_shared<StandardQuestionBoxes>())
        : lookups_(std::move(lookups)), questions_(std::move(questions)) {}

    std::optional<QString> ShowSave(QWidget* owner, const SaveDialogRequest& request) override;

private:
    std::shared_ptr<const SaveFileLookups> lookups_;
    std::shared_ptr<QuestionBoxes> questions_;
};
