#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

// Work that must not hold up the thread that wants it: a file server that stops answering
// keeps a call in the kernel for as long as it likes.
//
// The work runs on a detached thread that is never joined: one whose call never comes back
// is left to finish by itself, or never, and the process's exit does not wait for it. It
// touches only what it owns (captured by value) and what it shares with its caller through
// a shared_ptr; whatever it makes after its caller gave up is destroyed on that thread,
// unseen, so an answer that holds a resource must free it in its destructor.
namespace aside {

// How often at the least a wait lets its caller look up.
inline constexpr std::chrono::milliseconds kWaitSlice{16};

// Starts `work` on a detached thread. False when no thread could be had: nothing started.
inline bool runDetached(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

// What a detached worker and the thread waiting on it share: the mutex guards whatever the
// owner of the meeting adds beside it, and `changed` is signalled when any of it changes.
struct Meeting {
    std::mutex mutex;
    std::condition_variable changed;

    // With `lock` held on `mutex`: waits until `ready()` holds (true), a slice at a time,
    // asking `goOn()` between slices without the lock; false as soon as it says no.
    template <typename GoOn, typename Ready>
    bool waitFor(std::unique_lock<std::mutex>& lock, GoOn&& goOn, Ready ready) {
        while (!changed.wait_for(lock, kWaitSlice, ready)) {
            lock.unlock();
            const bool go = goOn();
            lock.lock();
            if (!go)
                return false;
        }
        return true;
    }
};

// One answer from a detached thread.
template <typename T> struct Answer : Meeting {
    std::optional<T> value; // guarded by mutex; set once, when the work is done
};

// Starts `work` on a detached thread whose result lands in the answer; null when no
// thread could be had.
template <typename T> std::shared_ptr<Answer<T>> ask(std::function<T()> work) {
    auto answer = std::make_shared<Answer<T>>();
    const bool started = runDetached([answer, work = std::move(work)]() mutable {
        T value = work();
        const std::lock_guard lock(answer->mutex);
        answer->value.emplace(std::move(value));
        answer->changed.notify_all();
    });
    return started ? answer : nullptr;
}

// The answer of `work`, asked on a detached thread, waited for while `goOn()` (asked on
// this thread every slice) says so; nothing when it said no before the answer came, or
// when no thread could be had.
template <typename T, typename GoOn>
std::optional<T> askWhile(GoOn&& goOn, std::function<T()> work) {
    const std::shared_ptr<Answer<T>> answer = ask<T>(std::move(work));
    if (!answer)
        return std::nullopt;
    std::unique_lock lock(answer->mutex);
    answer->waitFor(lock, goOn, [&] { return answer->value.has_value(); });
    return std::move(answer->value); // also one that came just as the wait was given up
}

} // namespace aside
