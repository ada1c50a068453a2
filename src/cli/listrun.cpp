#include "cli/listrun.h"

#include "cli/clirun.h"
#include "cli/terminalhost.h"
#include "platform/system/listfile.h"
#include "platform/system/terminal.h"
#include "posixscan/filesystem.h"

namespace {

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

using Target = TerminalHost::ListTarget;

Target listTarget(const CliOptions& options) {
    if (!options.outputFile.isEmpty())
        return Target::File;
    return stdoutIsTerminal() ? Target::Terminal : stdoutIsPipe() ? Target::Pipe : Target::File;
}

int statusOf(const ListOutcome& outcome, const QString& target) {
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
    return kSuccess;
}

} // namespace

int listMain(const CliOptions& options, int closedAtStart) {
    const std::shared_ptr<FileSystemInfo> fileSystem = createFileSystemInfo();
    const QString shown = fileSystem->decodePath(options.folder);
    const std::optional<FolderLookup> top = lookUpFolder(options.folder);
    if (!top)
        return kInterrupted;
    if (top->otherThanFolder) {
        printError(QStringLiteral("%1: not a folder").arg(shown));
        return kUsage;
    }
    if (const std::optional<int> status =
            refusedFolder(*top, shown, QStringLiteral("no such folder")))
        return *status;

    TerminalHost host(*fileSystem, listTarget(options));
    ListRequest request;
    request.scanOptions = scanOptionsOf(options, host);
    request.folder = top->folder;
    request.headerText = options.headerText;
    request.mode = options.withSubs ? ListMode::WithSubs : ListMode::NoSubs;
    request.format = options.format;
    request.namedAs = options.folder;

    const auto out = std::make_shared<ListOutput>(host);
    QString target;
    const std::optional<QString> failure = openOutput<ListFile, OpenedListFile>(
        *out, options, closedAtStart, openListFileAside, takeOverListFile, target);
    if (!failure)
        return kInterrupted; // nothing written, nothing to end
    if (!failure->isEmpty() && options.outputFile.isEmpty()) {
        printError(QStringLiteral("cannot write the list: %1").arg(*failure));
        return kFailed;
    }
    ListingJob::Opened output{failure->isEmpty() ? out : nullptr, *failure,
                              !options.outputFile.isEmpty()};
    const ListOutcome outcome = runJob(host, fileSystem, request, std::move(output));
    const bool interrupted = endReports(host);
    if (const int status = statusOf(outcome, target); status != kSuccess)
        return status;
    if (interrupted)
        return kInterrupted;
    return host.unreadableCount() > 0 ? kBlankSizes : kSuccess;
}
