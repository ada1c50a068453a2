#include "cli/clirun.h"

#include "listing/listfields.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

void printError(const QString& message) {
    std::fprintf(stderr, "kestrix-list: %s\n",
                 listfields::shownName(message).toLocal8Bit().constData());
}

ScanOptions scanOptionsOf(const CliOptions& options, TerminalHost& host) {
    ScanOptions scanOptions;
    scanOptions.oneFileSystem = options.oneFileSystem;
    scanOptions.excludePatterns.assign(options.excludePatterns.begin(),
                                       options.excludePatterns.end());
    scanOptions.unreadable = host.unreadableReport();
    scanOptions.diskUsage = options.diskUsage;
    scanOptions.linksOnce = options.linksOnce;
    scanOptions.order = options.order;
    return scanOptions;
}

ListOutcome runJob(TerminalHost& host, const std::shared_ptr<FileSystemInfo>& fileSystem,
                   const ListRequest& request, ListingJob::Opened output) {
    if (output.file == nullptr)
        return {ListOutcome::Status::CreateFailed, output.failure};
    QEventLoop loop;
    ListOutcome outcome;
    ListingJob::Reports reports;
    reports.folder = [&host](const QString& folder) { host.setStatusText(folder); };
    reports.progress = [&host](const QString& folder, quint64 folders, quint64 files) {
        host.showScanProgress(folder, folders, files);
    };
    reports.ended = [&](const ListingJob::End& end) {
        outcome = end.outcome;
        loop.quit();
    };
    ListingJob job(&loop, std::move(reports));
    // Heard by the run itself too: a list held up by a pipe that is not read must not
    // run on once the pipe is read again, before this thread has passed the request on.
    job.alsoStopWhen(interruptRequested);
    QTimer poll;
    poll.setInterval(ListingJob::kReportIntervalMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&host, &job] {
        if (!host.poll())
            job.stop(ListingJob::Stop::Abort);
    });
    poll.start();
    if (!job.start(fileSystem, request,
                   [output = std::move(output)](std::stop_token) { return output; }))
        return {ListOutcome::Status::CreateFailed,
                QStringLiteral("the system could not start a thread to write it")};
    loop.exec();
    host.poll();
    return outcome;
}
