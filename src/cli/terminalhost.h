#pragma once

#include "listing/filesysteminfo.h"

#include <QElapsedTimer>
#include <QSet>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// The command line's side of a run: the folder being worked on on one line of the
// terminal (only when standard error is one), Ctrl+C or a termination request taken as
// Abort, and the folders that could not be read named on standard error. Called on the
// program's thread, but for unreadableReport() and beforeListOutput().
class TerminalHost final {
public:
    // Where the list goes: a file, the terminal itself, or a pipe that may end on it.
    enum class ListTarget { File, Terminal, Pipe };
    TerminalHost(const FileSystemInfo& fileSystem, ListTarget target);
    // Stops the reports first (see stopReports).
    ~TerminalHost();

    void setStatusText(const QString& text);
    // Prints what the scan left to be told; false from the first Ctrl+C or termination
    // request on. Asked every few milliseconds while the run works.
    bool poll();
    void showScanProgress(const QString& folder, quint64 folders, quint64 files);

    // What the scan calls for a folder that could not be read, from any thread, also
    // after this host has gone: it holds the host only through a shared link that
    // stopReports cuts.
    std::function<void(const NativePath& folder, int error)> unreadableReport();
    // From now on reports are dropped. Waits for a report being made to finish; called
    // on the run's thread once the run is over or stopped.
    void stopReports();
    // Folders named (or counted) so far.
    int unreadableCount() const;
    // Names what is still untold, then how many were left unnamed; called once the list
    // is written.
    void reportUnnamed();

    // Called before list lines go out through a pipe, on the run's thread: the line is
    // wiped and stays so, since the lines may reach the same terminal at any moment from
    // then on.
    void beforeListOutput();

    // Also when the signal came after the last look: none is lost.
    bool interrupted() const;
    // Wipes the status line.
    void clear();

private:
    struct ReportLink;
    // Names a folder that could not be read, once, with the system's reason; past the
    // first hundred they are only counted. The scanning thread only leaves the line for
    // the run's thread to print: it writes nothing itself, so that one held in a call
    // that never returns keeps no hold on standard error.
    void reportUnreadable(const NativePath& folder, int error);
    void printReports();
    // `tail`, when given, is kept whole at the end of the line.
    void showLine(const QString& text, const QString& tail = QString());
    void clearLocked();

    const FileSystemInfo& fileSystem_;
    const std::shared_ptr<ReportLink> reportLink_;
    const bool throughPipe_;
    std::atomic<bool> showStatus_;
    bool lineShown_ = false;
    bool interrupted_ = false;
    QElapsedTimer sinceShown_;
    mutable std::mutex mutex_;
    QSet<NativePath> unreadable_;
    QByteArray reports_; // lines not printed yet
};
