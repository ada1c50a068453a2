#include "mainwindow/form1.h"

#include "listing/listfields.h"
#include "platform/desktop/threedpanel.h"
#include "platform/system/boundedcall.h"
#include "posixscan/filesystem.h"
#include "ui_form1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>

namespace {

const QString kListFileName = QStringLiteral("Kestrix.txt");

// Below this many KiB free, the list file's drive is taken as one that cannot be
// written to.
constexpr quint64 kLeastFreeSpace = 1000;

// Where the save dialog starts: the dialog is told its folder by text, so a folder whose
// name does not come back from text the same would be another, or none. The nearest
// parent that does; the home folder when there is no folder yet. Nothing is looked up
// here: the dialog opens at once and tells itself when the folder does not answer.
QString saveDialogFolder(NativePath folder) {
    while (!folder.isEmpty() && QFile::encodeName(QFile::decodeName(folder)) != folder) {
        const qsizetype cut = folder.lastIndexOf('/');
        folder.truncate(cut > 0 ? cut : cut == 0 ? 1 : 0);
    }
    return folder.isEmpty() ? QDir::homePath() : QFile::decodeName(folder);
}

// The list file is being chosen: the wait for its drive's free space lets events through,
// and a second choice must not start inside the first.
bool choosingListFile = false;

} // namespace

// Paths are kept as the file system spells them, so that they reach the very folder and
// file the user chose; they are shown in lower case.

void Form1::Command1_Click() {
    if (unloaded_ || runCommitted())
        return;
    ui->SSPanel1->setAlignmentCode(ThreeDPanel::kLeftMiddle);
    ui->Command2->setFocus();
    const bool confirmed = controls_.BrowseDialog1->Show(this);
    takeBackKeyboard();
    if (!confirmed)
        return;
    const NativePath path = absoluteFolderPath(controls_.BrowseDialog1->SelectedFolder());
    if (path.isEmpty())
        return;
    // The run gets the folder's own bytes: a name that does not decode is shown with
    // U+FFFD, and would name another folder, or none, if encoded back.
    state_.ListFolder = path;
    const QString folder = QFile::decodeName(path);
    const QString shown = listfields::shownName(folder).toLower();
    ui->Label2->setText(shown);
    ui->Command4->setEnabled(true);
    ui->SSPanel1->setCaption(shown);
    state_.ListFilePath = QDir(folder).filePath(kListFileName);
}

void Form1::BrowseDialog1_SelectionChanged(const QString& path, const QString& DisplayName) {
    Q_UNUSED(DisplayName);
    controls_.BrowseDialog1->setPrompt2(
        listfields::shownName(QDir::toNativeSeparators(path)).toLower());
}

void Form1::browse_Click() {
    Command1_Click();
}

void Form1::Command2_Click() {
    if (unloaded_ || runCommitted() || choosingListFile)
        return;
    choosingListFile = true;
    const auto leaving = qScopeGuard([] { choosingListFile = false; });
    ui->SSPanel1->setAlignmentCode(ThreeDPanel::kLeftMiddle);

    SaveDialogRequest request;
    request.title = QStringLiteral("Kestrix save");
    request.filter = QStringLiteral("*.txt (*.txt)");
    request.fileName = kListFileName;
    if (!state_.ListFolder.isEmpty())
        request.initialFolder = saveDialogFolder(state_.ListFolder);
    request.promptBeforeReplacing = true;
    request.promptBeforeCreating = true;

    auto fail = [this] {
        state_.ListFilePath.clear();
        state_.ViewFilePath.clear();
    };
    // A folder that does not answer is said so, and the user chooses again.
    while (!unloaded_) {
        // Cancel counts as a failure: it leaves no list file chosen.
        const std::optional<QString> chosen = controls_.CommonDialog1->ShowSave(this, request);
        takeBackKeyboard();
        if (!chosen)
            return fail();
        if (chosen->isEmpty())
            return;
        state_.ListFilePath = *chosen;
        state_.ViewFilePath = state_.ListFilePath;

        // When the free space cannot be had, creating the file decides, and says why if
        // not. The window goes on while the drive is asked, up to the limit.
        const QString folder = QFileInfo(state_.ListFilePath).absolutePath();
        const std::shared_ptr<DiskInfo> disk = controls_.DiskInfo1;
        QElapsedTimer waited;
        waited.start();
        const std::optional<std::optional<quint64>> freeSpace =
            aside::askWhile<std::optional<quint64>>(
                [this, &waited] {
                    pumpEventsNow();
                    return !unloaded_ && !waited.hasExpired(kFileSystemAnswerLimit.count());
                },
                [disk, folder] { return disk->FreeSpace(folder); });
        if (unloaded_)
            return; // closed meanwhile: nobody is left to tell
        if (!freeSpace) {
            fail();
            showError(QStringLiteral("%1 does not answer.")
                          .arg(listfields::shownName(QDir::toNativeSeparators(folder))));
            continue;
        }
        if (*freeSpace && **freeSpace < kLeastFreeSpace) {
            fail();
            showError(QStringLiteral("Read-only drive, pick another"));
        }
        return;
    }
}

// A window manager may leave no window active when a dialog closes, above all one that
// asked a question of its own first: the keyboard would be lost until the user clicks.
// Back from any dialog, this window takes it again, with the focus at its resting place.
void Form1::takeBackKeyboard() {
    if (unloaded_ || !isVisible())
        return;
    activateWindow();
    ui->Command2->setFocus();
}
