#pragma once

#include <QtGlobal>

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>

// How many threads a scan runs, and when it adds more.
//
// A scan starts with one thread per core (two at the least). A scanning thread spends its
// time in four ways: running, waiting for a core, waiting for work, and blocked in a call
// that waits on the file system (a cold disk, a round trip to a file server, a FUSE layer,
// a slow device). Only the blocked time leaves the processor idle, and only more calls in
// flight win it back. So every few milliseconds the scan asks the kernel how each thread
// spent them (/proc/self/task/TID/schedstat: time run, time waited for a core); what is
// left, less the time the thread waited for work, it was blocked. When the threads were
// blocked over a third of the time they could run, and waited for work less than half
// the time, in two windows of two such looks in a row (the kernel brings a running
// thread's times up to date only now and then, and one window alone may be a stall; one
// does when the calls took a server's round trip, a fifth of a millisecond or more, on
// average), the scan adds threads: twice as many as it has (four times when they were blocked
// nearly all the time and no step is being judged), at most kMaxAutomaticThreads, and only while
// descriptors are left. Cores are not counted: on a machine shared with others, more
// calls in flight may still be what the threads wait for, and the judgement below says
// when they are not.
//
// A far server answers as fast with more calls in flight, a busy one only more slowly.
// So each step is judged: once the new threads had a look's time to find work, the scan
// counts the calls the threads make per second they are at it (a folder counting as
// three, a file as one), over enough calls to go by, and holds that against the figure
// before the step. The next step is taken only when the work done per second grew by at
// least a fifth of what the added threads promised (twice the threads: 1.2 times the
// work); otherwise it adds none for a while (some 200 ms, twice as long after each step
// that did not pay again: a disk's answers vary, a busy server stays busy), and at the cap
// none at all. It never takes threads away: one with nothing to do waits for work and
// costs nothing.
//
// A scan the processor limits (a warm cache) is blocked a small part of its time and
// stays at the number of cores, where more threads would only take turns; should a stall
// make it look otherwise, the first step brings nothing and the growth pauses. A busy machine
// shows as time waited for a core, which counts neither way: warm, the scan adds no
// threads there; cold, the time blocked beside the time run still shows. The kind
// of file system is not asked: a local disk can be cold and a share warm in its cache,
// and what the threads do tells both. Where schedstat cannot be read, the thread's
// processor time is used and the time waited for a core counts as blocked.

// The most threads the scan takes on its own, and the most a caller can ask for.
constexpr int kMaxAutomaticThreads = 32;
constexpr int kMaxScanThreads = 64;

// What setScanThreads() (filesystem.h) last set: 0 for the scan's own choice.
int scanThreadsSetting();

// Cores this process may run on; at least 1.
int usableCores();

// The last step up: from how many threads, and how many times the work done per second
// after it was that before it. `from` 0: none to judge.
struct GrowthStep {
    int from = 0;
    double gain = 0;
};

// How many threads to run after a period in which the running threads were busy
// `busyNs` in all, `runNs` of it on a core and `queuedNs` waiting for one, and waited
// `idleNs` for work; `last`: the step that brought them to `running`, if one is judged.
int threadsWanted(int running, int cap, qint64 busyNs, qint64 runNs, qint64 queuedNs,
                  qint64 idleNs = 0, GrowthStep last = {});

// What a thread has done since it started: nanoseconds on a core and waiting for one.
struct ThreadTimes {
    qint64 runNs = 0;
    qint64 queuedNs = 0;
};
// Of the thread with this id and handle; false when neither way of asking works.
bool readThreadTimes(pid_t tid, pthread_t thread, ThreadTimes& times);

// Now, on the steady clock, in nanoseconds.
inline qint64 steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Each scanning thread walks down with a chain of open folders (see posixdirstack.h). The
// descriptors the process has left, less a reserve, are shared out among the chains; a scan
// left to itself keeps half of them for threads it may add. A chain keeps at most
// kMaxOpenPerChain open, plenty for ordinary trees: deeper folders are found again through
// "..". It holds two more for a moment while it climbs.
constexpr std::size_t kMaxOpenPerChain = 48;
constexpr std::size_t kChainExtra = 2;

// How a scan starts its threads.
struct ThreadPlan {
    int cap = 1;               // the most threads it runs
    int first = 1;             // started at once, the calling thread among them
    std::size_t firstOpen = 0; // the most descriptors each first thread's chain keeps open
    std::size_t budget = 0;    // descriptors for all the chains together
    bool growing = false;      // it adds threads while they wait on the file system
};
// For a scan asked for `asked` threads (0: as many as it needs), with `descriptorsLeft`
// descriptors still to be had and `cores` cores.
ThreadPlan planThreads(int asked, std::size_t descriptorsLeft, int cores);

// The descriptors of a scan's chains: what was handed out of the budget. Not locked: the
// scan changes it only while it adds a thread, one thread adding at a time.
class DescriptorBudget {
public:
    // The first threads' chains, `firstOpen` each, are handed out as they start.
    explicit DescriptorBudget(const ThreadPlan& plan) : budget_(plan.budget) {}
    // The most descriptors the chain of one more thread keeps open: a fair part of what is
    // left when `toCome` more threads may start, it among them; 0 when too few are left.
    std::size_t chainForAnother(int toCome) const;
    // Hands out a chain keeping `maxOpen` open.
    void handOut(std::size_t maxOpen) { handedOut_ += maxOpen + kChainExtra; }

private:
    const std::size_t budget_;
    std::size_t handedOut_ = 0;
};

