#include "cli/clioptions.h"
#include "cli/clirun.h"
#include "cli/comparerun.h"
#include "cli/terminalhost.h"
#include "listing/listfields.h"
#include "listing/listingjob.h"
#include "platform/system/childprocess.h"
#include "platform/system/interrupt.h"
#include "platform/system/listfile.h"
#include "platform/system/terminal.h"
#include "posixscan/filesystem.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

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
        return kFailed;
    }
    const bool toStandardOutput = options.outputFile.isEmpty();
    if (toStandardOutput && (closedAtStart & (1 << 1))) {
        printError(QStringLiteral("cannot write the list: standard output is closed"));
        return kFailed;
    }

    using Target = TerminalHost::ListTarget;
    const Target listTarget = !toStandardOutput    ? Target::File
                              : stdoutIsTerminal() ? Target::Terminal
                              : stdoutIsPipe()     ? Target::Pipe
                                                   : Target::File;
    TerminalHost host(*fileSystem, listTarget);
    ListRequest request;
    request.scanOptions = scanOptionsOf(options, host);
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
        return kFailed;
    case ListOutcome::Status::WriteFailed:
        printError(QStringLiteral("writing %1 failed, the list is incomplete: %2")
                       .arg(target, outcome.errorString));
        return kFailed;
    case ListOutcome::Status::ResourcesRanOut:
        printError(QStringLiteral("listing stopped, the system ran out of resources (%1); %2 "
                                  "holds the lines written before, and no total")
                       .arg(outcome.errorString, target));
        return kFailed;
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
