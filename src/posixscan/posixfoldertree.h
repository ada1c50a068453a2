#pragma once

#include "listing/filesysteminfo.h"
#include "posixscan/folderrecord.h"

#include <QByteArray>
#include <QByteArrayView>

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

class PseudoMounts;
struct ScanShared;

// What one pass over a tree found: every folder below the top, with its sub-folders in
// the file system's order and the bytes of all regular files below it (every hard link
// counted). A listing of the whole tree asks about each folder in turn; answering from
// this record costs one pass over the disk instead of one per level.
class FolderTree {
public:
    using Node = FolderRecord::Node;

    struct FolderId {
        dev_t dev;
        ino_t ino;
    };

    // What opening a sub-folder by name found.
    enum class Reached { Folder, NotAFolder, Loop, Unreadable };

    // How far a scan has come; the folder relative to the top, with a trailing "/".
    struct Progress {
        QByteArray folder;
        quint64 folders = 0;
        quint64 files = 0;
    };

    // Scans the folder open at `fd` on threads of the scan (see scanthreads.h for how many),
    // all of them sharing what descriptors are left; the calling thread is one of them.
    // False when a stop was asked for through `stop`, or when descriptors or memory ran
    // out (see exhausted()); the record is then empty.
    // A folder gone by the time it is opened, or found moved away when a thread goes down
    // to it or back up to it, is looked for once more (see vanishedfolders.h); not found
    // again, it is recorded without a size and told of as unreadable. A top that the
    // exclude patterns match is recorded as one node that is no folder. Without
    // `hiddenAtTop`, the folders directly inside whose names begin with "." are passed
    // over, and the top itself is left without a size.
    // `subFolderRead`, when given, is called on a scanning thread with the node of each
    // sub-folder of the top as soon as all of its tree is read (its figure is not yet
    // totalled up), in whatever order they finish; a sub-folder left unread (the scan
    // stopped, or the way to it was lost) is not reported.
    bool scan(int fd, const PseudoMounts& pseudoMounts, std::stop_token stop,
              bool hiddenAtTop = true,
              const std::function<void(quint32 node)>& subFolderRead = nullptr);
    // 0: as many threads as the waiting on the file system needs; otherwise that many (at
    // most kMaxScanThreads), as far as descriptors allow; -1 (as at the start): as
    // setScanThreads() said. The number only changes how fast.
    void setThreads(int threads) { threads_ = threads; }
    // The error (EMFILE, ENFILE, ENOMEM) that stopped the last scan, or 0.
    int exhausted() const { return exhausted_; }
    // For any thread to ask while the scan works.
    Progress progress() const;

    void clear();
    // A record of one folder with nothing in it; `sizeKnown` false: it could not be read.
    void recordEmptyFolder(bool sizeKnown = true);

    static std::optional<ByteTotal> sizeOf(const Node& node) {
        return node.sizeKnown ? std::optional<ByteTotal>(node.bytes()) : std::nullopt;
    }
    const FolderRecord& record() const { return record_; }
    void setMemoryLimit(std::size_t bytes) { record_.setMemoryLimit(bytes); }
    // A file counted as empty wherever the scan meets it.
    void setListFile(std::optional<FolderId> file) { listFile_ = file; }
    // What the scans leave out, and whom they tell of unreadable folders, which they name
    // by `top` and the path below it. The options must outlive the scans.
    void setScanOptions(const ScanOptions* options, const NativePath& top) {
        options_ = options;
        optionsTop_ = top;
    }

private:
    FolderRecord record_;
    int exhausted_ = 0;
    int threads_ = -1;
    std::optional<FolderId> listFile_;
    const ScanOptions* options_ = nullptr;
    NativePath optionsTop_;
    mutable std::mutex scanningMutex_; // guards scanning_: progress() asks from any thread
    ScanShared* scanning_ = nullptr;   // while scan() works
};

// Whether an error means that the system ran out of something, rather than that one
// folder could not be read.
bool isExhaustion(int error);
