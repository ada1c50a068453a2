#pragma once

#include "listing/listingrun.h"

#include <QFileDevice>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stop_token>

// One listing run on a thread of its own: the list file is opened, written and closed
// there, so the owner's thread never waits on the file system nor on the run, and a stop
// is one request, never a nested event loop.
//
// The order of calls: construct; start() once; stop() as often as liked, from the owner's
// thread. Reports reach the owner on the thread of `context`, by queued calls, in the
// order the run made them; `ended` comes last, exactly once for a started run (unless
// the job or `context` went first). Destroying the job cuts the reports, asks the run to
// stop as closing does, and waits for it a moment at the most: a run held by a call that
// does not come back finishes by itself, dropping what it holds on its own thread.
class ListingJob {
public:
    // How the run is asked to end early. An abort still ends the list with its hyphen
    // rule and total; closing writes nothing more after the lines already finished.
    enum class Stop { Abort, Close };

    struct End {
        ListOutcome outcome;
        // False when the stop came before the list file could be had: nothing written.
        bool fileHad = true;
    };

    struct Reports {
        // The folder being worked on, as its status line shows it; at most every
        // kReportIntervalMs, the last one always.
        std::function<void(const QString& folder)> folder;
        // The folder a scan is reading, with what it has counted so far.
        std::function<void(const QString& folder, quint64 folders, quint64 files)> progress;
        std::function<void(const End& end)> ended;
    };

    // What the list goes into, opened on the run's thread, which waits for it as long as
    // `stop` allows. `file` null with `failure` empty: the stop came first. A list file
    // counts as empty in the sizes and is closed by the run; anything else (standard
    // output) is only written.
    struct Opened {
        std::shared_ptr<QFileDevice> file;
        QString failure;
        bool isListFile = true;
    };
    using Open = std::function<Opened(std::stop_token stop)>;

    static constexpr int kReportIntervalMs = 16;

    ListingJob(QObject* context, Reports reports);
    ~ListingJob();
    ListingJob(const ListingJob&) = delete;
    ListingJob& operator=(const ListingJob&) = delete;

    // Starts the run: `open` first, then the list into what it opened. False when no
    // thread could be had; nothing was started then.
    bool start(std::shared_ptr<FileSystemInfo> fileSystem, const ListRequest& request, Open open);

    // Asks the run to end; a Close also turns an abort asked for before into a close.
    void stop(Stop how);

    // A stop the run also looks for itself, as an Abort, before each folder's line: for
    // one that comes as a flag any thread may read (a signal's), which must hold the list
    // where it is even while the owner's thread is slow to pass it on. Set before start().
    void alsoStopWhen(std::function<bool()> heard);

private:
    struct Shared;
    class Host;
    static void run(const std::shared_ptr<Shared>& shared,
                    std::shared_ptr<FileSystemInfo> fileSystem, const ListRequest& request,
                    Open open);

    std::shared_ptr<Shared> shared_;
};
