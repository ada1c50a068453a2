#include "listing/treescan.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

struct TreeScan::Shared {
    // Declared first, so it is dropped last: what it made may point into it.
    std::shared_ptr<FileSystemInfo> fileSystem;
    std::atomic<bool> stop = false;
    std::mutex mutex; // guards what follows
    std::condition_variable changed;
    bool done = false;
    std::unique_ptr<RecordedFolders> record;
    std::deque<SubFolder> subFolders;
};

TreeScan::TreeScan(std::shared_ptr<FileSystemInfo> fileSystem, const NativePath& folder, Kind kind)
    : shared_(std::make_shared<Shared>()) {
    shared_->fileSystem = std::move(fileSystem);
    auto read = [shared = shared_, folder, kind] {
        const KeepGoing keepGoing = [&shared] {
            return !shared->stop.load(std::memory_order_relaxed);
        };
        std::unique_ptr<RecordedFolders> record;
        if (kind == Kind::Record) {
            record = shared->fileSystem->recordedFolders(folder, keepGoing);
        } else {
            shared->fileSystem->listSubFolders(
                folder, keepGoing, [&shared](QByteArrayView name, std::optional<ByteTotal> size) {
                    // Tens of thousands may come in a burst: the waiting side takes all that
                    // came at its next look, within a wait slice, rather than being woken
                    // for each.
                    const std::lock_guard lock(shared->mutex);
                    shared->subFolders.push_back({name.toByteArray(), size});
                });
        }
        const std::lock_guard lock(shared->mutex);
        shared->record = std::move(record);
        shared->done = true;
        shared->changed.notify_all();
    };
    try {
        std::thread(read).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the tree is read here, as a last resort.
        read();
    }
}

TreeScan::~TreeScan() {
    shared_->stop = true;
}

template <typename Ready>
bool TreeScan::waitFor(std::unique_lock<std::mutex>& lock, const WhileWaiting& whileWaiting,
                       Ready ready) {
    while (!shared_->changed.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs), ready)) {
        lock.unlock();
        const bool goOn = whileWaiting();
        lock.lock();
        if (!goOn) {
            shared_->stop = true;
            return false;
        }
    }
    return true;
}

std::unique_ptr<RecordedFolders> TreeScan::takeRecord(const WhileWaiting& whileWaiting) {
    std::unique_lock lock(shared_->mutex);
    if (!waitFor(lock, whileWaiting, [this] { return shared_->done; }))
        return nullptr;
    return std::move(shared_->record);
}

std::optional<TreeScan::SubFolder> TreeScan::nextSubFolder(const WhileWaiting& whileWaiting) {
    if (taken_.empty()) {
        std::unique_lock lock(shared_->mutex);
        if (!waitFor(lock, whileWaiting,
                     [this] { return shared_->done || !shared_->subFolders.empty(); }))
            return std::nullopt;
        taken_.swap(shared_->subFolders); // all that came, under one lock
    }
    if (taken_.empty())
        return std::nullopt;
    SubFolder next = std::move(taken_.front());
    taken_.pop_front();
    return next;
}
