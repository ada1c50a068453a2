#include "mainwindow/form1.h"

#include "ui_form1.h"

#include <QCloseEvent>
#include <QScreen>

void Form1::Form_Load() {
    // Centred on the screen the first time it is shown.
    adjustSize();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - frameGeometry().center() + pos());
    show();
    ui->Text1->setEnabled(true);
    ui->Label1->setText(QStringLiteral("Header"));
}

void Form1::Form_Unload(bool& Cancel) {
    state_.RunActive = false;
    state_.AbortRequested = true;
    pumpEvents();
    // A run still on the stack loses its file here; what it wrote stays on disk.
    listFile_.close();
    Cancel = false;
}

void Form1::exit_Click() {
    close();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (unloaded_) {
        event->accept();
        return;
    }
    unloaded_ = true;
    bool Cancel = false;
    Form_Unload(Cancel);
    event->setAccepted(!Cancel);
}
