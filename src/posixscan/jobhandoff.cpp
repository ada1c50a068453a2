#include "posixscan/jobhandoff.h"

#include <algorithm>

void JobHandOff::stop() {
    stop_ = true;
    const std::lock_guard lock(mutex_);
    wake_.notify_all();
}

bool JobHandOff::offer(Job& job) {
    {
        const std::lock_guard lock(mutex_);
        // One job may wait for a thread that is still starting.
        if (int(jobs_.size()) >= std::max(idle_, 1) || done_) {
            wanted_ = false;
            return false;
        }
        jobs_.push_back(std::move(job));
        wanted_ = idle_ > int(jobs_.size());
    }
    wake_.notify_one();
    return true;
}

std::optional<Job> JobHandOff::take() {
    std::unique_lock lock(mutex_);
    ++idle_;
    while (jobs_.empty() && !done_ && !stop_) {
        if (idle_ == workers_) {
            done_ = true;
            wake_.notify_all();
            break;
        }
        wanted_ = true;
        wake_.wait(lock);
    }
    --idle_;
    if (stop_ || jobs_.empty())
        return std::nullopt;
    Job job = std::move(jobs_.back());
    jobs_.pop_back();
    wanted_ = idle_ > int(jobs_.size()); // others still wait
    return job;
}

bool JobHandOff::addThread(int cap, const std::function<std::thread(int slot)>& start) {
    const std::lock_guard adding(addMutex_);
    int slot = 0;
    {
        const std::lock_guard lock(mutex_);
        if (done_ || stop_ || workers_ >= cap)
            return false;
        threads_.reserve(threads_.size() + 1);
        // Counted in before it can ask for work, or its first wait might look like the end.
        slot = workers_++;
    }
    // Starting a thread takes a while on a loaded machine: the others go on meanwhile. All
    // is not done before the thread adding it waits for work, nor are all threads joined
    // before it ends, so the handle finds its place in time.
    std::thread thread = start(slot);
    const std::lock_guard lock(mutex_);
    if (!thread.joinable()) {
        --workers_; // the caller is at work, so this cannot be the last one to wait
        return false;
    }
    threads_.push_back(std::move(thread));
    return true;
}

ThreadCensus JobHandOff::census() {
    const std::lock_guard lock(mutex_);
    return {workers_};
}

void JobHandOff::joinAll() {
    for (;;) {
        std::thread thread;
        {
            const std::lock_guard lock(mutex_);
            if (threads_.empty())
                return;
            thread = std::move(threads_.back());
            threads_.pop_back();
        }
        thread.join();
    }
}
