#include "platform/interrupt.h"

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
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interruptRequested() {
    return interrupted.load(std::memory_order_relaxed) != 0;
}
