#include "mainwindow/form1.h"

#include "platform/desktop/processstart.h"
#include "ui_form1.h"

#include <QDir>

void Form1::Command6_Click() {
    ui->Command2->setFocus();
    if (state_.ViewFilePath.isEmpty() || !isOrdinaryFile(state_.ViewFilePath))
        return;
    openInTextEditor(state_.ViewFilePath);
}

void Form1::openInTextEditor(const QString& file) {
    if (!openInDesktopApplication(file))
        showError(QStringLiteral("No text editor could be started for %1.")
                      .arg(QDir::toNativeSeparators(file)));
}

void Form1::viewl_Click() {
    Command6_Click();
}

void Form1::nosubdir_Click() {
    ui->nosubdir->setChecked(!ui->nosubdir->isChecked());
}

void Form1::Form_KeyPress(int& KeyAscii) {
    constexpr int kEscape = 27;
    if (KeyAscii == kEscape)
        Command4_Click();
}
