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
template <typename T>
std::optional<T> askWithin(std::chrono::milliseconds limit, std::function<T()> ask) {
    static_assert(std::is_move_constructible_v<T>);
    struct Slot {
        std::mutex mutex;
        std::condition_variable answered;
        std::optional<T> answer;
        bool done = false;
    };
    const auto slot = std::make_shared<Slot>();
    try {
        std::thread([slot, ask = std::move(ask)]() mutable {
            T answer = ask();
            const std::lock_guard lock(slot->mutex);
            slot->answer.emplace(std::move(answer));
            slot->done = true;
            slot->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(slot->mutex);
    if (!slot->answered.wait_for(lock, limit, [&] { return slot->done; }))
        return std::nullopt;
    return std::move(slot->answer);
}

// How long the window waits for the file system before it takes a folder as one that
// does not answer: long enough for any disk or live server, short enough to go unseen.
inline constexpr std::chrono::milliseconds kFileSystemAnswerLimit{500};
