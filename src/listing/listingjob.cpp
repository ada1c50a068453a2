#include "listing/listingjob.h"

#include "listing/asidecall.h"
#include "listing/runhost.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <atomic>
#include <chrono>

struct ListingJob::Shared : aside::Meeting {
    explicit Shared(QObject* receiver, Reports given)
        : context(receiver), reports(std::move(given)) {}

    // Runs `report` on the context's thread, unless the job or its context went first.
    template <typename Report> void post(Report report) {
        const std::lock_guard lock(postMutex);
        if (!context)
            return;
        QMetaObject::invokeMethod(
            context,
            [report = std::move(report), self = weak.lock()] {
                // Posted before the job went, run after: dropped.
                if (self && !self->cut.load())
                    report(self->reports);
            },
            Qt::QueuedConnection);
    }

    std::stop_source stop;
    std::atomic<bool> closing = false;
    std::atomic<bool> cut = false; // the job has gone: no report is made any more
    std::weak_ptr<Shared> weak;
    std::mutex postMutex; // guards context
    QObject* context;
    const Reports reports;       // called on the context's thread only
    std::function<bool()> heard; // set before the run starts, read by it only
    bool done = true;            // no run at work; guarded by the meeting's mutex
};

// The run's side of the reports: what the walk shows, passed on at most once a report
// interval.
class ListingJob::Host final : public RunHost {
public:
    explicit Host(Shared& shared) : shared_(shared) {}

    void setStatusText(const QString& text) override {
        // The walk shows each folder before it writes its line, and looks for a stop
        // right after: a stop heard here holds that line back.
        if (shared_.heard && shared_.heard())
            shared_.stop.request_stop();
        pending_ = text;
        unsent_ = true;
        if (!sinceSent_.isValid() || sinceSent_.elapsed() >= kReportIntervalMs)
            sendStatus();
    }
    void showScanProgress(const QString& folder, quint64 folders, quint64 files) override {
        pending_ = folder;
        unsent_ = false;
        sinceSent_.start();
        shared_.post([folder, folders, files](const Reports& reports) {
            if (reports.progress)
                reports.progress(folder, folders, files);
        });
    }
    bool closing() const override { return shared_.closing.load(); }

    // The last folder shown, when it has not gone out yet.
    void sendStatus() {
        if (!unsent_)
            return;
        unsent_ = false;
        sinceSent_.start();
        shared_.post([text = pending_](const Reports& reports) {
            if (reports.folder)
                reports.folder(text);
        });
    }

private:
    Shared& shared_;
    QString pending_;
    bool unsent_ = false;
    QElapsedTimer sinceSent_;
};

ListingJob::ListingJob(QObject* context, Reports reports)
    : shared_(std::make_shared<Shared>(context, std::move(reports))) {
    shared_->weak = shared_;
}

ListingJob::~ListingJob() {
    {
        const std::lock_guard lock(shared_->postMutex);
        shared_->context = nullptr;
        shared_->cut = true;
    }
    stop(Stop::Close);
    // What was written is closed on the run's thread; a moment is enough unless a call
    // to the file system never comes back.
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait_for(lock, std::chrono::seconds(1), [this] { return shared_->done; });
}

bool ListingJob::start(std::shared_ptr<FileSystemInfo> fileSystem, const ListRequest& request,
                       Open open) {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->done = false;
    }
    const bool started = aside::runDetached([shared = shared_, fileSystem = std::move(fileSystem),
                                             request, open = std::move(open)]() mutable {
        run(shared, std::move(fileSystem), request, std::move(open));
    });
    if (!started) {
        const std::lock_guard lock(shared_->mutex);
        shared_->done = true;
    }
    return started;
}

void ListingJob::alsoStopWhen(std::function<bool()> heard) {
    shared_->heard = std::move(heard);
}

void ListingJob::stop(Stop how) {
    if (how == Stop::Close)
        shared_->closing = true;
    shared_->stop.request_stop();
}

void ListingJob::run(const std::shared_ptr<Shared>& shared,
                     std::shared_ptr<FileSystemInfo> fileSystem, const ListRequest& request,
                     Open open) {
    End end;
    {
        Opened opened = open(shared->stop.get_token());
        open = nullptr; // whatever else it held goes with the file, below
        if (!opened.file) {
            end.fileHad = !opened.failure.isEmpty();
            if (end.fileHad)
                end.outcome = {ListOutcome::Status::CreateFailed, opened.failure};
        } else {
            Host host(*shared);
            ListingRun run(fileSystem, host, shared->stop.get_token());
            end.outcome = opened.isListFile ? run.writeAndClose(*opened.file, request)
                                            : run.write(*opened.file, request);
            host.sendStatus();
        }
        fileSystem.reset();
    } // the file goes here, on this thread, whatever holds up its closing
    shared->post([end](const Reports& reports) {
        if (reports.ended)
            reports.ended(end);
    });
    const std::lock_guard lock(shared->mutex);
    shared->done = true;
    shared->changed.notify_all();
}
