#pragma once

#include "cli/clioptions.h"
#include "cli/terminalhost.h"
#include "listing/asidecall.h"
#include "listing/listingjob.h"
#include "platform/system/interrupt.h"
#include "posixscan/requestsheldback.h"

#include <QDeadlineTimer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// What kestrix-list's runs share: their exit statuses, how they tell of errors, look-ups
// that may wait for good, and the listing job.

enum ExitCode {
    kSuccess = 0,
    kFailed = 1, // the output could not be made, or is incomplete
    kUsage = 2,
    kBlankSizes = 3, // the output is whole, but some folders could not be read
    kInterrupted = 130,
};

// "kestrix-list: " and the message on standard error. Names in messages are shown as in
// the list: no control character reaches the terminal.
void printError(const QString& message);

// A look-up of a folder or a file, made on a thread of its own, which may wait for good on
// a file server that stopped answering; this one goes on hearing requests. Nothing when
// one came and the answer did not follow within moments (one that answers still gets a
// list with its total).
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

// "kestrix-list: " and the message, then where to read more: a usage error.
int usageError(const QString& message);

// FOLDER as the command line named it, looked up on a thread of its own. Nothing when a
// request came while the file system held the look-up up.
struct FolderLookup {
    NativePath folder;            // absolute
    int error = 0;                // the system's reason the folder could not be opened, or 0
    bool otherThanFolder = false; // there is something by that name, but no folder
};
std::optional<FolderLookup> lookUpFolder(const QByteArray& given);
// The status for a FOLDER that cannot be listed, with its message said; nothing when it
// can be. `what` is how a name of no folder is told ("no such folder").
std::optional<int> refusedFolder(const FolderLookup& found, const QString& shown,
                                 const QString& what);

// Opens the output: standard output (`closedAtStart` as openClosedStandardDescriptors()
// gave it) when `options` name no file, else the file: `openAside` on a thread of its own,
// as it may wait on a file server, then `takeOver` here. Sets `target` to what messages
// call it; returns why it cannot be written (empty when it can), or nothing when a
// request came while the file system held the open up.
template <typename File, typename Opened>
std::optional<QString> openOutput(File& out, const CliOptions& options, int closedAtStart,
                                  Opened (*openAside)(const QByteArray& path),
                                  QString (*takeOver)(File& file, Opened opened), QString& target) {
    if (options.outputFile.isEmpty()) {
        target = QStringLiteral("standard output");
        if (closedAtStart & (1 << 1))
            return QStringLiteral("standard output is closed");
        return out.open(stdout, QIODevice::WriteOnly) ? QString() : out.errorString();
    }
    target = QFile::decodeName(options.outputFile);
    std::optional<Opened> opened =
        askAside<Opened>([openAside, path = options.outputFile] { return openAside(path); });
    if (!opened)
        return std::nullopt;
    return takeOver(out, std::move(*opened));
}

// The end of a run: the progress line wiped and what the scan could not read told.
// True when a request came at any moment until now, also one that came while an old
// list was still being emptied after the last folder.
bool endReports(TerminalHost& host);

// What the options ask of the scans; the unreadable folders are told through `host`.
ScanOptions scanOptionsOf(const CliOptions& options, TerminalHost& host);

// The run on a thread of its own, writing to `output`, while this one hears requests and
// prints what the scan could not read. CreateFailed with the output's failure when it
// has no file.
ListOutcome runJob(TerminalHost& host, const std::shared_ptr<FileSystemInfo>& fileSystem,
                   const ListRequest& request, ListingJob::Opened output);
