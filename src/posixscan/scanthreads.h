#pragma once

#include <QtGlobal>

#include <pthread.h>
#include <sys/types.h>

// How many threads a scan runs, and when it adds more.
//
// A scan starts with one thread per core (two at the least). A scanning thread spends its
// busy time in three ways: running, waiting for a core, and blocked in a call that waits
// on the file system (a cold disk, a round trip to a file server, a FUSE layer, a slow
// device). Only the blocked time leaves the processor idle, and only more calls in flight
// win it back. So every sample period the scan asks the kernel how each thread spent it
// (/proc/self/task/TID/schedstat: time run, time waited for a core); what is left of the
// period, less the time the thread waited for work, it was blocked. When the threads were
// blocked longer than they ran, in two periods in a row (one alone may be a stall) and
// with no thread short of work, the scan adds threads: as many as would keep the cores
// busy at that share of blocked time (cores / (1 - blocked / (blocked + run))), at most
// twice as many as it has, at most kMaxAutomaticThreads, and only while descriptors are
// left. It never takes threads
// away: one with nothing to do waits for work and costs nothing.
//
// A scan the processor limits (a warm cache) is blocked a small part of its time and
// stays at the number of cores, where more threads would only take turns. A busy machine
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

// How many threads to run after a period in which the running threads were busy
// `busyNs` in all, `runNs` of it on a core and `queuedNs` waiting for one.
int threadsWanted(int cores, int running, int cap, qint64 busyNs, qint64 runNs, qint64 queuedNs);

// What a thread has done since it started: nanoseconds on a core and waiting for one.
struct ThreadTimes {
    qint64 runNs = 0;
    qint64 queuedNs = 0;
};
// Of the thread with this id and handle; false when neither way of asking works.
bool readThreadTimes(pid_t tid, pthread_t thread, ThreadTimes& times);
