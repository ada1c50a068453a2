#include "mainwindow/form1.h"

#include "platform/desktop/processstart.h"
#include "platform/desktop/windowrefresh.h"
#include "ui_form1.h"

#include <QCursor>
#include <QPointer>

namespace {

constexpr int kRightButton = 2;

// The program's web page, where mail to the author starts as well.
const QString kWebPage = QStringLiteral("https://kestrix.example.org/");

} // namespace

void Form1::showFileMenuAtPointer() {
    ui->file->exec(QCursor::pos());
}

// A right click on the window's surfaces brings up the File menu, except while a run is
// committed: the menu would start commands in the middle of it.

void Form1::Form_MouseDown(int Button, int, int, int) {
    if (!state_.RunActive() && Button == kRightButton)
        showFileMenuAtPointer();
}

void Form1::Frame1_MouseDown(int Button, int Shift, int X, int Y) {
    Form_MouseDown(Button, Shift, X, Y);
}

void Form1::Label1_MouseDown(int Button, int Shift, int X, int Y) {
    Form_MouseDown(Button, Shift, X, Y);
}

void Form1::Label2_MouseDown(int Button, int Shift, int X, int Y) {
    Form_MouseDown(Button, Shift, X, Y);
}

void Form1::SSPanel1_MouseDown(int Button, int Shift, int X, int Y) {
    Form_MouseDown(Button, Shift, X, Y);
}

void Form1::SSPanel2_MouseDown(int Button, int, int, int) {
    if (state_.RunActive())
        return;
    if (Button == kRightButton)
        showFileMenuAtPointer();
    else
        about_Click();
}

void Form1::Label2_MouseMove(int, int, int, int) {
    // The label is narrower than most paths; the tooltip shows all of it.
    ui->Label2->setToolTip(ui->Label2->text());
}

void Form1::contents_Click() {
    const QString contents = controls_.programFolder + QStringLiteral("/Contents.txt");
    if (isOrdinaryFile(contents))
        openInTextEditor(contents);
}

void Form1::email_Click() {
    web_Click();
}

void Form1::web_Click() {
    if (!openWebPage(kWebPage))
        showError(QStringLiteral("No web browser could be started for %1.").arg(kWebPage));
}

void Form1::about_Click() {
    // The start window if it is still there, or a new one.
    QPointer<Form2> about = LoadForm2();
    if (!about)
        return;
    about->showCentred(*this);
    ::Refresh(*about);
    if (!about)
        return; // the window was closed while the picture was being painted
    // Nothing else runs while the thunder plays: the window is up for just that long.
    controls_.sound->sndPlaySound(controls_.programFolder + QStringLiteral("/thunder.wav"));
    form2_.reset();
}
