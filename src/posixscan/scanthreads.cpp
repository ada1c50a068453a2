#include "posixscan/scanthreads.h"

#include "posixscan/filesystem.h"

#include "platform/system/posixcore.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Below this share of blocked time, the processor is what the scan waits on.
constexpr double kBlockedLine = 0.5;

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

int threadsWanted(int cores, int running, int cap, qint64 busyNs, qint64 runNs, qint64 queuedNs) {
    if (busyNs <= 0 || running >= cap)
        return running;
    // Waiting for a core says nothing of the file system: it is left out of the share,
    // which says how much of the time the threads could have run they spent blocked.
    const qint64 blocked = std::max<qint64>(0, busyNs - runNs - queuedNs);
    if (blocked + runNs <= 0)
        return running;
    const double share = double(blocked) / double(blocked + runNs);
    if (share <= kBlockedLine)
        return running;
    const double keepsCoresBusy = share >= 1.0 ? double(cap) : std::ceil(cores / (1.0 - share));
    const int target = int(std::min<double>(keepsCoresBusy, cap));
    return std::clamp(target, running, std::min(cap, 2 * running));
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
    qint64 busy = 0, run = 0, queued = 0;
    for (int i = 0; i < census.running; ++i) {
        Clock& c = clocks_[i];
        const pid_t tid = c.tid.load(std::memory_order_acquire);
        ThreadTimes times;
        if (tid == 0 || !readThreadTimes(tid, c.thread, times))
            continue;
        const qint64 idle = c.idleNs.load(std::memory_order_relaxed);
        if (c.seenAt != 0) {
            busy += std::max<qint64>(0, now - c.seenAt - (idle - c.seenIdle));
            run += times.runNs - c.seen.runNs;
            queued += times.queuedNs - c.seen.queuedNs;
        }
        c.seenAt = now;
        c.seenIdle = idle;
        c.seen = times;
    }
    // A thread with nothing to do says there is no work for more; and one period alone may
    // be a stall, so two in a row must say so.
    const int wanted = census.someIdle
                           ? census.running
                           : threadsWanted(cores_, census.running, cap_, busy, run, queued);
    const bool wantedBefore = wantedMore_;
    wantedMore_ = wanted > census.running;
    return wantedBefore ? wanted - census.running : 0;
}
