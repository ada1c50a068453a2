#include "platform/system/interrupt.h"

#include <atomic>
#include <csignal>

namespace {

// The signal may land on either scanning thread.
std::atomic<int> interrupted = 0;
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    interrupted.store(1, std::memory_order_relaxed);
}

} // namespace

void installInterruptHandler() {
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A second Ctrl+C ends the program at once, should the first not be heard soon.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    // A closed terminal or an ended session stops the run as a termination request does.
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before = {};
        // A signal the caller chose to ignore (a background job's Ctrl+C, nohup) stays so.
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        if (sigaction(signal, &action, nullptr) == 0)
            sigaddset(&handled, signal);
    }
    // Blocked by whoever started us, a request would wait unheard for the whole run.
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}

bool interruptRequested() {
    return interrupted.load(std::memory_order_relaxed) != 0;
}
