#pragma once

#include "posixscan/posixfoldertree.h"
#include "posixscan/scanthreads.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A run of sub-folders of one folder, handed from one thread to another with the way down
// to that folder.
struct Job {
    std::vector<quint32> nodes; // from the top down to the folder
    std::vector<FolderTree::FolderId> ids;
    quint32 first = 0;
    quint32 end = 0;
};

// How the threads of one scan share out its work. A thread that runs dry waits in take(),
// and wanted() tells the others so; one of them then gives away part of what it has still
// to do through offer(). Once every thread waits, all is done. The threads are counted in
// here, as their count says when that is: each one is added by addThread() and joined by
// joinAll().
class JobHandOff {
public:
    JobHandOff() = default;
    JobHandOff(const JobHandOff&) = delete;
    JobHandOff& operator=(const JobHandOff&) = delete;

    // A thread waits for work; read without the lock, so only a hint.
    bool wanted() const { return wanted_.load(std::memory_order_relaxed); }
    // Whether the scan was stopped; any thread.
    bool stopped() const { return stop_.load(std::memory_order_relaxed); }
    // Stops the scan: every thread waiting wakes, and none waits again.
    void stop();

    // Hands `job` to a waiting thread, or to one still starting. False, the job left as
    // it was, when enough jobs wait already or all is done.
    bool offer(Job& job);
    // The next job; nothing once all is done or the scan stopped.
    std::optional<Job> take();

    // Adds a thread, unless all is done, the scan stopped, or `cap` threads are counted:
    // `start(slot)` starts it, one thread adding at a time, and gives no thread when there
    // is no room for one. The calling thread, which counts from the start, has slot 0.
    // False when none was added.
    bool addThread(int cap, const std::function<std::thread(int slot)>& start);
    // How many threads run.
    ThreadCensus census();
    // Joins every thread added, also those that threads add meanwhile.
    void joinAll();

private:
    std::atomic<bool> stop_ = false;
    std::atomic<bool> wanted_ = false;
    std::mutex addMutex_; // held while a thread is added: one at a time
    std::mutex mutex_;    // guards jobs_, threads_, workers_, idle_ and done_
    std::condition_variable wake_;
    std::vector<Job> jobs_;
    std::vector<std::thread> threads_; // all but the calling one
    int workers_ = 1;
    int idle_ = 0;
    bool done_ = false;
};
