#include "posixscan/posixfoldertree.h"

#include "posixscan/descriptorlimit.h"
#include "posixscan/excludepatterns.h"
#include "posixscan/loopfigures.h"
#include "posixscan/recordorder.h"
#include "posixscan/scanshared.h"
#include "posixscan/scanthreads.h"
#include "posixscan/scanworker.h"

#include <cerrno>
#include <mutex>
#include <new>
#include <sys/stat.h>

using Node = FolderRecord::Node;

bool isExhaustion(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

void FolderTree::recordEmptyFolder(bool sizeKnown) {
    clear();
    Node& top = record_.node(record_.addNodes(1));
    top = Node();
    top.sizeKnown = sizeKnown;
}

void FolderTree::clear() {
    record_.clear();
    exhausted_ = 0;
}

FolderTree::Progress FolderTree::progress() const {
    const std::lock_guard lock(scanningMutex_);
    if (!scanning_)
        return {};
    Progress progress;
    {
        const std::lock_guard lock(scanning_->pathMutex);
        progress.folder = scanning_->path;
    }
    scanning_->wantPath = true;
    for (const ScanShared::Counts& counts : scanning_->counts) { // unused ones hold 0
        progress.folders += counts.folders.load(std::memory_order_relaxed);
        progress.files += counts.files.load(std::memory_order_relaxed);
    }
    return progress;
}

bool FolderTree::scan(int fd, const PseudoMounts& pseudoMounts, std::stop_token stop,
                      bool hiddenAtTop, const std::function<void(quint32)>& subFolderRead) {
    clear();
    struct stat top;
    if (::fstat(fd, &top) != 0) {
        recordEmptyFolder(false);
        return true;
    }
    if (options_ && ExcludePatterns(options_->excludePatterns, optionsTop_).matchesTop()) {
        recordEmptyFolder(); // left out, and all below it with it
        record_.node(0).isFolder = false;
        return true;
    }
    const int cores = usableCores();
    const ThreadPlan plan =
        planThreads(threads_ >= 0 ? threads_ : scanThreadsSetting(), descriptorsLeft(), cores);
    ScanShared shared(record_,
                      {pseudoMounts,
                       fd,
                       {top.st_dev, top.st_ino},
                       hiddenAtTop,
                       options_ ? *options_ : ScanOptions(),
                       optionsTop_,
                       listFile_,
                       subFolderRead ? &subFolderRead : nullptr,
                       plan.cap},
                      plan, cores);
    shared.descriptors.handOut(plan.firstOpen); // this thread's
    {
        const std::lock_guard lock(scanningMutex_);
        scanning_ = &shared;
    }
    // The threads look at the hand-off only: a stop stops it on the thread that asks.
    const std::stop_callback stopScan(std::move(stop), [&shared] { shared.handOff.stop(); });
    try {
        ScanWorker here(shared, 0, plan.firstOpen);
        for (int i = 1; i < plan.first; ++i) {
            if (!shared.addThread(plan.firstOpen))
                break;
        }
        here.scanFromTop();
        here.run();
    } catch (const std::bad_alloc&) {
        shared.fail(ENOMEM);
    }
    // Threads may start others until they are done; each is counted in before it ends.
    shared.handOff.joinAll();
    {
        const std::lock_guard lock(scanningMutex_);
        scanning_ = nullptr;
    }

    if (shared.handOff.stopped()) {
        const int exhausted = shared.exhausted;
        clear();
        exhausted_ = exhausted;
        return false;
    }
    const ScanOptions& options = shared.settings.options;
    if (options.linksOnce)
        shared.linked.countOnce(record_, options.order);
    record_.totalUp();
    countLoopsFromEachFolder(record_, hiddenAtTop, shared.mountRoots);
    orderSubFolders(record_, options.order);
    return true;
}
