#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

// A question to the file system that must not hold up the caller: a file server that
// stops answering keeps a call in the kernel for as long as it likes.
//
// askWithin() runs `ask` on a thread of its own and waits for its answer at most `limit`.
// Nothing comes back when the answer was not there in time, or when no thread could be
// had. A call that has not answered is left to finish by itself: its thread is detached,
// and it touches only what `ask` owns (capture by value) and a slot that the thread and
// the caller share. Its late answer is destroyed on that thread, unseen: an answer that
// holds a resource must free it in its destructor. The process's exit does not wait
// for such a thread.
namespace boundedcall {

template <typename T> struct Slot {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<T> answer;
    bool done = false;
};

// Starts `ask` on a detached thread; null when no thread could be had.
template <typename T> std::shared_ptr<Slot<T>> start(std::function<T()> ask) {
    const auto slot = std::make_shared<Slot<T>>();
    try {
        std::thread([slot, ask = std::move(ask)]() mutable {
            T answer = ask();
            const std::lock_guard lock(slot->mutex);
            slot->answer.emplace(std::move(answer));
            slot->done = true;
            slot->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return slot;
}

} // namespace boundedcall

template <typename T>
std::optional<T> askWithin(std::chrono::milliseconds limit, std::function<T()> ask) {
    static_assert(std::is_move_constructible_v<T>);
    const auto slot = boundedcall::start<T>(std::move(ask));
    if (!slot)
        return std::nullopt;
    std::unique_lock lock(slot->mutex);
    if (!slot->answered.wait_for(lock, limit, [&] { return slot->done; }))
        return std::nullopt;
    return std::move(slot->answer);
}

// askWhile() waits instead for as long as `keepWaiting` says so. It is called on the
// caller's thread every few milliseconds while the answer is out, and may let events
// through: a server that is only slow to wake is waited for, and the user may give up.
template <typename T>
std::optional<T> askWhile(const std::function<bool()>& keepWaiting, std::function<T()> ask) {
    static_assert(std::is_move_constructible_v<T>);
    const auto slot = boundedcall::start<T>(std::move(ask));
    if (!slot)
        return std::nullopt;
    std::unique_lock lock(slot->mutex);
    while (
        !slot->answered.wait_for(lock, std::chrono::milliseconds(16), [&] { return slot->done; })) {
        lock.unlock();
        const bool goOn = keepWaiting();
        lock.lock();
        if (!goOn && !slot->done)
            return std::nullopt;
    }
    return std::move(slot->answer);
}

// How long the window waits for the file system, without letting events through, before
// it takes a folder as one that does not answer: long enough for a disk or a server that
// is awake, short enough to be borne. One that is still waking up answers next time.
inline constexpr std::chrono::milliseconds kFileSystemAnswerLimit{1000};
