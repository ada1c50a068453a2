#include "posixscan/scanthreads.h"

#include "posixscan/filesystem.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

// Below this share of blocked time, the processor is what the scan waits on.
constexpr double kBlockedLine = 0.5;

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
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[96];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
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
