#include "platform/system/interrupt.h"

#include "platform/system/posixcore.h"

#include <atomic>
#include <csignal>
#include <ctime>
#include <signal.h>

namespace {

// The signal may land on any thread.
std::atomic<int> interrupted = 0;
std::atomic<long long> firstRequestAt = 0; // CLOCK_MONOTONIC, in ns; 0: none yet
static_assert(std::atomic<long long>::is_always_lock_free);

// Marks a request handed on by the program's other process.
constexpr int kPassedOn = 0x6b78;

extern "C" void onInterrupt(int signal, siginfo_t* info, void*) {
    const ErrnoKept errnoKept;
    interrupted.store(1, std::memory_order_relaxed);
    const bool second = isSecondRequest(); // a passed-on one is noted all the same
    if (second && !isPassedOn(*info))
        endByDefault(signal);
}

} // namespace

bool isPassedOn(const siginfo_t& info) {
    return info.si_code == SI_QUEUE && info.si_value.sival_int == kPassedOn;
}

bool isSecondRequest() {
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now); // safe in a signal handler
    const long long at = now.tv_sec * 1'000'000'000LL + now.tv_nsec + 1;
    long long first = 0;
    if (firstRequestAt.compare_exchange_strong(first, at))
        return false;
    return at - first >= kSameRequestWithin.count() * 1'000'000LL;
}

void endByDefault(int signal) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void passRequestOn(pid_t to, int signal) {
    sigval value = {};
    value.sival_int = kPassedOn;
    ::sigqueue(to, signal, value);
}

void installInterruptHandler() {
    // A closed terminal or an ended session stops the run as a termination request does.
    const sigset_t handled = handleTerminationRequests(onInterrupt);
    // Blocked by whoever started us, a request would wait unheard for the whole run.
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}

bool interruptRequested() {
    return interrupted.load(std::memory_order_relaxed) != 0;
}
