#pragma once

#include "listing/listingjob.h"
#include "platform/desktop/outsidecontrols.h"
#include "splash/form2.h"

#include <QMainWindow>

#include <functional>
#include <memory>

namespace Ui {
class Form1;
}

// The program's one working window. Each user action reaches one handler named after
// its control or menu item and the event; the handlers are grouped by concern in the
// files of this folder.
class Form1 final : public QMainWindow, private Form2::MainWindow {
    Q_OBJECT

public:
    explicit Form1(OutsideControls controls, QWidget* parent = nullptr);
    ~Form1() override;

    // Where Make list is: idle; asking for the list file; running, committed to a list
    // (Make list reads Abort); stopping, the stop asked for and the run not over yet.
    enum class RunState { Idle, Choosing, Running, Stopping };

    // The window's state between and during runs. A run gets the folder in its request
    // and is told of a stop through its job.
    struct State {
        // The chosen folder as the system names it, absolute, without a trailing separator
        // unless a root: what the run lists, and where the save dialog starts.
        NativePath ListFolder;
        QString ListFilePath; // the list file the next run writes; empty: none chosen
        QString ViewFilePath; // the list file View list opens
        RunState run = RunState::Idle;
        bool RunActive() const { return run == RunState::Running; }
        bool AbortRequested() const { return run == RunState::Stopping; }
    };
    const State& state() const { return state_; }
    // Where runs read trees from: the system's file system unless this says otherwise
    // (tests hold a run at work with it).
    void setFileSystemSource(std::function<std::shared_ptr<FileSystemInfo>()> source) {
        fileSystemSource_ = std::move(source);
    }
    // True once the window has been closed; a run still at work winds down quietly.
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
    // Starts the run that writes the list file from its first line to its total line.
    void startRun();
    // What the status panel and a box say of how the run ended.
    RunEnd endOf(const ListingJob::End& end) const;
    // The finishing steps, once the run is over (or never began).
    void finishRun(const RunEnd& end);
    void showError(const QString& text);
    void takeBackKeyboard();
    // Says so in a box when no editor can be started.
    void openInTextEditor(const QString& file);
    void setRunCommitted(bool committed);
    // From the commit of a run to its finishing steps. The folder and list file commands
    // wait until then: their choices could not change what this run writes anyway.
    bool runCommitted() const {
        return state_.run == RunState::Running || state_.run == RunState::Stopping;
    }

    std::unique_ptr<Ui::Form1> ui;
    OutsideControls controls_;
    State state_;
    bool loaded_ = false;
    bool unloaded_ = false;
    std::unique_ptr<Form2> form2_;
    std::function<std::shared_ptr<FileSystemInfo>()> fileSystemSource_;
    // The last run; it reports to this window, which outlives it.
    std::unique_ptr<ListingJob> job_;
};

// Starts the program through its start window and runs it until its last window has
// gone. Returns the exit code.
int runKestrix(OutsideControls controls);
