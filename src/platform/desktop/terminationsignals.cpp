#include "platform/desktop/terminationsignals.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler only wakes the event loop, which does the closing.
int wakeUp[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (::write(wakeUp[1], &byte, 1) < 0) {
        // Full: a wake-up is on its way already.
    }
    errno = saved;
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
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        // Once: a program that does not close on the first request ends on the second.
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}
