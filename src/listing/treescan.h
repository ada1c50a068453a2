#pragma once

#include "listing/filesysteminfo.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

// One tree read on a thread of its own, so that the thread waiting for it never makes a
// call that could wait on the file system.
//
// The reading thread holds the file-system service and what it found through a shared
// state of its own, and is never joined: when the waiting thread gives up (a stop), the
// reading thread is told to stop and left to finish by itself, however long its call
// takes. What it finds then is dropped by that thread; nothing that anyone reads is
// written after the wait ended. The process may end while it still works.
class TreeScan {
public:
    // What is read: the record of the whole tree, or the restricted listing of the
    // folder's sub-folders.
    enum class Kind { Record, SubFolders };

    // Starts reading at once; the read's stop is the scan's own.
    TreeScan(std::shared_ptr<FileSystemInfo> fileSystem, TreeRead read, Kind kind);
    // Tells the reading thread to stop, if it still works, without waiting for it.
    ~TreeScan();
    TreeScan(const TreeScan&) = delete;
    TreeScan& operator=(const TreeScan&) = delete;

    // Called on the waiting thread at least every aside::kWaitSlice while it waits, which
    // ends at once when a stop is asked for through the token.
    using Meanwhile = std::function<void()>;

    // The record, once read; nothing when the wait was given up or the file system gave
    // no record. Only for Kind::Record, once.
    std::unique_ptr<RecordedFolders> takeRecord(const std::stop_token& stop,
                                                const Meanwhile& meanwhile);

    struct SubFolder {
        QByteArray name;
        std::optional<ByteTotal> size;
    };
    // The next sub-folder of the restricted listing, as soon as its tree is read; nothing
    // once all are listed, or when the wait was given up. Only for Kind::SubFolders.
    std::optional<SubFolder> nextSubFolder(const std::stop_token& stop, const Meanwhile& meanwhile);

private:
    struct Shared;
    // Waits until `ready` holds (true) or the wait is given up (false); called with
    // `lock` held.
    template <typename Ready>
    bool waitFor(std::unique_lock<std::mutex>& lock, const std::stop_token& stop,
                 const Meanwhile& meanwhile, Ready ready);

    std::shared_ptr<Shared> shared_;
    std::deque<SubFolder> taken_; // handed over, not yet asked for
};
