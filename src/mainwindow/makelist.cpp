#include "mainwindow/form1.h"

#include "listing/asidecall.h"
#include "listing/listfields.h"
#include "listing/listingrun.h"
#include "platform/desktop/threedpanel.h"
#include "platform/system/listfile.h"
#include "posixscan/filesystem.h"
#include "ui_form1.h"

#include <QDir>

namespace {

const QString kMakeListCaption = QStringLiteral("&Make list");
const QString kAbortCaption = QStringLiteral("&Abort");
const QString kDone = QStringLiteral("- Done -");
const QString kNotWritten = QStringLiteral("- List not written -");
const QString kIncomplete = QStringLiteral("- List incomplete -");

} // namespace

// Make list, and Abort while a run is at work. The list is written by a job on a thread
// of its own, which reports back here; this handler only starts or stops it.
void Form1::Command4_Click() {
    if (unloaded_)
        return;
    // Without a chosen folder a run would have nothing sensible to list: ask for one first.
    if (state_.run == RunState::Idle && state_.ListFolder.isEmpty()) {
        Command1_Click();
        if (state_.ListFolder.isEmpty() || unloaded_)
            return;
    }

    ui->SSPanel1->setAlignmentCode(ThreeDPanel::kLeftMiddle);
    ui->Command2->setFocus();
    if (state_.run == RunState::Running) {
        // The job finishes the list at its next folder and reports the end, which puts
        // the pointer back.
        setCursor(Qt::WaitCursor);
        state_.run = RunState::Stopping;
        job_->stop(ListingJob::Stop::Abort);
        ui->Command4->setText(kMakeListCaption);
        return;
    }
    // One run at a time: a Make list while the list file is asked for, or while a
    // stopped run finishes, is dropped.
    if (state_.run != RunState::Idle) {
        setCursor(Qt::WaitCursor);
        return;
    }
    state_.run = RunState::Choosing;
    pumpEventsNow();
    if (unloaded_)
        return;
    setCursor(Qt::WaitCursor);

    Command2_Click();
    ui->Command2->setFocus();
    if (unloaded_)
        return;
    // With no list file chosen (the dialog cancelled, or the drive refused with a box of
    // its own) the run just finishes.
    if (state_.ListFilePath.isEmpty())
        return finishRun({kDone, {}});
    startRun();
}

// The run's state and the buttons that show it: Make list turns into Abort, and the
// folder and view buttons rest while the walk works.
void Form1::setRunCommitted(bool committed) {
    state_.run = committed ? RunState::Running : RunState::Idle;
    ui->Command1->setEnabled(!committed);
    ui->Command6->setEnabled(!committed);
    ui->Command4->setText(committed ? kAbortCaption : kMakeListCaption);
}

void Form1::mlist_Click() {
    Command4_Click();
}

void Form1::startRun() {
    setRunCommitted(true);
    ListRequest request;
    request.folder = state_.ListFolder;
    request.headerText = ui->Text1->text();
    request.mode = ui->nosubdir->isChecked() ? ListMode::NoSubs : ListMode::WithSubs;
    // The folder shown and the end come back on this thread; a scan's progress shows as
    // the folder it is at.
    ListingJob::Reports reports;
    reports.folder = [this](const QString& folder) { ui->SSPanel1->setCaption(folder); };
    reports.progress = [this](const QString& folder, quint64, quint64) {
        ui->SSPanel1->setCaption(folder);
    };
    reports.ended = [this](const ListingJob::End& end) {
        if (end.fileHad && end.outcome.status == ListOutcome::Status::Written)
            state_.ListFilePath.clear(); // the next run asks for a file again
        finishRun(endOf(end));
    };
    // Opened on the run's thread, from one more thread of its own: a folder on a file
    // server that has stopped answering would hold the run for good. One that is waking
    // up is waited for, with Abort at hand.
    auto open = [path = QFile::encodeName(state_.ListFilePath)](std::stop_token stop) {
        std::optional<OpenedListFile> opened = aside::askWhile<OpenedListFile>(
            [&stop] { return !stop.stop_requested(); }, [path] { return openListFileAside(path); });
        ListingJob::Opened result;
        if (!opened) {
            // Stopped before the file could be had: nothing is written.
            if (!stop.stop_requested())
                result.failure = QStringLiteral("The system could not start a thread to open it.");
            return result;
        }
        auto file = std::make_shared<ListFile>();
        result.failure = takeOverListFile(*file, std::move(*opened));
        if (result.failure.isEmpty())
            result.file = std::move(file);
        return result;
    };
    job_ = std::make_unique<ListingJob>(this, std::move(reports));
    if (!job_->start(fileSystemSource_ ? fileSystemSource_() : createFileSystemInfo(), request,
                     std::move(open)))
        finishRun(endOf({{ListOutcome::Status::CreateFailed,
                          QStringLiteral("The system could not start a thread to open it.")},
                         true}));
}

Form1::RunEnd Form1::endOf(const ListingJob::End& end) const {
    if (!end.fileHad)
        return {kNotWritten, {}};
    const ListOutcome& outcome = end.outcome;
    const QString shownPath = listfields::shownName(QDir::toNativeSeparators(state_.ListFilePath));
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

// After the window was closed they only touch hidden widgets: nothing here shows it again
// or holds the program open.
void Form1::finishRun(const RunEnd& end) {
    setRunCommitted(false);
    unsetCursor();
    ui->SSPanel1->setAlignmentCode(ThreeDPanel::kCentred);
    ui->SSPanel1->setCaption(end.statusText);
    if (!end.error.isEmpty() && !unloaded_)
        showError(end.error);
}

void Form1::showError(const QString& text) {
    controls_.messageBoxes->MsgBox(this, text, kStopIconOk, QStringLiteral("Kestrix error"));
    takeBackKeyboard();
}
