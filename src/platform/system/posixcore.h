#pragma once

// Small POSIX helpers that the platform layer and the scanner share. No Qt here.

#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <utility>

// Closes a descriptor and leaves errno as it was, for a caller that reports an earlier
// failure.
inline void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// An open descriptor, closed when it goes; -1 holds none.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor over to the caller.
    int release() { return std::exchange(fd_, -1); }
    // Closes the one held (errno kept) and holds `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0 && fd_ != fd)
            closeKeepingErrno(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Calls `call` again for as long as a signal handler interrupts it (-1 with EINTR); its
// last result.
template <typename Call> auto retryOnInterrupt(Call call) {
    for (;;) {
        const auto result = call();
        if (!(result < 0 && errno == EINTR))
            return result;
    }
}

// Points standard input, output and error at /dev/null, all but `keep`: what is written to
// them from now on goes nowhere, and nobody waits for their end on us.
void standardStreamsToNull(int keep = -1);

// The termination requests: interrupt (Ctrl+C), termination and hang-up.
sigset_t terminationRequests();
// Installs `handler` for each termination request (SA_SIGINFO, calls interrupted by it
// restarted), except for one the program was started to ignore (a background job's
// Ctrl+C, nohup), which stays ignored. The requests it was installed for.
sigset_t handleTerminationRequests(void (*handler)(int, siginfo_t*, void*));

// Keeps errno as it was for as long as it lives: a signal handler must leave it to the code
// it interrupted.
class ErrnoKept {
public:
    ErrnoKept() = default;
    ~ErrnoKept() { errno = saved_; }
    ErrnoKept(const ErrnoKept&) = delete;
    ErrnoKept& operator=(const ErrnoKept&) = delete;

private:
    const int saved_ = errno;
};
