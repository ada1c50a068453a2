#include "mainwindow/form1.h"

#include "listing/listfields.h"
#include "platform/desktop/threedpanel.h"
#include "posixscan/filesystem.h"
#include "ui_form1.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kListFileName = QStringLiteral("Kestrix.txt");

// Below this many KiB free, the list file's drive is taken as one that cannot be
// written to.
constexpr quint64 kLeastFreeSpace = 1000;

} // namespace

// Paths are kept as the file system spells them, so that they reach the very folder and
// file the user chose; they are shown in lower case.

void Form1::Command1_Click() {
    if (unloaded_ || runCommitted_)
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
    listFolderPath_ = path;
    const QString folder = QFile::decodeName(path);
    state_.ListFolder = folder;
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
    if (unloaded_ || runCommitted_)
        return;
    ui->SSPanel1->setAlignmentCode(ThreeDPanel::kLeftMiddle);

    SaveDialogRequest request;
    request.title = QStringLiteral("Kestrix save");
    request.filter = QStringLiteral("*.txt (*.txt)");
    request.initialFolder = state_.ListFolder;
    request.fileName = kListFileName;
    request.promptBeforeReplacing = true;
    request.promptBeforeCreating = true;

    auto fail = [this] {
        state_.ListFilePath.clear();
        state_.ViewFilePath.clear();
    };
    // Cancel counts as a failure: it leaves no list file chosen.
    const std::optional<QString> chosen = controls_.CommonDialog1->ShowSave(this, request);
    takeBackKeyboard();
    if (!chosen)
        return fail();
    if (chosen->isEmpty())
        return;
    state_.ListFilePath = *chosen;
    state_.ViewFilePath = state_.ListFilePath;

    // When the free space cannot be had, creating the file decides, and says why if not.
    const std::optional<quint64> freeSpace =
        controls_.DiskInfo1->FreeSpace(QFileInfo(state_.ListFilePath).absolutePath());
    if (freeSpace && *freeSpace < kLeastFreeSpace) {
        fail();
        showError(QStringLiteral("Read-only drive, pick another"));
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