// How many threads run when the scan looks.
struct ThreadCensus {
    int running = 0;
};

// When a scan adds threads, as told at the top. Every thread notes itself as it starts and
// when it waits for work; every few folders it asks timeToLook(), and whichever thread
// comes first once a sample period is over looks at how all of them spent it.
class ThreadGrowth {
public:
    explicit ThreadGrowth(const ThreadPlan& plan) : cap_(plan.cap), growing_(plan.growing) {}
    ThreadGrowth(const ThreadGrowth&) = delete;
    ThreadGrowth& operator=(const ThreadGrowth&) = delete;

    // On the thread of `slot` (0 .. kMaxScanThreads-1), as it starts.
    void started(int slot);
    // The thread of `slot` waits for work from now on, and no longer.
    void waitStarts(int slot) {
        clocks_[slot].idleSince.store(steadyNowNs(), std::memory_order_relaxed);
    }
    void waitEnds(int slot) {
        Clock& clock = clocks_[slot];
        const qint64 since = clock.idleSince.exchange(0, std::memory_order_relaxed);
        clock.idleNs.fetch_add(steadyNowNs() - since, std::memory_order_relaxed);
    }
    // The thread of `slot` asked the file system about `calls` things more: a file, a
    // folder opened or read.
    void asked(int slot, quint64 calls) {
        std::atomic<quint64>& done = clocks_[slot].calls;
        done.store(done.load(std::memory_order_relaxed) + calls, std::memory_order_relaxed);
    }
    // For each folder a thread enters, with a count of its own: now and then true, when it
    // is time for a look.
    bool timeToLook(unsigned& folders) const {
        if (!growing_ || ++folders < kFoldersPerClockLook ||
            settled_.load(std::memory_order_relaxed))
            return false;
        folders = 0;
        return steadyNowNs() >= nextLook_.load(std::memory_order_relaxed);
    }
    // Looks at the threads' times, unless another thread looks or it is not time yet;
    // `census()` then says how many run. How many threads to add (0 or more).
    template <typename Census> int look(Census census) {
        const std::unique_lock lock(lookMutex_, std::try_to_lock);
        const qint64 now = steadyNowNs();
        if (!lock.owns_lock() || now < nextLook_.load(std::memory_order_relaxed))
            return 0;
        nextLook_ = now + std::chrono::nanoseconds(kSamplePeriod).count();
        return threadsToAdd(now, census());
    }

private:
    // How often the scan looks at how its threads spent their time, and how many folders a
    // thread enters between looks at the clock.
    static constexpr std::chrono::milliseconds kSamplePeriod{5};
    static constexpr unsigned kFoldersPerClockLook = 2;
    // The calls a judgement of a step takes in at least: fewer say too little of how fast
    // the file system answers. A step without one to judge takes fewer.
    static constexpr quint64 kCallsToJudge = 160;
    static constexpr quint64 kCallsBeforeStep = 16;
    static constexpr int kLooksBeforeStep = 2;
    static constexpr int kLooksAfterNoGain = 40;

    // A thread's times, on a line of its own.
    struct alignas(64) Clock {
        std::atomic<qint64> idleNs = 0;    // waiting for work, over the whole scan, the
        std::atomic<qint64> idleSince = 0; // wait going on left out; when that began, or 0
        std::atomic<pid_t> tid = 0;        // 0 until the thread runs
        std::atomic<quint64> calls = 0;    // written by its thread only
        pthread_t thread{};
        // As the last look found them; under lookMutex_.
        qint64 seenAt = 0;
        qint64 seenIdle = 0;
        quint64 seenCalls = 0;
        ThreadTimes seen;
    };

    // Under lookMutex_.
    int threadsToAdd(qint64 now, ThreadCensus census);

    const int cap_;
    const bool growing_;
    Clock clocks_[kMaxScanThreads];
    std::atomic<qint64> nextLook_ = 0;
    std::mutex lookMutex_; // guards what follows and the clocks' seen fields: one looks at once
    // What the threads did since the window began: the looks, the calls, and their times.
    struct Window {
        int looks = 0;
        quint64 calls = 0;
        qint64 busyNs = 0, runNs = 0, queuedNs = 0, idleNs = 0;
    } window_;
    // The step being judged, and the calls per busy nanosecond before it.
    GrowthStep step_;
    double rateBefore_ = 0;
    bool settling_ = false;   // the looks since the last step let the new threads find work
    bool wantedMore_ = false; // the last window unjudged wanted more threads
    // Looks to pass over after a step that did not pay, and after the next one that does not.
    int pause_ = 0;
    int nextPause_ = kLooksAfterNoGain;
    bool stepped_ = false; // a step was taken: the next ones double at most
    // No more threads: the cap is reached.
    std::atomic<bool> settled_ = false;
};
