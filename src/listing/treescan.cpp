#include "listing/treescan.h"

#include "listing/asidecall.h"

#include <deque>
#include <mutex>

struct TreeScan::Shared : aside::Meeting {
    // Declared first, so it is dropped last: what it made may point into it.
    std::shared_ptr<FileSystemInfo> fileSystem;
    std::stop_source stop;
    // Guarded by the meeting's mutex:
    bool done = false;
    std::unique_ptr<RecordedFolders> record;
    std::deque<SubFolder> subFolders;
};

TreeScan::TreeScan(std::shared_ptr<FileSystemInfo> fileSystem, TreeRead request, Kind kind)
    : shared_(std::make_shared<Shared>()) {
    shared_->fileSystem = std::move(fileSystem);
    request.stop = shared_->stop.get_token();
    auto read = [shared = shared_, request = std::move(request), kind] {
        std::unique_ptr<RecordedFolders> record;
        if (kind == Kind::Record) {
            record = shared->fileSystem->recordedFolders(request);
        } else {
            shared->fileSystem->listSubFolders(
                request, [&shared](QByteArrayView name, std::optional<ByteTotal> size) {
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
    if (!aside::runDetached(read))
        read(); // no thread to be had: the tree is read here, as a last resort
}

TreeScan::~TreeScan() {
    shared_->stop.request_stop();
}

template <typename Ready>
bool TreeScan::waitFor(std::unique_lock<std::mutex>& lock, const std::stop_token& stop,
                       const Meanwhile& meanwhile, Ready ready) {
    const auto goOn = [&] {
        meanwhile();
        return !stop.stop_requested();
    };
    if (shared_->waitFor(lock, goOn, ready))
        return true;
    shared_->stop.request_stop();
    return false;
}

std::unique_ptr<RecordedFolders> TreeScan::takeRecord(const std::stop_token& stop,
                                                      const Meanwhile& meanwhile) {
    std::unique_lock lock(shared_->mutex);
    if (!waitFor(lock, stop, meanwhile, [this] { return shared_->done; }))
        return nullptr;
    return std::move(shared_->record);
}

std::optional<TreeScan::SubFolder> TreeScan::nextSubFolder(const std::stop_token& stop,
                                                           const Meanwhile& meanwhile) {
    if (taken_.empty()) {
        std::unique_lock lock(shared_->mutex);
        if (!waitFor(lock, stop, meanwhile,
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
