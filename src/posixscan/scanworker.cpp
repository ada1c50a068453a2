#include "posixscan/scanworker.h"

#include "listing/hiddenname.h"
#include "posixscan/jobhandoff.h"
#include "posixscan/posixmounts.h"
#include "posixscan/vanishedfolders.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using Reached = FolderTree::Reached;
using Node = FolderRecord::Node;

// What a folder costs the file system beside its files: a lookup, an open and a read.
constexpr quint64 kCallsPerFolder = 3;

// Kernel file systems hold nothing on a drive, and a folder that is one of its own
// parents again (a bind mount) would never end.
Reached whatIsOpened(int fd, dev_t dev, bool loops, dev_t parentDev,
                     const PseudoMounts& pseudoMounts) {
    if (loops)
        return Reached::Loop;
    if (dev != parentDev && pseudoMounts.isPseudo(dev, fd))
        return Reached::NotAFolder;
    return Reached::Folder;
}

// Marks a sub-folder that could not be entered, as the ways of opening it told; the
// folders above learn of it when the record is totalled up.
void note(Node& node, Reached reached) {
    switch (reached) {
    case Reached::Folder:
        break;
    case Reached::Loop:
        node.loopsBack = true;
        [[fallthrough]];
    case Reached::NotAFolder:
        node.isFolder = false;
        break;
    case Reached::Unreadable:
        node.sizeKnown = false; // it is listed, but neither its size nor its parents' is had
        break;
    }
}

} // namespace

ScanWorker::ScanWorker(ScanShared& shared, int slot, std::size_t maxOpen)
    : s_(shared), record_(shared.record), slot_(slot), counts_(shared.counts[slot]),
      way_(shared, maxOpen), reader_(shared, [this] { return keepOn(); }) {
    s_.growth.started(slot);
}

void ScanWorker::scanFromTop() {
    if (!way_.openBase())
        return;
    record_.node(record_.addNodes(1)) = Node();
    const quint64 files = reader_.read(way_.dirs, 0, true);
    addFiles(files);
    s_.growth.asked(slot_, kCallsPerFolder + files);
    const Node& top = record_.node(0);
    way_.levels.assign(1, {0, top.firstChild, top.firstChild + top.childCount, s_.settings.topId});
    way_.floor = 0;
    if (s_.settings.subFolderRead) {
        s_.topFirst = top.firstChild;
        s_.held = std::make_unique<std::atomic<int>[]>(top.childCount);
    }
    if (!s_.settings.hiddenAtTop)
        record_.node(0).sizeKnown = false; // not all of it was counted
    // The other threads are still starting: with half of the top waiting for them, one
    // begins at once instead of asking and sleeping until it is handed something.
    if (s_.handOff.census().running >= 2)
        giveAway();
    walk();
}

void ScanWorker::run() {
    for (;;) {
        s_.growth.waitStarts(slot_);
        std::optional<Job> job = s_.handOff.take();
        s_.growth.waitEnds(slot_);
        if (!job)
            return;
        const quint64 opened = way_.opened;
        const bool started = way_.startJob(*job);
        s_.growth.asked(slot_, kCallsPerFolder * (way_.opened - opened));
        if (started)
            walk();
    }
}

bool ScanWorker::keepOn() {
    if (s_.handOff.stopped())
        return false;
    if (s_.growth.timeToLook(sinceClockLook_))
        addThreads();
    return true;
}

// Adds threads when those at work spent most of the last period blocked (see
// scanthreads.h). One thread looks at a time; the others go on.
void ScanWorker::addThreads() {
    const int more = s_.growth.look([this] { return s_.handOff.census(); });
    for (int i = 0; i < more; ++i) {
        if (!s_.addThread(0))
            break;
    }
}

void ScanWorker::walk() {
    while (keepOn()) {
        if (s_.handOff.wanted())
            giveAway();
        ScanWay::Level& level = way_.levels.back();
        if (level.next < level.end) {
            const quint32 next = level.next++;
            const bool atTop = way_.levels.size() == 1;
            if (atTop)
                s_.hold(next);
            enter(next);
            if (atTop && way_.levels.size() == 1)
                s_.letGo(next); // nothing below it to read
            continue;
        }
        if (way_.levels.size() - 1 == way_.floor) {
            if (way_.floor > 0)
                s_.letGo(way_.levels[1].node); // the job is done
            return;
        }
        const quint32 done = way_.levels.back().node;
        way_.levels.pop_back();
        if (way_.levels.size() == 1)
            s_.letGo(done);
        if (!way_.dirs.pop() && !way_.foundAgain(errno)) {
            if (way_.floor > 0)
                s_.letGo(way_.levels[1].node); // the job is over
            return;
        }
    }
}

