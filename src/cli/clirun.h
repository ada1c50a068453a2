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

// What the options ask of the scans; the unreadable folders are told through `host`.
ScanOptions scanOptionsOf(const CliOptions& options, TerminalHost& host);

// The run on a thread of its own, writing to `output`, while this one hears requests and
// prints what the scan could not read. CreateFailed with the output's failure when it
// has no file.
ListOutcome runJob(TerminalHost& host, const std::shared_ptr<FileSystemInfo>& fileSystem,
                   const ListRequest& request, ListingJob::Opened output);
