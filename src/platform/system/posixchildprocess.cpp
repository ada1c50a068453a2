#include "platform/system/childprocess.h"

#include "platform/system/interrupt.h"
#include "platform/system/posixcore.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t child = 0;
int statusPipe = -1;                 // in the child: where its status goes
std::atomic<bool> requested = false; // the three requests may interrupt each other

extern "C" void passOn(int signal, siginfo_t*, void*) {
    const ErrnoKept errnoKept;
    if (child <= 0)
        return;
    if (isSecondRequest())
        return endByDefault(signal); // and the child with us
    if (requested.exchange(true))
        return; // the same event again
    // Passed on, marked, also where it may have reached the child as well (the terminal's
    // Ctrl+C, a kill of the process group): there it is one request, not two. The
    // kernel's hang-up of a terminal reaches only the session's leader, which may be us.
    passRequestOn(child, signal);
}

[[noreturn]] void endAsChildEnded(pid_t pid) {
    int status = 0;
    retryOnInterrupt([&] { return ::waitpid(pid, &status, 0); });
    if (WIFSIGNALED(status)) {
        ::signal(WTERMSIG(status), SIG_DFL);
        ::raise(WTERMSIG(status));
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

// Reaped by us, the child's figures (its peak memory among them) count in ours, as
// whoever measures the tool sees them. A child held in a call that the file system
// never answers cannot end, and is not waited for beyond a moment.
void reapIfEnding(pid_t pid) {
    if (const Descriptor handle(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        handle.valid()) {
        pollfd ended = {handle.get(), POLLIN, 0};
        retryOnInterrupt([&] { return ::poll(&ended, 1, 50); });
    }
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
}

// The child answers a request itself, with the end of its list, within moments. Should it
// be held where it cannot (a write to a file server that stopped answering), the request
// still ends the run: this process ends, and the child with it.
constexpr int kChildAnswersWithinMs = 1000;

ssize_t waitForStatus(int from, unsigned char& status) {
    timespec heard = {};
    for (;;) {
        int timeout = -1;
        if (requested) {
            timespec now = {};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            if (heard.tv_sec == 0 && heard.tv_nsec == 0)
                heard = now;
            const long long waited =
                (now.tv_sec - heard.tv_sec) * 1000LL + (now.tv_nsec - heard.tv_nsec) / 1'000'000;
            if (waited >= kChildAnswersWithinMs)
                ::_exit(kInterruptedStatus);
            timeout = int(kChildAnswersWithinMs - waited);
        }
        pollfd ready = {from, POLLIN, 0};
        const int events = ::poll(&ready, 1, timeout);
        if (events == 0 || (events < 0 && errno == EINTR))
            continue;
        return retryOnInterrupt([&] { return ::read(from, &status, 1); });
    }
}

} // namespace

void continueInChildProcess() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return; // the work is done here, as it can be
    // A request that comes between the fork and the parent's handler below waits,
    // blocked, for that handler to pass it on; the child starts with none waiting.
    const sigset_t requests = terminationRequests();
    sigset_t maskBefore;
    ::sigprocmask(SIG_BLOCK, &requests, &maskBefore);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid <= 0)
        ::sigprocmask(SIG_SETMASK, &maskBefore, nullptr);
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (pid == 0) {
        ::close(fds[0]);
        statusPipe = fds[1];
        // Whatever ends the parent (a SIGKILL) ends the work too: nobody waits for it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        return;
    }
    ::close(fds[1]);
    child = pid;
    handleTerminationRequests(passOn); // one ignored stays so, as in the child
    ::sigprocmask(SIG_SETMASK, &maskBefore, nullptr);
    unsigned char status = 0;
    const ssize_t got = waitForStatus(fds[0], status);
    if (got == 1) {
        if (status != kInterruptedStatus) // then, whoever asked wants the end now
            reapIfEnding(pid);
        ::_exit(status);
    }
    endAsChildEnded(pid); // it ended without a word: a crash, or a signal's default
}

int childProcessDone(int status) {
    if (statusPipe < 0)
        return status;
    std::fflush(stdout);
    std::fflush(stderr);
    standardStreamsToNull(); // a scan still held in a call writes nothing any more
    const unsigned char byte = static_cast<unsigned char>(status);
    retryOnInterrupt([&] { return ::write(statusPipe, &byte, 1); });
    ::close(statusPipe);
    statusPipe = -1;
    return status;
}