void ScanWorker::enter(quint32 index) {
    Node& node = record_.node(index);
    const char* name = record_.nameOf(node);
    if ((way_.levels.size() == 1 && !s_.settings.hiddenAtTop && isHiddenName(name)) ||
        s_.settings.pseudoMounts.isAutomountPoint(way_.dirs.topFd(), name, way_.dirs.top().dev)) {
        node.isFolder = false;
        return;
    }
    if (!openListedFolder(way_.dirs, name)) {
        // Gone for good, no folder any more, or not to be read: never left out in
        // silence, as the folder above would be sized as it never was.
        const int error = errno;
        if (isExhaustion(error)) {
            s_.fail(error);
            return;
        }
        s_.unreadable(way_.dirs.pathBelowBase('/') + name, error);
        note(node, Reached::Unreadable);
        return;
    }
    const DirStack::Frame& folder = way_.dirs.top();
    const std::optional<std::size_t> again =
        way_.dirs.find(folder.dev, folder.ino, way_.dirs.depth() - 1);
    // Another file system, when the scan keeps to one, is left out as a file would be.
    const Reached reached =
        s_.settings.options.oneFileSystem && folder.dev != s_.settings.topId.dev
            ? Reached::NotAFolder
            : whatIsOpened(folder.fd, folder.dev, again.has_value(),
                           way_.dirs.at(way_.dirs.depth() - 2).dev, s_.settings.pseudoMounts);
    if (reached != Reached::Folder) {
        note(node, reached);
        if (reached == Reached::Loop)
            node.firstChild = way_.levels[*again].node;
        if (!way_.dirs.pop())
            way_.foundAgain(errno);
        return;
    }
    if (folder.mountRoot) {
        const std::lock_guard lock(s_.mountRootsMutex);
        s_.mountRoots.push_back(index);
    }
    const quint64 files = reader_.read(way_.dirs, index, false);
    addFiles(files);
    s_.growth.asked(slot_, kCallsPerFolder + files);
    way_.levels.push_back(
        {index, node.firstChild, node.firstChild + node.childCount, {folder.dev, folder.ino}});
    counts_.folders.store(counts_.folders.load(std::memory_order_relaxed) + 1,
                          std::memory_order_relaxed);
    if (s_.wantPath.load(std::memory_order_relaxed))
        postPath();
}

// Half of the sub-folders still to do at the shallowest level that has some: the largest
// share of work there is to give, for the fewest folders named on the way.
void ScanWorker::giveAway() {
    std::size_t from = way_.levels.size();
    quint64 left = 0;
    for (std::size_t i = way_.floor; i < way_.levels.size() && left < 2; ++i) {
        const quint32 here = way_.levels[i].end - way_.levels[i].next;
        if (here > 0 && from == way_.levels.size())
            from = i;
        left += here;
    }
    if (left < 2)
        return; // keeping the last of it is as quick
    ScanWay::Level& level = way_.levels[from];
    const quint32 give = (level.end - level.next + 1) / 2;
    Job job;
    job.first = level.end - give;
    job.end = level.end;
    for (std::size_t i = 0; i <= from; ++i) {
        job.nodes.push_back(way_.levels[i].node);
        job.ids.push_back({way_.dirs.at(i).dev, way_.dirs.at(i).ino});
    }
    if (from > 0)
        s_.hold(way_.levels[1].node); // until the job is done
    if (!s_.handOff.offer(job)) {
        if (from > 0)
            s_.letGo(way_.levels[1].node); // held by this thread still: never the last
        return;
    }
    level.end -= give;
}

void ScanWorker::postPath() {
    if (!s_.wantPath.exchange(false, std::memory_order_relaxed))
        return;
    QByteArray path = way_.dirs.pathBelowBase('/');
    const std::lock_guard lock(s_.pathMutex);
    s_.path = std::move(path);
}
