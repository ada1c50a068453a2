#include "mainwindow/form1.h"

#include "platform/desktop/instancelink.h"
#include "platform/desktop/windowrefresh.h"
#include "ui_form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>

namespace {

const QString kDuplicateTitle = QStringLiteral("... duplicate instance.");

} // namespace

int runKestrix(OutsideControls controls) {
    Form1 window(std::move(controls));
    if (!window.LoadForm2())
        return 0; // refused to start: no window was ever shown
    return QApplication::exec();
}

Form2* Form1::LoadForm2() {
    if (form2_ || unloaded_)
        return form2_.get();
    // Held apart until its load step is over: this window may close inside it.
    auto fresh = std::make_unique<Form2>(static_cast<Form2::MainWindow&>(*this));
    if (!fresh->Form_Load() || unloaded_)
        return nullptr;
    form2_ = std::move(fresh);
    return form2_.get();
}

bool Form1::Load() {
    if (!loaded_)
        Form_Load();
    return !unloaded_;
}

void Form1::Show() {
    show();
}

void Form1::Refresh() {
    ::Refresh(*this);
}

void Form1::Form_Load() {
    loaded_ = true;
    // The program folder is never the root of the file system: it is refused, as an
    // installation gone wrong.
    if (controls_.programFolder.endsWith(QLatin1Char('/'))) {
        controls_.messageBoxes->MsgBox(
            nullptr,
            QStringLiteral("Kestrix can not be run from\na root directory, please reinstall."),
            kStopIconOk, QStringLiteral("Kestrix error"));
        close();
        return;
    }
    if (controls_.instances->PrevInstance()) {
        const QString runningTitle = applicationTitle();
        const QString ownTitle = windowTitle();
        // Neither title may still match when the running copy is looked for.
        setApplicationTitle(kDuplicateTitle);
        setWindowTitle(kDuplicateTitle);
        if (controls_.instances->AppActivate(runningTitle)) {
            close();
            return;
        }
        // Nobody took the request: better a second window than none.
        setApplicationTitle(runningTitle);
        setWindowTitle(ownTitle);
    }
    // Centred on the screen the first time it is shown.
    adjustSize();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - frameGeometry().center() + pos());
    show();
    ui->Text1->setEnabled(true);
    ui->Label1->setText(QStringLiteral("Header"));
}

void Form1::instances_ComeForward() {
    if (unloaded_ || !isVisible())
        return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void Form1::Form_Unload(bool& Cancel) {
    // A run at work ends its list with the lines it finished and closes the file itself;
    // what it wrote stays on disk.
    if (state_.run == RunState::Running || state_.run == RunState::Stopping) {
        state_.run = RunState::Stopping;
        job_->stop(ListingJob::Stop::Close);
    }
    // No hidden window may keep the program running.
    form2_.reset();
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
