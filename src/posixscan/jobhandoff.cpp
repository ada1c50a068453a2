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
    const std::lock_guard lock(mutex_);
    if (done_ || stop_ || workers_ >= cap)
        return false;
    threads_.reserve(threads_.size() + 1); // the thread, once started, must find its place
    std::thread thread = start(workers_);
    if (!thread.joinable())
        return false;
    threads_.push_back(std::move(thread));
    ++workers_;
    return true;
}

ThreadCensus JobHandOff::census() {
    const std::lock_guard lock(mutex_);
    return {workers_, idle_ > 0};
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
