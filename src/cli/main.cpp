#include "cli/clioptions.h"
#include "cli/comparerun.h"
#include "cli/terminalhost.h"
#include "listing/asidecall.h"
#include "listing/listfields.h"
#include "listing/listingjob.h"
#include "platform/system/childprocess.h"
#include "platform/system/interrupt.h"
#include "platform/system/listfile.h"
#include "platform/system/terminal.h"
#include "posixscan/filesystem.h"
#include "posixscan/requestsheldback.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

enum ExitCode {
    kSuccess = 0,
    kOutputFailed = 1,
    kUsage = 2,
    kBlankSizes = 3, // the list is whole, but some folders could not be read
    kInterrupted = 130,
};

// Names in messages are shown as in the list: no control character reaches the terminal.
void printError(const QString& message) {
    std::fprintf(stderr, "kestrix-list: %s\n",
                 listfields::shownName(message).toLocal8Bit().constData());
}

int usageError(const QString& message) {
    printError(message);
    std::fputs("Try 'kestrix-list --help' for more information.\n", stderr);
    return kUsage;
}

// The list file or standard output: lines that may reach the terminal by way of a pipe
// first wipe the progress line there.
class ListOutput final : public ListFile {
public:
    explicit ListOutput(TerminalHost& host) : host_(host) {}

protected:
    qint64 writeData(const char* data, qint64 length) override {
        host_.beforeListOutput();
        return ListFile::writeData(data, length);
    }

private:
    TerminalHost& host_;
};

ListFormat listFormat(const CliOptions& options) {
    if (options.format == CliOptions::Format::Report)
        return ListFormat::Report;
    return options.nullEnded ? ListFormat::TsvNullEnded : ListFormat::Tsv;
}

// The top folder and the list file are looked up on a thread of their own, which may wait
// for good on a file server that stopped answering; this one goes on hearing requests.
// Nothing when one came and the answer did not follow within moments (one that answers
// still gets a list with its total).
template <typename T> std::optional<T> askAside(std::function<T()> ask) {
    std::optional<QDeadlineTimer> giveUp;
    const auto keepWaiting = [&giveUp] {
        if (interruptRequested() && !giveUp)
            giveUp.emplace(20);
        return !giveUp || !giveUp->hasExpired();
    };
    return aside::askWhile<T>(keepWaiting, [ask = std::move(ask)] {
        const RequestsHeldBack held;
        return ask();
    });
}

// The run on a thread of its own, while this one hears requests and prints what the scan
// could not read.
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

} // namespace

// Before the libraries' own start-up code, which takes milliseconds, and main(): a
// termination request that came before the handler would end the program at once,
// leaving no list and the wrong status.
[[gnu::used, gnu::section(".preinit_array")]] void (*const hearRequestsFromTheStart)() =
    installInterruptHandler;

