#pragma once

#include "listing/runhost.h"

#include <QElapsedTimer>

struct RunState;

// The command line's side of a run: the folder being worked on on one line of the
// terminal (only when standard error is one), and Ctrl+C or a termination request
// taken as Abort.
class TerminalHost final : public RunHost {
public:
    // `listOnTerminal`: the list itself goes to a terminal (standard output).
    TerminalHost(RunState& state, bool listOnTerminal);
    ~TerminalHost() override;

    void setStatusText(const QString& text) override;
    void pumpEvents() override;
    void showScanProgress(const QString& folder, quint64 folders, quint64 files) override;

    bool interrupted() const { return interrupted_; }
    // Wipes the status line.
    void clear();

private:
    // `tail`, when given, is kept whole at the end of the line.
    void showLine(const QString& text, const QString& tail = QString());

    RunState& state_;
    bool showStatus_;
    int columns_;
    bool lineShown_ = false;
    bool interrupted_ = false;
    QElapsedTimer sinceShown_;
};
