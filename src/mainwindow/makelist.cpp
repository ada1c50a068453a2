#include "mainwindow/form1.h"

#include "listing/listfields.h"
#include "listing/listingrun.h"
#include "platform/desktop/threedpanel.h"
#include "platform/system/boundedcall.h"
#include "platform/system/listfile.h"
#include "posixscan/filesystem.h"
#include "ui_form1.h"

#include <QDir>
#include <QScopeGuard>

namespace {

const QString kMakeListCaption = QStringLiteral("&Make list");
const QString kAbortCaption = QStringLiteral("&Abort");
const QString kDone = QStringLiteral("- Done -");
const QString kNotWritten = QStringLiteral("- List not written -");
const QString kIncomplete = QStringLiteral("- List incomplete -");

} // namespace

// Make list, and Abort while a run is committed. The run happens here, on the window's
// thread, while the tree is read on threads of the engine's own; the walk lets events
// through while it waits and once per folder, so the other handlers (Abort among them)
// run nested inside this one.
void Form1::Command4_Click() {
    if (unloaded_)
        return;
    ++makeListDepth_;
    const auto leaving = qScopeGuard([this] { --makeListDepth_; });
    const bool anotherOnTheStack = makeListDepth_ > 1;

    // Without a chosen folder a run would have nothing sensible to list: ask for one first.
    if (!anotherOnTheStack && ui->Command4->text() != kAbortCaption &&
        state_.ListFolder.isEmpty()) {
        Command1_Click();
        if (state_.ListFolder.isEmpty() || unloaded_)
            return;
    }

    ui->SSPanel1->setAlignmentCode(ThreeDPanel::kLeftMiddle);
    ui->Command2->setFocus();
    pumpEventsNow();
    if (unloaded_)
        return;
    setCursor(Qt::WaitCursor);

    if (ui->Command4->text() == kAbortCaption) {
        // The run on the stack below sees this at its next check and finishes; it also
        // puts the pointer back.
        state_.RunActive = false;
        state_.AbortRequested = true;
        ui->Command4->setText(kMakeListCaption);
        return;
    }
    // A second Make list while one is still on the stack (two quick clicks, the second
    // handled while the aborted run unwinds) is dropped: one run at a time.
    if (anotherOnTheStack)
        return;

    Command2_Click();
    ui->Command2->setFocus();

    setRunCommitted(true);

    // With no list file chosen (the dialog cancelled, or the drive refused with a box of
    // its own) the run just finishes.
    RunEnd end{kDone, {}};
    if (!state_.ListFilePath.isEmpty() && !unloaded_)
        end = writeList();

    // The finishing steps. After the window was closed they only touch hidden widgets:
    // nothing here shows it again or holds the program open.
    listFile_.close();
    setRunCommitted(false);
    unsetCursor();
    ui->SSPanel1->setAlignmentCode(ThreeDPanel::kCentred);
    ui->SSPanel1->setCaption(end.statusText);
    if (!end.error.isEmpty() && !unloaded_)
        showError(end.error);
}

// The run's flags and the buttons that show them: Make list turns into Abort, and the
// folder and view buttons rest while the walk works.
void Form1::setRunCommitted(bool committed) {
    runCommitted_ = committed;
    state_.RunActive = committed;
    state_.AbortRequested = false;
    ui->Command1->setEnabled(!committed);
    ui->Command6->setEnabled(!committed);
    ui->Command4->setText(committed ? kAbortCaption : kMakeListCaption);
}

void Form1::mlist_Click() {
    Command4_Click();
}

Form1::RunEnd Form1::writeList() {
    const QString shownPath = listfields::shownName(QDir::toNativeSeparators(state_.ListFilePath));
    ListRequest request;
    request.folder = listFolderPath_;
    request.headerText = ui->Text1->text();
    request.mode = ui->nosubdir->isChecked() ? ListMode::NoSubs : ListMode::WithSubs;
    const std::shared_ptr<FileSystemInfo> fileSystem = createFileSystemInfo();
    sincePump_.invalidate(); // the chosen folder shows at once
    ListOutcome outcome;
    // Opened from another thread: a folder on a file server that has stopped answering
    // would hold this one, and the window with it, for good. One that is waking up is
    // waited for, with Abort at hand.
    std::optional<OpenedListFile> opened = aside::askWhile<OpenedListFile>(
        [this] { return pumpEvents(); },
        [path = QFile::encodeName(state_.ListFilePath)] { return openListFileAside(path); });
    if (unloaded_)
        return {kDone, {}};
    if (!opened && (!state_.RunActive || state_.AbortRequested))
        return {kNotWritten, {}}; // stopped before the file could be had: nothing written
    if (!opened)
        outcome = {ListOutcome::Status::CreateFailed,
                   QStringLiteral("The system could not start a thread to open it.")};
    else if (const QString why = takeOverListFile(listFile_, std::move(*opened)); !why.isEmpty())
        outcome = {ListOutcome::Status::CreateFailed, why};
    else
        outcome = ListingRun(fileSystem, *this).writeAndClose(listFile_, request);
    if (outcome.status == ListOutcome::Status::Written)
        state_.ListFilePath.clear(); // the next run asks for a file again
    if (unloaded_)
        return {kDone, {}}; // the file was closed under the run; nobody is left to tell

    switch (outcome.status) {
    case ListOutcome::Status::Written:
        break;
    case ListOutcome::Status::CreateFailed:
        return {kNotWritten, QStringLiteral("The list file %1 could not be created:\n%2")
                                 .arg(shownPath, outcome.errorString)};
    case ListOutcome::Status::WriteFailed:
        return {kIncomplete,
                QStringLiteral("Writing the list file %1 failed; the list is incomplete:\n%2")
                    .arg(shownPath, outcome.errorString)};
    case ListOutcome::Status::ResourcesRanOut:
        return {kIncomplete, QStringLiteral("The listing stopped: the system ran out of resources "
                                            "(%2). The list file %1 is incomplete.")
                                 .arg(shownPath, outcome.errorString)};
    }
    return {kDone, {}};
}

void Form1::showError(const QString& text) {
    controls_.messageBoxes->MsgBox(this, text, kStopIconOk, QStringLiteral("Kestrix error"));
    takeBackKeyboard();
}
