#pragma once

#include "posixscan/excludepatterns.h"
#include "posixscan/jobhandoff.h"
#include "posixscan/linkedfiles.h"
#include "posixscan/posixfoldertree.h"
#include "posixscan/scanthreads.h"

#include <QByteArray>
#include <QByteArrayView>

#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// What the threads of one scan share, grouped by who may touch it and how.
struct ScanShared {
    // Set before the threads start; each thread reads them without a lock.
    struct Settings {
        const PseudoMounts& pseudoMounts;
        int topFd;
        FolderTree::FolderId topId;
        bool hiddenAtTop;
        ScanOptions options;
        NativePath top;
        std::optional<FolderTree::FolderId> listFile;
        const std::function<void(quint32)>* subFolderRead; // or nullptr
        int cap;                                           // the most threads
    };

    ScanShared(FolderRecord& record, Settings settings, const ThreadPlan& plan, int cores)
        : record(record), settings(std::move(settings)),
          exclude(this->settings.options.excludePatterns, this->settings.top), growth(cores, plan),
          descriptors(plan) {}

    // Starts one more thread that takes what the others give away, its chain kept to
    // `maxOpen` descriptors, or with 0 to a fair part of what is left of the budget; false
    // when there is no room for one (threads, descriptors, or the scan is over).
    bool addThread(std::size_t maxOpen);
    // Stops every thread, for the error that ran out (EMFILE, ENFILE, ENOMEM).
    void fail(int error) {
        int none = 0;
        exhausted.compare_exchange_strong(none, error);
        handOff.stop();
    }
    // Tells of a folder that could not be read whole; `below`: its path below the top,
    // each name followed by "/".
    void unreadable(QByteArrayView below, int error) const {
        if (!settings.options.unreadable)
            return;
        NativePath path = settings.top;
        if (!below.isEmpty() && !path.endsWith('/'))
            path += '/';
        path += below;
        if (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        settings.options.unreadable(path, error);
    }
    // Each sub-folder of the top is held by whoever reads in its tree: the thread that
    // entered it, and each job handed out from inside it. The last to let go reports it.
    void hold(quint32 subFolder) {
        if (settings.subFolderRead)
            held[subFolder - topFirst].fetch_add(1, std::memory_order_relaxed);
    }
    void letGo(quint32 subFolder) {
        if (settings.subFolderRead &&
            held[subFolder - topFirst].fetch_sub(1, std::memory_order_acq_rel) == 1)
            (*settings.subFolderRead)(subFolder);
    }
    bool isListFile(const struct stat& st) const {
        return settings.listFile && st.st_ino == settings.listFile->ino &&
               st.st_dev == settings.listFile->dev;
    }

    // Each thread fills in the nodes it was given (see folderrecord.h).
    FolderRecord& record;
    const Settings settings;
    const ExcludePatterns exclude;

    // Written by the first thread before it hands out a job, read by the others once they
    // took one: the top's first sub-folder, and for each sub-folder of the top how many
    // hold it (any thread).
    quint32 topFirst = 0;
    std::unique_ptr<std::atomic<int>[]> held;

    std::atomic<int> exhausted = 0; // the error that stopped the scan, or 0
    JobHandOff handOff;             // the work and the threads, under its own lock
    ThreadGrowth growth;            // when to add threads, under its own lock
    // Changed only while handOff adds a thread (in addThread's start), under its lock.
    DescriptorBudget descriptors;

    // For progress(), from any thread: each thread's counts on a line of its own, written
    // by that thread only, and the folder one of them is in, when asked.
    struct alignas(64) Counts {
        std::atomic<quint64> folders = 0;
        std::atomic<quint64> files = 0;
    };
    Counts counts[kMaxScanThreads];
    std::atomic<bool> wantPath = false;
    std::mutex pathMutex; // guards path
    QByteArray path;

    LinkedFiles linked; // with linksOnce: the files with several names, from any thread

    std::mutex mountRootsMutex;      // guards mountRoots
    std::vector<quint32> mountRoots; // the folders entered that are mounted there
};
