#include "platform/system/childprocess.h"

#include "platform/system/interrupt.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t child = 0;
int statusPipe = -1;                   // in the child: where its status goes
std::atomic<int> requestsPassedOn = 0; // the three requests may interrupt each other

extern "C" void passOn(int signal, siginfo_t* info, void*) {
    // What the terminal sends reaches the child too. Any other request is passed on,
    // marked, as it may have reached the child as well (a kill of the process group):
    // there it is one request, not two. A second one here ends this process, and the
    // child with it.
    if (info->si_code == SI_KERNEL || child <= 0)
        return;
    if (requestsPassedOn++ == 0) {
        passRequestOn(child, signal);
        return;
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

[[noreturn]] void endAsChildEnded(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (handle >= 0) {
        pollfd ended = {handle, POLLIN, 0};
        while (::poll(&ended, 1, 50) < 0 && errno == EINTR) {
        }
        ::close(handle);
    }
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
}

} // namespace

void continueInChildProcess() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return; // the work is done here, as it can be
    // A request that comes between the fork and the parent's handler below waits,
    // blocked, for that handler to pass it on; the child starts with none waiting.
    sigset_t requests, maskBefore;
    sigemptyset(&requests);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&requests, signal);
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
    struct sigaction action = {};
    action.sa_sigaction = passOn;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before = {};
        // Ignored by whoever started us, it stays so, as in the child.
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
    ::sigprocmask(SIG_SETMASK, &maskBefore, nullptr);
    unsigned char status = 0;
    ssize_t got;
    while ((got = ::read(fds[0], &status, 1)) < 0 && errno == EINTR) {
    }
    if (got == 1) {
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
    // A scan still held in a call writes nothing any more.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd <= 2 && null >= 0; ++fd)
        ::dup2(null, fd);
    const unsigned char byte = static_cast<unsigned char>(status);
    while (::write(statusPipe, &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(statusPipe);
    statusPipe = -1;
    return status;
}
