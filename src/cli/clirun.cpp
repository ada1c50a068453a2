#include "cli/clirun.h"

#include "listing/listfields.h"
#include "posixscan/filesystem.h"

#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>

void printError(const QString& message) {
    std::fprintf(stderr, "kestrix-list: %s\n",
                 listfields::shownName(message).toLocal8Bit().constData());
}

int usageError(const QString& message) {
    printError(message);
    std::fputs("Try 'kestrix-list --help' for more information.\n", stderr);
    return kUsage;
}

std::optional<FolderLookup> lookUpFolder(const QByteArray& given) {
    return askAside<FolderLookup>([given] {
        FolderLookup found{absoluteFolderPath(given)};
        found.error = found.folder.isEmpty() ? errno : folderOpenError(found.folder);
        found.otherThanFolder = found.error == ENOTDIR && isOtherThanFolder(found.folder);
        return found;
    });
}

std::optional<int> refusedFolder(const FolderLookup& found, const QString& shown,
                                 const QString& what) {
    if (found.error == ENOENT || found.error == ENOTDIR) {
        printError(QStringLiteral("%1: %2").arg(shown, what));
        return kUsage;
    }
    if (found.error != 0) {
        // Out of descriptors, no right to look, a loop of links: not the user's typing.
        printError(QStringLiteral("cannot open %1: %2")
                       .arg(shown, QString::fromLocal8Bit(std::strerror(found.error))));
        return kFailed;
    }
    return std::nullopt;
}

bool endReports(TerminalHost& host) {
    host.stopReports();
    host.clear();
    host.reportUnnamed();
    return host.interrupted() || interruptRequested();
}

ScanOptions scanOptionsOf(const CliOptions& options, TerminalHost& host) {
    ScanOptions scanOptions;
    measurementOf(options).applyTo(scanOptions);
    scanOptions.unreadable = host.unreadableReport();
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
