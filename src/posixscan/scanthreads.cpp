#include "posixscan/scanthreads.h"

#include "posixscan/filesystem.h"

#include "platform/system/posixcore.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Below this share of blocked time, the processor is what the scan waits on. A cold disk
// blocks two threads about half the time while the cores are far from busy.
constexpr double kBlockedLine = 0.35;
// Blocked this long a call on average, the threads wait on a server's round trips.
constexpr qint64 kFarCallNs = 200000;
constexpr int kFarFirstStep = 16;
// Above this share of blocked time, the threads wait nearly all the time.
constexpr double kFarLine = 0.9;
// Above this share of their time waiting for work, the threads have too little of it.
constexpr double kIdleLine = 0.5;
// A step pays when the work done per second grows by at least this share of what the
// added threads promised (twice the threads: 1.2 times the work).
constexpr double kGainShare = 0.2;

// Descriptors a scan leaves to the rest of the program: the list file, a mount check,
// counting the open ones, a way back by name.
constexpr std::size_t kDescriptorReserve = 6;
// The fewest descriptors a thread's chain can work with.
constexpr std::size_t kChainMinimum = 2 + kChainExtra;

// What a chain may keep open, out of `share` descriptors.
std::size_t chainOf(std::size_t share) {
    return std::clamp(share, kChainMinimum, kMaxOpenPerChain + kChainExtra) - kChainExtra;
}

std::atomic<int> threadsSet = 0;

bool stepPaid(GrowthStep step, int running) {
    return step.from <= 0 || step.from >= running ||
           step.gain >= 1.0 + kGainShare * (double(running) / step.from - 1.0);
}

} // namespace

void setScanThreads(int threads) {
    threadsSet = std::clamp(threads, 0, kMaxScanThreads);
}

int scanThreadsSetting() {
    return threadsSet;
}

int usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return std::max(1, int(std::thread::hardware_concurrency()));
}

int threadsWanted(int running, int cap, qint64 busyNs, qint64 runNs, qint64 queuedNs, qint64 idleNs,
                  GrowthStep last) {
    if (busyNs <= 0 || running >= cap)
        return running;
    if (double(idleNs) > kIdleLine * double(busyNs + idleNs))
        return running; // more threads would wait for work too
    // A server that only answers more slowly to more calls in flight is busy, not far.
    if (!stepPaid(last, running))
        return running;
    // Waiting for a core says nothing of the file system: it is left out of the share,
    // which says how much of the time the threads could have run they spent blocked.
    const qint64 blocked = std::max<qint64>(0, busyNs - runNs - queuedNs);
    if (blocked + runNs <= 0)
        return running;
    const double share = double(blocked) / double(blocked + runNs);
    if (share <= kBlockedLine)
        return running;
    // Nearly all of it blocked says a far server (or a slow device): with no step to go
    // by, the first may be a long one.
    return std::min(cap, (share >= kFarLine && last.from == 0 ? 4 : 2) * running);
}

bool readThreadTimes(pid_t tid, pthread_t thread, ThreadTimes& times) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", int(tid));
    if (const Descriptor fd(::open(path, O_RDONLY | O_CLOEXEC)); fd.valid()) {
        char text[96];
        const ssize_t n = ::read(fd.get(), text, sizeof text - 1);
        long long run = 0, queued = 0;
        if (n > 0) {
            text[n] = '\0';
            if (std::sscanf(text, "%lld %lld", &run, &queued) == 2) {
                times = {run, queued};
                return true;
            }
        }
    }
    clockid_t clock;
    timespec spent;
    if (::pthread_getcpuclockid(thread, &clock) != 0 || ::clock_gettime(clock, &spent) != 0)
        return false;
    times = {qint64(spent.tv_sec) * 1000000000 + spent.tv_nsec, 0};
    return true;
}

ThreadPlan planThreads(int asked, std::size_t descriptorsLeft, int cores) {
    const std::size_t budget =
        descriptorsLeft > kDescriptorReserve ? descriptorsLeft - kDescriptorReserve : 0;
    const bool automatic = asked == 0;
    ThreadPlan plan;
    plan.cap = std::min(automatic ? kMaxAutomaticThreads : std::min(asked, kMaxScanThreads),
                        std::max<int>(1, int(budget / kChainMinimum)));
    plan.first = automatic ? std::min(std::max(2, cores), plan.cap) : plan.cap;
    plan.growing = automatic && plan.cap > plan.first;
    plan.firstOpen = chainOf((plan.growing ? budget / 2 : budget) / std::size_t(plan.first));
    plan.budget = std::max(budget, std::size_t(plan.first) * kChainMinimum);
    return plan;
}

