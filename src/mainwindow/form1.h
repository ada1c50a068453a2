#pragma once

#include "listing/runhost.h"
#include "platform/desktop/outsidecontrols.h"
#include "platform/system/listfile.h"
#include "splash/form2.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <memory>

namespace Ui {
class Form1;
}

// The program's one working window. Each user action reaches one handler named after
// its control or menu item and the event; the handlers are grouped by concern in the
// files of this folder.
class Form1 final : public QMainWindow, private RunHost, private Form2::MainWindow {
    Q_OBJECT

public:
    // A listing run lets events through and repaints the status panel at most this often.
    static constexpr int kPumpIntervalMs = 16;

    explicit Form1(OutsideControls controls, QWidget* parent = nullptr);
    ~Form1() override;

    // The window's state between and during runs. A run is told of a stop only through
    // the event pump's answer, and gets the folder in its request.
    struct State {
        // The chosen folder, absolute, without a trailing separator unless a root, where
        // the save dialog starts (the run lists listFolderPath(), the folder's own bytes).
        QString ListFolder;
        QString ListFilePath; // the list file the next run writes; empty: none chosen
        QString ViewFilePath; // the list file View list opens
        // A committed run: RunActive set, AbortRequested clear; Abort and closing turn both.
        bool RunActive = false;
        bool AbortRequested = false;
    };
    const State& state() const { return state_; }
    // The chosen folder as the system names it, which the run lists.
    const NativePath& listFolderPath() const { return listFolderPath_; }
    // True once the window has been closed; a run still on the stack winds down quietly.
    bool unloaded() const { return unloaded_; }

    // Creates the start window if it is absent, which runs its load step and through it
    // this window's. Null when this window refused to start or has gone.
    Form2* LoadForm2();

public slots:
    // Start-up and shut-down
    void Form_Load();
    void Form_Unload(bool& Cancel);
    void exit_Click();

    // The choice of folder and list file
    void Command1_Click();
    void Command2_Click();
    void BrowseDialog1_SelectionChanged(const QString& path, const QString& DisplayName);
    void browse_Click();

    // The listing run
    void Command4_Click();

    // Commands, options and keys
    void mlist_Click();
    void Command6_Click();
    void viewl_Click();
    void nosubdir_Click();
    void Form_KeyPress(int& KeyAscii);

    // Right-click menu and help
    void Form_MouseDown(int Button, int Shift, int X, int Y);
    void Frame1_MouseDown(int Button, int Shift, int X, int Y);
    void Label1_MouseDown(int Button, int Shift, int X, int Y);
    void Label2_MouseDown(int Button, int Shift, int X, int Y);
    void Label2_MouseMove(int Button, int Shift, int X, int Y);
    void SSPanel1_MouseDown(int Button, int Shift, int X, int Y);
    void SSPanel2_MouseDown(int Button, int Shift, int X, int Y);
    void contents_Click();
    void email_Click();
    void web_Click();
    void about_Click();

    // Another copy of the program asked this one to come forward.
    void instances_ComeForward();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the listing engine sees of the window.
    void setStatusText(const QString& text) override;
    bool pumpEvents() override;
    // Every pending event, handled to completion.
    void pumpEventsNow();

    // What the start window sees of this one.
    bool Load() override;
    void Show() override;
    void Refresh() override;

    void setUpLook();
    void wireEvents();
    bool dispatchMouseEvent(QObject* watched, QEvent* event);
    bool isPreviewedKey(QObject* watched, QEvent* event) const;
    bool isMenuShortcut(QEvent* event) const;
    void showFileMenuAtPointer();

    struct RunEnd {
        QString statusText; // what the status panel says at the end
        QString error;      // for a message box; empty when all went well
    };
    // The list file from its first line to its total line.
    RunEnd writeList();
    void showError(const QString& text);
    void takeBackKeyboard();
    // Says so in a box when no editor can be started.
    void openInTextEditor(const QString& file);
    void setRunCommitted(bool committed);

    std::unique_ptr<Ui::Form1> ui;
    OutsideControls controls_;
    State state_;
    NativePath listFolderPath_;
    ListFile listFile_;
    QString statusText_;
    QElapsedTimer sincePump_;
    bool loaded_ = false;
    bool unloaded_ = false;
    std::unique_ptr<Form2> form2_;
    // From the commit of a run to its finishing steps. The folder and list file commands
    // wait until then: their dialogs would hold up the walk, and their choices could not
    // change what this run writes anyway.
    bool runCommitted_ = false;
    // Make list commands on the stack: a run lets events through, and a Make list that
    // arrives then may only ever abort, never start a second run inside the first.
    int makeListDepth_ = 0;
};

// Starts the program through its start window and runs it until its last window has
// gone. Returns the exit code.
int runKestrix(OutsideControls controls);
