#include "cli/clioptions.h"
#include "cli/terminalhost.h"
#include "listing/listfields.h"
#include "listing/listingrun.h"
#include "listing/runstate.h"
#include "platform/system/interrupt.h"
#include "platform/system/listfile.h"
#include "platform/system/terminal.h"
#include "posixscan/filesystem.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

enum ExitCode { kSuccess = 0, kOutputFailed = 1, kUsage = 2, kInterrupted = 130 };

// Names in messages are shown as in the list: no control character reaches the terminal.
void printError(const QString& message) {
    std::fprintf(stderr, "kestrix-list: %s\n",
                 listfields::shownName(message).toLocal8Bit().constData());
}

int usageError(const CliOptions& options, const QString& message) {
    printError(message);
    std::fputs(options.helpText.toLocal8Bit().constData(), stderr);
    return kUsage;
}

} // namespace

int main(int argc, char* argv[]) {
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
        std::fputs(options.helpText.toLocal8Bit().constData(), stdout);
        return kSuccess;
    case CliOptions::Action::Version:
        std::printf("kestrix-list %s\n", KESTRIX_VERSION);
        return kSuccess;
    case CliOptions::Action::UsageError:
        return usageError(options, options.error);
    case CliOptions::Action::List:
        break;
    }

    setScanThreads(options.threads);
    std::unique_ptr<FileSystemInfo> fileSystem = createFileSystemInfo();
    const NativePath folder = absoluteFolderPath(options.folder);
    if (folder.isEmpty() || !isFolder(folder))
        return usageError(
            options,
            QStringLiteral("%1: no such folder").arg(fileSystem->decodePath(options.folder)));

    installInterruptHandler();

    RunState state;
    state.ListFolder = fileSystem->decodePath(folder);
    state.ListFilePath = fileSystem->decodePath(options.outputFile);
    state.RunActive = true;
    state.AbortRequested = false;

    TerminalHost host(state, options.outputFile.isEmpty() && stdoutIsTerminal());
    ListingRun run(state, *fileSystem, host);
    ListRequest request;
    request.folder = folder;
    request.headerText = options.headerText;
    request.mode = options.withSubs ? ListMode::WithSubs : ListMode::NoSubs;

    ListOutcome outcome;
    QString target = state.ListFilePath;
    ListFile out;
    if (options.outputFile.isEmpty()) {
        target = QStringLiteral("standard output");
        if (!out.open(stdout, QIODevice::WriteOnly))
            outcome = {ListOutcome::Status::CreateFailed, out.errorString()};
        else
            outcome = run.write(out, request);
    } else if (const QString why = openListFile(out, options.outputFile); !why.isEmpty()) {
        outcome = {ListOutcome::Status::CreateFailed, why};
    } else {
        outcome = run.writeAndClose(out, request);
    }
    host.clear();

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
    return host.interrupted() ? kInterrupted : kSuccess;
}
