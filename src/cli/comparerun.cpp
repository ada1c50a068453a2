#include "cli/comparerun.h"

#include "cli/clirun.h"
#include "cli/comparesides.h"
#include "cli/terminalhost.h"
#include "listing/comparereport.h"
#include "listing/listfilewriter.h"
#include "platform/system/interrupt.h"
#include "platform/system/listfile.h"
#include "platform/system/readablefile.h"
#include "posixscan/filesystem.h"

#include <atomic>
#include <cerrno>
#include <new>

namespace {

// The lines of the new list, matched as the run writes them: the list itself is kept
// nowhere. The new list goes through the same writer and reader as a list file would, so
// both sides name their folders alike, byte for byte, whatever the names hold.
// Fed on the run's thread: a line that cannot be taken, or memory that runs out there,
// fails the write, which ends the run.
class ListSink final : public QFile {
public:
    explicit ListSink(ListReader& reader) : reader_(reader) {}
    bool ranOutOfMemory() const { return outOfMemory_; }

protected:
    qint64 writeData(const char* data, qint64 length) override {
        try {
            return reader_.feed(QByteArrayView(data, length)) ? length : -1;
        } catch (const std::bad_alloc&) {
            outOfMemory_ = true;
            return -1;
        }
    }

private:
    ListReader& reader_;
    std::atomic<bool> outOfMemory_ = false;
};

// Lists FOLDER anew into `sides.later`, as the earlier list was made; the exit status
// when it could not be, said on standard error.
std::optional<int> scanLater(const CliOptions& options, const FolderLookup& later,
                             const std::shared_ptr<FileSystemInfo>& fileSystem, Sides& sides) {
    const QString shown = fileSystem->decodePath(options.folder);
    TerminalHost host(*fileSystem, TerminalHost::ListTarget::File);
    ListRequest request;
    request.folder = later.folder;
    request.mode = sides.withSubs ? ListMode::WithSubs : ListMode::NoSubs;
    request.format = sides.earlier.reader.form().value_or(ListFormat::Report);
    request.locale = QLocale::c();
    request.scanOptions = scanOptionsOf(options, host);
    sides.measurement.applyTo(request.scanOptions);
    request.namedAs = options.folder;
    const auto sink = std::make_shared<ListSink>(sides.later.reader);
    sink->setFileName(QStringLiteral("/dev/null"));
    if (!sink->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        printError(QStringLiteral("cannot list %1: %2").arg(shown, sink->errorString()));
        return kFailed;
    }
    const ListOutcome outcome =
        runJob(host, fileSystem, request, ListingJob::Opened{sink, {}, false});
    const bool interrupted = endReports(host);
    sides.unreadable = host.unreadableCount();
    if (interrupted)
        return interruptedComparison();
    if (sink->ranOutOfMemory())
        throw std::bad_alloc();
    QString unread = sides.later.error();
    if (unread.isEmpty() && outcome.status != ListOutcome::Status::Written) {
        printError(QStringLiteral("listing %1 stopped (%2): no comparison written")
                       .arg(shown, outcome.errorString));
        return kFailed;
    }
    if (unread.isEmpty() && sides.later.reader.finish())
        unread = sides.later.finish(sides.withSubs);
    else if (unread.isEmpty())
        unread = sides.later.error();
    if (!unread.isEmpty()) {
        printError(
            QStringLiteral("the new list of %1 could not be read back: %2").arg(shown, unread));
        return kFailed;
    }
    sides.laterDate = listfields::headerDate(QDate::currentDate(), sides.locale);
    sides.laterFolder = fileSystem->decodePath(later.folder).toLower();
    return std::nullopt;
}

// Writes the comparison whole to standard output, or into a new file that takes the -o
// file's place only once it is whole.
int writeOut(const Sides& sides, const CliOptions& options, int closedAtStart) {
    sides.tellClashesAndUnknowns();
    CompareReport report = sides.report(options);
    report.stopRequested = interruptRequested;
    ReplacementFile out;
    QString target;
    const std::optional<QString> failure = openOutput<ReplacementFile, OpenedReplacement>(
        out, options, closedAtStart, openReplacementAside, takeOverReplacement, target);
    if (!failure)
        return interruptedComparison();
    if (!failure->isEmpty()) {
        printError(options.outputFile.isEmpty()
                       ? QStringLiteral("cannot write the comparison: %1").arg(*failure)
                       : QStringLiteral("cannot create %1: %2").arg(target, *failure));
        return kFailed;
    }
    ListFileWriter writer(out);
    const bool whole = writeComparison(sides.comparison, report, writer) && writer.flush();
    if (interruptRequested()) {
        if (!options.outputFile.isEmpty()) {
            out.abandon();
            return interruptedComparison();
        }
        printError(QStringLiteral("interrupted: the comparison on standard output is cut short"));
        return kInterrupted;
    }
    // Standard output has no place to take: what was written stands.
    const QString why = !whole                          ? writer.errorString()
                        : !options.outputFile.isEmpty() ? out.commit()
                        : out.flush()                   ? QString()
                                                        : out.errorString();
    if (!why.isEmpty()) {
        out.abandon();
        printError(QStringLiteral("writing %1 failed: %2").arg(target, why));
        return kFailed;
    }
    return sides.unknownCount() > 0 || sides.unreadable > 0 ? kBlankSizes : kSuccess;
}

int compare(const CliOptions& options, int closedAtStart) {
    const std::shared_ptr<FileSystemInfo> fileSystem = createFileSystemInfo();
    // LATER is a folder to list anew, or a list file.
    const std::optional<FolderLookup> later = lookUpFolder(options.folder);
    if (!later)
        return interruptedComparison();
    const bool laterIsFile = later->error == ENOTDIR &&
                             ReadableFile::kindOf(options.folder) == ReadableFile::Kind::Regular;
    if (!laterIsFile)
        if (const std::optional<int> status =
                refusedFolder(*later, fileSystem->decodePath(options.folder),
                              QStringLiteral("neither a folder nor a list file")))
            return *status;
    for (const QByteArray& input : {options.compareWith, laterIsFile ? options.folder : ""}) {
        if (options.outputFile.isEmpty() || input.isEmpty())
            continue;
        // The output's folder may be on a file server that stopped answering.
        const std::optional<bool> same = askAside<bool>(
            [output = options.outputFile, input] { return ReadableFile::sameFile(output, input); });
        if (!same)
            return interruptedComparison();
        if (*same)
            return usageError(
                QStringLiteral("the output %1 is the list %2 itself")
                    .arg(QFile::decodeName(options.outputFile), QFile::decodeName(input)));
    }

    Sides sides(options, laterIsFile);
    if (const std::optional<int> status = sides.matchForms(options))
        return *status;
    if (const std::optional<int> status = sides.readEarlier(options))
        return *status;
    const std::optional<int> status =
        laterIsFile ? sides.readLater(options) : scanLater(options, *later, fileSystem, sides);
    if (status)
        return *status;
    sides.warnOfOtherFolders();
    sides.comparison.finish();
    return writeOut(sides, options, closedAtStart);
}

} // namespace

int compareMain(const CliOptions& options, int closedAtStart) {
    try {
        return compare(options, closedAtStart);
    } catch (const std::bad_alloc&) {
        // Lists past the memory the system gives: said as any other failure.
        printError(QStringLiteral("out of memory: no comparison written"));
        return kFailed;
    }
}
