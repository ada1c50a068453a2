#include "platform/desktop/terminationsignals.h"

#include "platform/system/interrupt.h"
#include "platform/system/posixcore.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler only wakes the event loop, which does the closing.
int wakeUp[2] = {-1, -1};

extern "C" void onSignal(int signal, siginfo_t* info, void*) {
    const ErrnoKept errnoKept;
    // The process that waits on this one passes on what reached it, which may have
    // reached this one too (a kill of the process group): that is the same request.
    // A program that does not close on the first request ends on the user's second.
    if (isSecondRequest() && !isPassedOn(*info))
        endByDefault(signal);
    const char byte = 1;
    if (::write(wakeUp[1], &byte, 1) < 0) {
        // Full: a wake-up is on its way already.
    }
}

} // namespace

void closeWindowsOnTermination() {
    if (wakeUp[0] >= 0 || ::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char bytes[16];
        while (::read(wakeUp[0], bytes, sizeof bytes) > 0) {
        }
        QApplication::closeAllWindows();
    });
    handleTerminationRequests(onSignal);
}
