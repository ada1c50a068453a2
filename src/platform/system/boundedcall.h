#pragma once

#include <QMetaObject>
#include <QObject>

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
// Each question runs on a thread of its own, which is detached: a call that never answers
// is left to finish by itself, or never, and nothing waits for it. It touches only what
// `ask` owns (capture by value) and what the thread and the caller share through a
// shared_ptr. A late answer is destroyed on that thread, unseen: an answer that holds a
// resource must free it in its destructor. The process's exit does not wait for such a
// thread.
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

// Where the answers of askLater() go: to the receiver's thread, by a queued call, for as
// long as the receiver is there. Its owner calls close() before the receiver goes; an
// answer that comes after that is dropped on its worker thread, unseen.
class Mailbox {
public:
    explicit Mailbox(QObject* receiver) : receiver_(receiver) {}
    void close() {
        const std::lock_guard lock(mutex_);
        receiver_ = nullptr;
    }
    template <typename F> void post(F call) {
        const std::lock_guard lock(mutex_);
        if (receiver_)
            QMetaObject::invokeMethod(receiver_, std::move(call), Qt::QueuedConnection);
    }

private:
    std::mutex mutex_;
    QObject* receiver_;
};

} // namespace boundedcall

// askLater() runs `ask` on a detached thread of its own and returns at once; `answered`
// is called with the answer on the mailbox's receiver's thread, when the answer comes,
// if it ever does. False when no thread could be had. The caller keeps its own clock for
// an answer that is late. `answered` is destroyed on the worker's thread when the
// receiver has gone: it may hold pointers to the receiver's side, never owners of them.
template <typename T>
bool askLater(std::shared_ptr<boundedcall::Mailbox> mailbox, std::function<T()> ask,
              std::function<void(const T&)> answered) {
    try {
        std::thread([mailbox = std::move(mailbox), ask = std::move(ask),
                     answered = std::move(answered)] {
            T answer = ask();
            mailbox->post([answered, answer = std::move(answer)] { answered(answer); });
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

// askWhile() waits for the answer for as long as `keepWaiting` says so. It is called on the
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

// How long the window waits for the file system before it tells the user that a folder
// does not answer: long enough for a disk or a server that is awake, short enough to be
// borne. Events go on meanwhile; one that is still waking up answers next time.
inline constexpr std::chrono::milliseconds kFileSystemAnswerLimit{1000};