namespace {

int listMain(int argc, char* argv[], int closedAtStart) {
    raiseDescriptorLimit();
    // Taken before Qt sees them: it removes the arguments it claims for itself (such as
    // -qmljsdebugger=...), and a folder may have any name.
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrix-list"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));

    const CliOptions options = parseCliOptions(arguments);
    switch (options.action) {
    case CliOptions::Action::Help:
        std::fputs(cliHelpText().toLocal8Bit().constData(), stdout);
        return kSuccess;
    case CliOptions::Action::Version:
        std::printf("kestrix-list %s\n", KESTRIX_VERSION);
        return kSuccess;
    case CliOptions::Action::UsageError:
        return usageError(options.error);
    case CliOptions::Action::List:
        break;
    }
    if (!options.compareWith.isNull())
        return compareMain(options, closedAtStart);

    setScanThreads(options.threads);
    const std::shared_ptr<FileSystemInfo> fileSystem = createFileSystemInfo();
    struct Top {
        NativePath folder;
        int error = 0;
        bool otherThanFolder = false; // there is something by that name, but no folder
    };
    const std::optional<Top> top = askAside<Top>([given = options.folder] {
        Top found{absoluteFolderPath(given), 0};
        found.error = found.folder.isEmpty() ? errno : folderOpenError(found.folder);
        found.otherThanFolder = found.error == ENOTDIR && isOtherThanFolder(found.folder);
        return found;
    });
    if (!top)
        return kInterrupted;
    const NativePath& folder = top->folder;
    const int folderError = top->error;
    if (top->otherThanFolder) {
        printError(QStringLiteral("%1: not a folder").arg(fileSystem->decodePath(options.folder)));
        return kUsage;
    }
    if (folderError == ENOENT || folderError == ENOTDIR) {
        printError(
            QStringLiteral("%1: no such folder").arg(fileSystem->decodePath(options.folder)));
        return kUsage;
    }
    if (folderError != 0) {
        // Out of descriptors, no right to look, a loop of links: not the user's typing.
        printError(QStringLiteral("cannot open %1: %2")
                       .arg(fileSystem->decodePath(options.folder),
                            QString::fromLocal8Bit(std::strerror(folderError))));
        return kOutputFailed;
    }
    const bool toStandardOutput = options.outputFile.isEmpty();
    if (toStandardOutput && (closedAtStart & (1 << 1))) {
        printError(QStringLiteral("cannot write the list: standard output is closed"));
        return kOutputFailed;
    }

    using Target = TerminalHost::ListTarget;
    const Target listTarget = !toStandardOutput    ? Target::File
                              : stdoutIsTerminal() ? Target::Terminal
                              : stdoutIsPipe()     ? Target::Pipe
                                                   : Target::File;
    TerminalHost host(*fileSystem, listTarget);
    ScanOptions scanOptions;
    scanOptions.oneFileSystem = options.oneFileSystem;
    scanOptions.excludePatterns.assign(options.excludePatterns.begin(),
                                       options.excludePatterns.end());
    scanOptions.unreadable = host.unreadableReport();
    scanOptions.diskUsage = options.diskUsage;
    scanOptions.linksOnce = options.linksOnce;
    scanOptions.order = options.order == CliOptions::Order::Size   ? ScanOptions::Order::Size
                        : options.order == CliOptions::Order::Name ? ScanOptions::Order::Name
                                                                   : ScanOptions::Order::FileSystem;
    ListRequest request;
    request.scanOptions = scanOptions;
    request.folder = folder;
    request.headerText = options.headerText;
    request.mode = options.withSubs ? ListMode::WithSubs : ListMode::NoSubs;
    request.format = listFormat(options);
    request.namedAs = options.folder;

    QString target = fileSystem->decodePath(options.outputFile);
    ListingJob::Opened output;
    const auto out = std::make_shared<ListOutput>(host);
    if (toStandardOutput) {
        target = QStringLiteral("standard output");
        output.isListFile = false;
        if (!out->open(stdout, QIODevice::WriteOnly))
            output.failure = out->errorString();
    } else if (std::optional<OpenedListFile> opened = askAside<OpenedListFile>(
                   [path = options.outputFile] { return openListFileAside(path); });
               !opened) {
        return kInterrupted; // nothing written, nothing to end
    } else {
        output.failure = takeOverListFile(*out, std::move(*opened));
    }
    if (output.failure.isEmpty())
        output.file = out;
    const ListOutcome outcome = runJob(host, fileSystem, request, output);
    host.stopReports();
    host.clear();
    host.reportUnnamed();

    switch (outcome.status) {
    case ListOutcome::Status::CreateFailed:
        printError(QStringLiteral("cannot create %1: %2").arg(target, outcome.errorString));
        return kOutputFailed;
    case ListOutcome::Status::WriteFailed:
        printError(QStringLiteral("writing %1 failed, the list is incomplete: %2")
                       .arg(target, outcome.errorString));
        return kOutputFailed;
    case ListOutcome::Status::ResourcesRanOut:
        printError(QStringLiteral("listing stopped, the system ran out of resources (%1); %2 "
                                  "holds the lines written before, and no total")
                       .arg(outcome.errorString, target));
        return kOutputFailed;
    case ListOutcome::Status::Written:
        break;
    }
    // A request heard at any moment until now counts, also one that came while an old
    // list was still being emptied after the last folder.
    if (host.interrupted() || interruptRequested())
        return kInterrupted;
    return host.unreadableCount() > 0 ? kBlankSizes : kSuccess;
}

} // namespace

int main(int argc, char* argv[]) {
    // Before Qt takes descriptors of its own: one of them could become standard output.
    const int closedAtStart = openClosedStandardDescriptors();
    // The caller waits on a process that no stuck scan can hold up.
    continueInChildProcess();
    return childProcessDone(listMain(argc, argv, closedAtStart));
}
