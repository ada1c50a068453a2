#pragma once

#include "posixscan/folderreader.h"
#include "posixscan/folderrecord.h"
#include "posixscan/posixfoldertree.h"
#include "posixscan/scanshared.h"
#include "posixscan/scanway.h"

#include <QByteArray>

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

struct Job;

// One thread's part of a scan: a depth-first walk with its own chain of open folders, that
// gives away part of what it has still to do when another thread runs dry.
class ScanWorker {
public:
    // In `slot` of the shared counts, its chain keeping `maxOpen` descriptors open at the
    // most.
    ScanWorker(ScanShared& shared, int slot, std::size_t maxOpen);

    // Reads the top folder, then walks below it.
    void scanFromTop();
    // Takes what the other threads give away until all is done.
    void run();

private:
    // Whether to go on; now and then adds threads.
    bool keepOn();
    void addThreads();
    void walk();
    void enter(quint32 index);
    void addFiles(quint64 files) {
        counts_.files.store(counts_.files.load(std::memory_order_relaxed) + files,
                            std::memory_order_relaxed);
    }
    void giveAway();
    void postPath();

    ScanShared& s_;
    FolderRecord& record_;
    const int slot_;
    ScanShared::Counts& counts_;
    ScanWay way_;
    unsigned sinceClockLook_ = 0;
    FolderReader reader_;
};
