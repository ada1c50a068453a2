#include "platform/system/posixcore.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kRequests[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

void standardStreamsToNull(int keep) {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fd != keep && fd != null)
            ::dup2(null, fd);
    }
    if (null > 2)
        ::close(null);
}

sigset_t terminationRequests() {
    sigset_t requests;
    sigemptyset(&requests);
    for (const int signal : kRequests)
        sigaddset(&requests, signal);
    return requests;
}

sigset_t handleTerminationRequests(void (*handler)(int, siginfo_t*, void*)) {
    struct sigaction action = {};
    action.sa_sigaction = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : kRequests) {
        struct sigaction before = {};
        if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(signal, &action, nullptr) == 0)
            sigaddset(&handled, signal);
    }
    return handled;
}
