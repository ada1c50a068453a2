#pragma once

#include "platform/desktop/dialogs.h"
#include "platform/desktop/savefilelookups.h"
#include "platform/desktop/shownlisting.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

namespace Ui {
class SaveFileDialog;
}
namespace boundedcall {
class Mailbox;
}
class ListFiller;
class QListWidgetItem;
class QStringListModel;

// The save dialog. Every question it has for the file system (the entries of a folder,
// what a typed path names) goes to a thread of its own through SaveFileLookups, and the
// dialog goes on meanwhile: it shows "Reading…" while a folder is read, and says that the
// folder does not answer when no answer came within the window's limit. On Save the typed
// path is looked up the same way: a folder is entered; an existing file is replaced and a
// missing one created after a question (as the request asks); no answer is said in the
// dialog, which stays open. Cancel works at any time, and nothing waits for a look-up
// still out when the dialog goes. Folders are kept by the system's own bytes, so every
// folder can be entered; a file is only given back by a path that text can name.
// A new folder is named in a line of the dialog itself and made on a look-up thread too.
// The list fills a batch at a time, and the dialog never grows past its screen.
class SaveFileDialog final : public QDialog {
    Q_OBJECT
public:
    // The replace and create questions go to `questions`.
    SaveFileDialog(QWidget* owner, const SaveDialogRequest& request,
                   std::shared_ptr<const SaveFileLookups> lookups,
                   std::shared_ptr<QuestionBoxes> questions);
    ~SaveFileDialog() override;

    // After Save: the full path of the file chosen.
    std::optional<QString> chosenPath() const { return chosen_; }
    // The folder shown, as the system names it.
    const NativePath& folder() const { return folder_; }

    // Save: looks the typed path up, and acts on the answer when it comes.
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void enterFolder(const NativePath& folder);
    void goUp();
    void showListing(const ShownListing& listing);
    void listFilled();
    void toggleHidden();
    void startNewFolder();
    void makeNewFolder();
    void endNewFolder();
    void takeAnswer(const NativePath& path, const SaveFileLookups::Facts& facts);
    void activate(QListWidgetItem* item);
    bool ask(const QString& question, bool yesFirst);
    void say(const QString& text);
    void setFolderStatus(const QString& text);
    QString shown(const NativePath& path) const;

    std::unique_ptr<Ui::SaveFileDialog> ui;
    std::shared_ptr<const SaveFileLookups> lookups_;
    std::shared_ptr<QuestionBoxes> questions_;
    std::shared_ptr<boundedcall::Mailbox> mailbox_;
    SaveDialogRequest request_;
    QStringList patterns_; // the filter's
    ListFiller* filler_;
    QStringListModel* names_;                     // what the file name box completes from
    std::shared_ptr<const ShownListing> listing_; // the folder shown, once read
    bool showHidden_ = false;
    NativePath folder_;
    // Each answer carries the number of its question; only the latest one's counts.
    quint64 reading_ = 0;
    bool read_ = false;
    QString folderStatus_; // what the status line says of the folder shown
    QString message_;      // what it says of the last Save, until the folder changes
    QTimer readLimit_;
    quint64 lookingUp_ = 0;
    NativePath lookedUp_; // the path of the look-up out, empty when none is
    QTimer lookUpLimit_;
    quint64 making_ = 0;
    NativePath made_; // the new folder being made, empty when none is
    QTimer makeLimit_;
    NativePath selectWhenFilled_; // the new folder, picked in the list once it is in
    // The name a pick in the list put in the file name box, by its own bytes.
    QString pickedText_;
    NativePath pickedName_;
    std::optional<QString> chosen_;
};
