#pragma once

#include "listing/asidecall.h"

#include <QMetaObject>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

// A question to the file system whose answer comes back to a QObject's thread, for one
// that must not wait for it. Each question runs on a thread of its own, under the rules
// of aside::runDetached; aside::askWhile is the one that waits for its answer.
namespace boundedcall {

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
    return aside::runDetached(
        [mailbox = std::move(mailbox), ask = std::move(ask), answered = std::move(answered)] {
            T answer = ask();
            mailbox->post([answered, answer = std::move(answer)] { answered(answer); });
        });
}

// How long the window waits for the file system before it tells the user that a folder
// does not answer: long enough for a disk or a server that is awake, short enough to be
// borne. Events go on meanwhile; one that is still waking up answers next time.
inline constexpr std::chrono::milliseconds kFileSystemAnswerLimit{1000};
