#pragma once

#include "platform/desktop/dialogs.h"
#include "platform/desktop/elidedline.h"
#include "platform/desktop/savefilelookups.h"

#include <QByteArray>
#include <QPointer>

// The folder picker: a tree of the folders on this computer under a fixed prompt and a
// second prompt line. It starts in the user's home folder and then where it was last
// confirmed. Folders are read by their names as the system gives them, so that every
// folder can be chosen, whatever bytes its name is made of; names that do not decode
// show U+FFFD, and control characters "?". Folders are read beside the picker and come
// into the tree when they answer: one that never does holds up neither it nor the window.
// They are read through the same look-ups as the save dialog's.
class BrowseDialog final : public FolderPicker {
    Q_OBJECT
public:
    explicit BrowseDialog(const QString& prompt1, QObject* parent = nullptr,
                          std::shared_ptr<const SaveFileLookups> lookups = systemSaveFileLookups());

    bool Show(QWidget* owner) override;
    QByteArray SelectedFolder() const override { return selectedFolder_; }
    void setPrompt2(const QString& text) override;

private:
    class Reader;

    std::shared_ptr<const SaveFileLookups> lookups_;
    QString prompt1_;
    QString prompt2_;
    QByteArray selectedFolder_;
    QPointer<ElidedLine> prompt2Label_;
};