std::size_t DescriptorBudget::chainForAnother(int toCome) const {
    const std::size_t left = budget_ - handedOut_;
    if (left < kChainMinimum)
        return 0;
    return chainOf(left / std::size_t(std::max(1, toCome)));
}

void ThreadGrowth::started(int slot) {
    Clock& clock = clocks_[slot];
    clock.thread = ::pthread_self();
    clock.tid.store(pid_t(::syscall(SYS_gettid)), std::memory_order_release);
}

int ThreadGrowth::threadsToAdd(qint64 now, ThreadCensus census) {
    Window period;
    for (int i = 0; i < census.running; ++i) {
        Clock& c = clocks_[i];
        const pid_t tid = c.tid.load(std::memory_order_acquire);
        ThreadTimes times;
        if (tid == 0 || !readThreadTimes(tid, c.thread, times))
            continue;
        const qint64 since = c.idleSince.load(std::memory_order_relaxed);
        const qint64 idleSoFar =
            c.idleNs.load(std::memory_order_relaxed) + (since != 0 ? now - since : 0);
        const quint64 calls = c.calls.load(std::memory_order_relaxed);
        if (c.seenAt != 0) {
            const qint64 spent = now - c.seenAt;
            const qint64 idled = std::clamp<qint64>(idleSoFar - c.seenIdle, 0, spent);
            period.idleNs += idled;
            period.busyNs += spent - idled;
            period.runNs += times.runNs - c.seen.runNs;
            period.queuedNs += times.queuedNs - c.seen.queuedNs;
            period.calls += calls - c.seenCalls;
        }
        c.seenAt = now;
        c.seenIdle = idleSoFar;
        c.seenCalls = calls;
        c.seen = times;
    }
    if (pause_ > 0) {
        --pause_; // after a step that did not pay
        window_ = {};
        return 0;
    }
    if (settling_) {
        settling_ = false; // the new threads are counted from here on
        window_ = {};
        return 0;
    }
    window_.looks += 1;
    window_.calls += period.calls;
    window_.busyNs += period.busyNs;
    window_.runNs += period.runNs;
    window_.queuedNs += period.queuedNs;
    window_.idleNs += period.idleNs;
    // The kernel brings a running thread's time up to date only now and then, and a stall
    // alone can block the threads for a while: a step no judgement calls for needs two
    // windows of two looks in a row to want it, unless the calls were slow one and all.
    // Judging a step takes more calls.
    if (step_.from > 0 ? window_.calls < kCallsToJudge
                       : window_.looks < kLooksBeforeStep || window_.calls < kCallsBeforeStep)
        return 0;
    const Window w = std::exchange(window_, {});
    // Calls per nanosecond a thread was at it: as many with more threads when the server
    // is far, fewer in step with them when it is busy. Waits for work, as the new threads
    // have while they are handed some, say nothing of the server.
    const double rate = w.busyNs > 0 ? double(w.calls) / double(w.busyNs) : 0;
    GrowthStep judged;
    if (step_.from > 0 && rateBefore_ > 0)
        judged = {step_.from, rate / rateBefore_ * census.running / step_.from};
    step_ = {};
    int wanted =
        threadsWanted(census.running, cap_, w.busyNs, w.runNs, w.queuedNs, w.idleNs, judged);
    if (stepped_)
        wanted = std::min(wanted, 2 * census.running);
    if (census.running >= cap_) {
        settled_ = true; // no room for more
        return 0;
    }
    if (!stepPaid(judged, census.running)) {
        // A busy server, or a disk whose answers came slower for a while: tried again
        // later, each time after twice as long.
        pause_ = nextPause_;
        nextPause_ = std::min(2 * nextPause_, 1 << 20);
        wantedMore_ = false;
        return 0;
    }
    // Calls that each wait a round trip to a server are no stall: one window says so.
    const qint64 blocked = w.busyNs - w.runNs - w.queuedNs;
    const bool farCalls = w.calls > 0 && blocked / qint64(w.calls) >= kFarCallNs;
    // Calls that each wait a server's round trip: the first step goes at once to as many
    // requests in flight as such a server is commonly given.
    if (farCalls && !stepped_ && wanted > census.running)
        wanted = std::max(wanted, std::min(cap_, kFarFirstStep));
    const bool wantedBefore = std::exchange(wantedMore_, wanted > census.running);
    if (!wantedMore_ || (judged.from == 0 && !wantedBefore && !farCalls))
        return 0;
    wantedMore_ = false;
    stepped_ = true;
    step_ = {census.running, 0};
    rateBefore_ = rate;
    settling_ = true;
    return wanted - census.running;
}
