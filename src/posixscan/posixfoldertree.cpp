#include "posixscan/posixfoldertree.h"

#include "posixscan/descriptorlimit.h"
#include "posixscan/excludepatterns.h"
#include "posixscan/loopfigures.h"
#include "posixscan/posixdirstack.h"
#include "posixscan/posixmounts.h"
#include "posixscan/scanthreads.h"
#include "posixscan/vanishedfolders.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using Reached = FolderTree::Reached;
using Node = FolderRecord::Node;
using GoOn = std::function<bool()>;

// Descriptors a scan leaves to the rest of the program: the list file, a mount check,
// counting the open ones, a way back by name.
constexpr std::size_t kDescriptorReserve = 6;
// Plenty for ordinary trees; deeper folders are found again through "..".
constexpr std::size_t kMaxOpenPerChain = 48;
// A chain holds up to its cap, and two more for a moment while it climbs.
constexpr std::size_t kChainExtra = 2;
// The fewest descriptors a thread's chain can work with.
constexpr std::size_t kChainMinimum = 2 + kChainExtra;
// How often the scan looks at how its threads spent their time, and how many folders a
// thread enters between looks at the clock.
constexpr std::chrono::milliseconds kSamplePeriod{10};
constexpr unsigned kFoldersPerClockLook = 4;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Kernel file systems hold nothing on a drive, and a folder that is one of its own
// parents again (a bind mount) would never end.
// A thread with a table of descriptors of its own holds copies of all that were open
// when it was made. One held in a call the file system never answers would keep them
// open to the end: the standard streams (a reader of the output would wait for their end
// with it) and whatever the program had open. It keeps only the top folder it starts from.
void keepOnlyOwnDescriptors(int topFd) {
    if (topFd > 3)
        ::close_range(3, unsigned(topFd) - 1, 0);
    ::close_range(unsigned(topFd) + 1, ~0U, 0);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd <= 2 && null >= 0; ++fd) {
        if (fd != topFd && fd != null)
            ::dup2(null, fd);
    }
    if (null > 2)
        ::close(null);
}

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

// Calls `keepGoing` at most every so often, however often it is asked.
class KeepGoingGate {
public:
    KeepGoingGate(const KeepGoing& keepGoing, std::chrono::milliseconds interval)
        : keepGoing_(keepGoing), interval_(interval.count()) {
        since_.start();
    }
    bool operator()() {
        if (since_.elapsed() < interval_)
            return true;
        since_.restart();
        return !keepGoing_ || keepGoing_();
    }

private:
    const KeepGoing& keepGoing_;
    const qint64 interval_;
    QElapsedTimer since_;
};

// A run of sub-folders of one folder, handed from one thread to the other with the way
// down to that folder.
struct Job {
    std::vector<quint32> nodes; // from the top down to the folder
    std::vector<FolderTree::FolderId> ids;
    quint32 first = 0;
    quint32 end = 0;
};

} // namespace

bool isExhaustion(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// What the threads of one scan share.
struct FolderTree::Shared {
    Shared(FolderRecord& record, const PseudoMounts& pseudoMounts, int topFd, FolderId topId,
           bool hiddenAtTop, const ScanOptions* options, const NativePath& top)
        : record(record), pseudoMounts(pseudoMounts), topFd(topFd), topId(topId),
          hiddenAtTop(hiddenAtTop), options(options ? *options : ScanOptions()), top(top),
          exclude(this->options.excludePatterns, top) {}

    void fail(int error) {
        int none = 0;
        exhausted.compare_exchange_strong(none, error);
        stopAll();
    }
    // `below`: the folder's path below the top, each name followed by "/".
    void unreadable(QByteArrayView below, int error) const {
        if (!options.unreadable)
            return;
        NativePath path = top;
        if (!below.isEmpty() && !path.endsWith('/'))
            path += '/';
        path += below;
        if (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        options.unreadable(path, error);
    }
    // Each sub-folder of the top is held by whoever reads in its tree: the thread that
    // entered it, and each job handed out from inside it. The last to let go reports it.
    void hold(quint32 subFolder) {
        if (subFolderRead)
            held[subFolder - topFirst].fetch_add(1, std::memory_order_relaxed);
    }
    void letGo(quint32 subFolder) {
        if (subFolderRead &&
            held[subFolder - topFirst].fetch_sub(1, std::memory_order_acq_rel) == 1)
            (*subFolderRead)(subFolder);
    }
    bool isListFile(const struct stat& st) const {
        return listFile && st.st_ino == listFile->ino && st.st_dev == listFile->dev;
    }
    void stopAll() {
        stop = true;
        const std::lock_guard lock(mutex);
        wake.notify_all();
    }

    FolderRecord& record;
    const PseudoMounts& pseudoMounts;
    const int topFd;
    const FolderId topId;
    const bool hiddenAtTop;
    const ScanOptions options;
    const NativePath top;
    const ExcludePatterns exclude;
    std::optional<FolderId> listFile;
    std::chrono::milliseconds interval{50};
    const std::function<void(quint32)>* subFolderRead = nullptr;
    quint32 topFirst = 0;                     // the top's first sub-folder
    std::unique_ptr<std::atomic<int>[]> held; // one for each sub-folder of the top

    std::atomic<bool> stop = false;
    std::atomic<int> exhausted = 0;
    std::atomic<bool> wanted = false; // a thread waits for work

    std::mutex mutex;                // guards what follows
    std::vector<quint32> mountRoots; // the folders entered that are mounted there
    std::condition_variable wake;
    std::vector<Job> jobs;
    int workers = 1;
    int idle = 0;
    bool done = false;
    std::vector<std::thread> threads; // started by any of them, joined by scan()
    std::size_t descriptorBudget = 0; // for all the chains together
    std::size_t descriptorsHandedOut = 0;

    // Adding threads: only while the count is left to the scan.
    int cores = 1;
    int cap = 1;
    std::atomic<bool> growing = false;

    // Each thread's counts and times on a line of its own; the folder one of them is in,
    // when asked.
    struct alignas(64) Counts {
        std::atomic<quint64> folders = 0;
        std::atomic<quint64> files = 0;
        std::atomic<qint64> idleNs = 0; // waiting for work, over the whole scan
        std::atomic<pid_t> tid = 0;     // 0 until the thread runs
        pthread_t thread{};
        // As the last look found them; only the thread looking touches these.
        qint64 seenAt = 0;
        qint64 seenIdle = 0;
        ThreadTimes seen;
    };
    Counts counts[kMaxScanThreads];
    std::mutex lookMutex;    // one thread looks at the times at once
    bool wantedMore = false; // at the last look; under lookMutex
    std::atomic<qint64> nextLook = 0;
    std::atomic<bool> wantPath = false;
    std::mutex pathMutex;
    QByteArray path;
};

// One thread's part of a scan: a depth-first walk with its own chain of open folders,
// that gives away part of what it has still to do when the other thread runs dry.
class FolderTree::Worker {
public:
    Worker(Shared& shared, int slot, std::size_t maxOpen, const GoOn* tick)
        : s_(shared), record_(shared.record), names_(shared.record), counts_(shared.counts[slot]),
          tick_(tick) {
        dirs_.setMaxOpen(maxOpen);
        counts_.thread = ::pthread_self();
        counts_.tid = pid_t(::syscall(SYS_gettid));
    }

    // Reads the top folder, then walks below it.
    void scanFromTop() {
        if (!openBase())
            return;
        record_.node(record_.addNodes(1)) = Node();
        readFolder(0, true);
        const Node& top = record_.node(0);
        levels_.assign(1, {0, top.firstChild, top.firstChild + top.childCount, s_.topId});
        floor_ = 0;
        if (s_.subFolderRead) {
            s_.topFirst = top.firstChild;
            s_.held = std::make_unique<std::atomic<int>[]>(top.childCount);
        }
        if (!s_.hiddenAtTop)
            record_.node(0).sizeKnown = false; // not all of it was counted
        // The other thread is still starting: with half of the top waiting for it, it
        // begins at once instead of asking and sleeping until it is handed something.
        if (s_.workers >= 2)
            giveAway();
        walk();
    }

    // Takes what the other thread gives away until all is done.
    void run() {
        while (std::optional<Job> job = takeJob()) {
            if (startJob(*job))
                walk();
        }
    }

private:
    struct Level {
        quint32 node;
        quint32 next;
        quint32 end;
        FolderId id; // what the folder was when entered, to find it again
    };

    bool openBase() {
        dirs_.clear();
        const int fd = ::fcntl(s_.topFd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            s_.fail(isExhaustion(errno) ? errno : EMFILE);
            return false;
        }
        dirs_.adoptBase(fd, s_.topId.dev, s_.topId.ino);
        return true;
    }

    bool keepOn() {
        if (s_.stop.load(std::memory_order_relaxed))
            return false;
        if (tick_ && !(*tick_)()) {
            s_.stopAll();
            return false;
        }
        if (s_.growing.load(std::memory_order_relaxed) &&
            ++sinceClockLook_ >= kFoldersPerClockLook) {
            sinceClockLook_ = 0;
            if (nowNs() >= s_.nextLook.load(std::memory_order_relaxed))
                lookAtTimes();
        }
        return true;
    }

    // Adds threads when those at work spent most of the last period blocked (see
    // scanthreads.h). One thread looks at a time; the others go on.
    void lookAtTimes() {
        const std::unique_lock look(s_.lookMutex, std::try_to_lock);
        const qint64 now = nowNs();
        if (!look.owns_lock() || now < s_.nextLook.load(std::memory_order_relaxed))
            return;
        s_.nextLook = now + std::chrono::nanoseconds(kSamplePeriod).count();
        int running;
        bool someIdle;
        {
            const std::lock_guard lock(s_.mutex);
            running = s_.workers;
            someIdle = s_.idle > 0;
        }
        qint64 busy = 0, run = 0, queued = 0;
        for (int i = 0; i < running; ++i) {
            Shared::Counts& c = s_.counts[i];
            const pid_t tid = c.tid.load(std::memory_order_acquire);
            ThreadTimes times;
            if (tid == 0 || !readThreadTimes(tid, c.thread, times))
                continue;
            const qint64 idle = c.idleNs.load(std::memory_order_relaxed);
            if (c.seenAt != 0) {
                busy += std::max<qint64>(0, now - c.seenAt - (idle - c.seenIdle));
                run += times.runNs - c.seen.runNs;
                queued += times.queuedNs - c.seen.queuedNs;
            }
            c.seenAt = now;
            c.seenIdle = idle;
            c.seen = times;
        }
        // A thread with nothing to do says there is no work for more; and one period
        // alone may be a stall, so two in a row must say so.
        const int wanted =
            someIdle ? running : threadsWanted(s_.cores, running, s_.cap, busy, run, queued);
        const bool wantedBefore = s_.wantedMore;
        s_.wantedMore = wanted > running;
        if (!wantedBefore)
            return;
        for (int i = running; i < wanted; ++i) {
            if (!startThread(s_, 0))
                break;
        }
    }

    void walk() {
        while (keepOn()) {
            if (s_.wanted.load(std::memory_order_relaxed))
                giveAway();
            Level& level = levels_.back();
            if (level.next < level.end) {
                const quint32 next = level.next++;
                const bool atTop = levels_.size() == 1;
                if (atTop)
                    s_.hold(next);
                enter(next);
                if (atTop && levels_.size() == 1)
                    s_.letGo(next); // nothing below it to read
                continue;
            }
            if (levels_.size() - 1 == floor_) {
                if (floor_ > 0)
                    s_.letGo(levels_[1].node); // the job is done
                return;
            }
            const quint32 done = levels_.back().node;
            levels_.pop_back();
            if (levels_.size() == 1)
                s_.letGo(done);
            if (!dirs_.pop() && !foundAgain(errno)) {
                if (floor_ > 0)
                    s_.letGo(levels_[1].node); // the job is over
                return;
            }
        }
    }

    void enter(quint32 index) {
        Node& node = record_.node(index);
        const char* name = record_.nameOf(node);
        if ((levels_.size() == 1 && !s_.hiddenAtTop && name[0] == '.') ||
            s_.pseudoMounts.isAutomountPoint(dirs_.topFd(), name, dirs_.top().dev)) {
            node.isFolder = false;
            return;
        }
        if (!openListedFolder(dirs_, name)) {
            // Gone for good, no folder any more, or not to be read: never left out in
            // silence, as the folder above would be sized as it never was.
            const int error = errno;
            if (isExhaustion(error)) {
                s_.fail(error);
                return;
            }
            s_.unreadable(dirs_.pathBelowBase('/') + name, error);
            note(node, Reached::Unreadable);
            return;
        }
        const DirStack::Frame& folder = dirs_.top();
        const std::optional<std::size_t> again =
            dirs_.find(folder.dev, folder.ino, dirs_.depth() - 1);
        // Another file system, when the scan keeps to one, is left out as a file would be.
        const Reached reached =
            s_.options.oneFileSystem && folder.dev != s_.topId.dev
                ? Reached::NotAFolder
                : whatIsOpened(folder.fd, folder.dev, again.has_value(),
                               dirs_.at(dirs_.depth() - 2).dev, s_.pseudoMounts);
        if (reached != Reached::Folder) {
            note(node, reached);
            if (reached == Reached::Loop)
                node.firstChild = levels_[*again].node;
            if (!dirs_.pop())
                foundAgain(errno);
            return;
        }
        if (folder.mountRoot) {
            const std::lock_guard lock(s_.mutex);
            s_.mountRoots.push_back(index);
        }
        readFolder(index, false);
        levels_.push_back(
            {index, node.firstChild, node.firstChild + node.childCount, {folder.dev, folder.ino}});
        counts_.folders.store(counts_.folders.load(std::memory_order_relaxed) + 1,
                              std::memory_order_relaxed);
        if (s_.wantPath.load(std::memory_order_relaxed))
            postPath();
    }

    // Notes the folder's files and sub-folders in node `index`; its size is unknown when
    // the folder could not be read whole.
    void readFolder(quint32 index, bool fromStart) {
        const int fd = dirs_.topFd();
        FolderEntries entries(fd, fromStart);
        ByteTotal bytes = 0;
        quint64 files = 0;
        bool readable = true;
        int error = 0; // why an entry could not be looked at
        const bool excluding = !s_.exclude.empty();
        QByteArray path = excluding ? s_.exclude.pathFor(dirs_.pathBelowBase('/')) : QByteArray();
        found_.clear();
        unsigned read = 0;
        while (entries.next()) {
            // A folder of a million files takes a while too.
            if (++read % 1024 == 0 && !keepOn()) {
                readable = false;
                break;
            }
            const char* name = entries.name();
            if (excluding && s_.exclude.matches(path, name))
                continue;
            bool folder = entries.type() == DT_DIR;
            if (entries.type() == DT_REG || entries.type() == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                    if (S_ISREG(st.st_mode)) {
                        if (!s_.isListFile(st))
                            bytes += static_cast<quint64>(st.st_size);
                        ++files;
                    }
                    folder = S_ISDIR(st.st_mode);
                } else if (errno != ENOENT) { // a file that vanished meanwhile is simply gone
                    error = errno;
                    if (isExhaustion(error))
                        s_.fail(error);
                    readable = false;
                }
            }
            if (folder) {
                const auto length = quint16(std::strlen(name));
                found_.push_back({names_.add(name, length), length});
            }
        }
        if (entries.failed()) {
            error = entries.error();
            if (isExhaustion(error))
                s_.fail(error);
        }
        if (error != 0 && !isExhaustion(error))
            s_.unreadable(dirs_.pathBelowBase('/'), error);
        const quint32 first = record_.addNodes(quint32(found_.size()));
        for (std::size_t i = 0; i < found_.size(); ++i) {
            Node& child = record_.node(first + quint32(i));
            child = Node();
            child.nameAt = found_[i].first;
            child.nameLength = found_[i].second;
        }
        Node& node = record_.node(index);
        node.setBytes(bytes);
        node.sizeKnown = readable && !entries.failed();
        node.firstChild = first;
        node.childCount = quint32(found_.size());
        counts_.files.store(counts_.files.load(std::memory_order_relaxed) + files,
                            std::memory_order_relaxed);
    }

    // The way back up is gone (a folder on it was moved, maybe only for a moment): down
    // to the folder to go on in again, once more by the names. False when that fails too;
    // then what this thread had still to read below the folders it cannot reach again
    // has no size, nor have the folders above it, and each such folder is told of.
    bool foundAgain(int error) {
        if (!isExhaustion(error)) {
            std::vector<WayStep> steps;
            for (std::size_t i = 1; i < levels_.size(); ++i)
                steps.push_back({record_.nameOf(record_.node(levels_[i].node)), levels_[i].id.dev,
                                 levels_[i].id.ino});
            error = openWayAgain(dirs_, s_.topFd, s_.topId.dev, s_.topId.ino, steps, 1);
            if (error == 0)
                return true;
        }
        if (isExhaustion(error)) {
            s_.fail(error);
            return false;
        }
        if (floor_ == 0 && levels_.size() > 1)
            s_.letGo(levels_[1].node);
        for (std::size_t i = floor_; i < levels_.size(); ++i) {
            if (levels_[i].next < levels_[i].end)
                s_.unreadable(pathBelowTop(i), error);
            for (quint32 c = levels_[i].next; c < levels_[i].end; ++c)
                record_.node(c).sizeKnown = false;
        }
        levels_.resize(floor_ + 1);
        levels_.back().next = levels_.back().end;
        return false;
    }

    // The path of the folder of level `level` below the top, each name followed by "/".
    QByteArray pathBelowTop(std::size_t level) const {
        QByteArray path;
        for (std::size_t i = 1; i <= level; ++i)
            path.append(record_.name(record_.node(levels_[i].node))).append('/');
        return path;
    }

    // Half of the sub-folders still to do at the shallowest level that has some: the
    // largest share of work there is to give, for the fewest folders named on the way.
    void giveAway() {
        std::size_t from = levels_.size();
        quint64 left = 0;
        for (std::size_t i = floor_; i < levels_.size() && left < 2; ++i) {
            const quint32 here = levels_[i].end - levels_[i].next;
            if (here > 0 && from == levels_.size())
                from = i;
            left += here;
        }
        if (left < 2)
            return; // keeping the last of it is as quick
        Level& level = levels_[from];
        const quint32 give = (level.end - level.next + 1) / 2;
        Job job;
        job.first = level.end - give;
        job.end = level.end;
        for (std::size_t i = 0; i <= from; ++i) {
            job.nodes.push_back(levels_[i].node);
            job.ids.push_back({dirs_.at(i).dev, dirs_.at(i).ino});
        }
        if (from > 0)
            s_.hold(levels_[1].node); // until the job is done
        {
            const std::lock_guard lock(s_.mutex);
            // One job may wait for a thread that is still starting.
            if (int(s_.jobs.size()) >= std::max(s_.idle, 1) || s_.done) {
                s_.wanted = false;
                if (from > 0)
                    s_.letGo(levels_[1].node); // held by this thread still: never the last
                return;
            }
            s_.jobs.push_back(std::move(job));
            s_.wanted = s_.idle > int(s_.jobs.size());
        }
        s_.wake.notify_one();
        level.end -= give;
    }

    std::optional<Job> takeJob() {
        const qint64 idleFrom = nowNs();
        std::unique_lock lock(s_.mutex);
        ++s_.idle;
        while (s_.jobs.empty() && !s_.done && !s_.stop) {
            if (s_.idle == s_.workers) {
                s_.done = true;
                s_.wake.notify_all();
                break;
            }
            s_.wanted = true;
            if (!tick_) {
                s_.wake.wait(lock);
                continue;
            }
            // The calling thread waits a little at a time, to keep asking keepGoing.
            s_.wake.wait_for(lock, std::max(s_.interval, std::chrono::milliseconds(1)));
            lock.unlock();
            const bool go = (*tick_)();
            lock.lock();
            if (!go) {
                s_.stop = true;
                s_.wake.notify_all();
            }
        }
        --s_.idle;
        counts_.idleNs.fetch_add(nowNs() - idleFrom, std::memory_order_relaxed);
        if (s_.stop || s_.jobs.empty())
            return std::nullopt;
        Job job = std::move(s_.jobs.back());
        s_.jobs.pop_back();
        s_.wanted = s_.idle > int(s_.jobs.size()); // others still wait
        return job;
    }

    // A job that cannot be started lets go of its sub-folder of the top.
    bool startJob(const Job& job) {
        const bool started = openWayDown(job);
        if (!started && job.nodes.size() > 1)
            s_.letGo(job.nodes[1]);
        return started;
    }

    // Opens the way down to the job's folder, each step checked against what the other
    // thread found there; once more when a folder on it was moved meanwhile.
    bool openWayDown(const Job& job) {
        levels_.assign(1, {0, 0, 0, s_.topId});
        std::vector<WayStep> steps;
        for (std::size_t i = 1; i < job.nodes.size(); ++i) {
            steps.push_back(
                {record_.nameOf(record_.node(job.nodes[i])), job.ids[i].dev, job.ids[i].ino});
            levels_.push_back({job.nodes[i], 0, 0, job.ids[i]});
        }
        const int error = openWayAgain(dirs_, s_.topFd, s_.topId.dev, s_.topId.ino, steps, 2);
        if (isExhaustion(error)) {
            s_.fail(error);
            return false;
        }
        if (error != 0) {
            s_.unreadable(pathBelowTop(levels_.size() - 1), error);
            for (quint32 c = job.first; c < job.end; ++c)
                record_.node(c).sizeKnown = false; // moved away for good
            return false;
        }
        levels_.back().next = job.first;
        levels_.back().end = job.end;
        floor_ = levels_.size() - 1;
        return true;
    }

    void postPath() {
        if (!s_.wantPath.exchange(false, std::memory_order_relaxed))
            return;
        QByteArray path = dirs_.pathBelowBase('/');
        const std::lock_guard lock(s_.pathMutex);
        s_.path = std::move(path);
    }

    Shared& s_;
    FolderRecord& record_;
    FolderRecord::NameWriter names_;
    Shared::Counts& counts_;
    const GoOn* tick_; // only on the calling thread
    DirStack dirs_;
    std::vector<Level> levels_; // one for each folder of dirs_
    std::size_t floor_ = 0;     // the level of the folder the job is in
    std::vector<std::pair<quint32, quint16>> found_;
    unsigned sinceClockLook_ = 0;

public:
    // Starts one more thread that takes what the others give away, its chain kept to
    // `maxOpen` descriptors, or with 0 to what is left of the budget; false when there is
    // no room for one (threads, descriptors, or the scan is over).
    static bool startThread(Shared& s, std::size_t maxOpen) {
        const std::lock_guard lock(s.mutex);
        if (s.done || s.stop || s.workers >= s.cap)
            return false;
        if (maxOpen == 0) {
            const std::size_t left = s.descriptorBudget - s.descriptorsHandedOut;
            if (left < kChainMinimum)
                return false;
            // A fair part of what is left, so that later threads find some too.
            const std::size_t part = left / std::size_t(std::max(1, s.cap - s.workers));
            maxOpen = std::clamp(part, kChainMinimum, kMaxOpenPerChain + kChainExtra) - kChainExtra;
        }
        const int slot = s.workers;
        try {
            s.threads.emplace_back([&s, slot, maxOpen] {
                // Each thread opens and closes a folder or more for every folder it
                // reads; with a table of descriptors of its own they do not queue
                // for one table's lock, and each look-up skips a reference count.
                // Without one, they share as before.
                if (::unshare(CLONE_FILES) == 0)
                    keepOnlyOwnDescriptors(s.topFd);
                try {
                    Worker(s, slot, maxOpen, nullptr).run();
                } catch (const std::bad_alloc&) {
                    s.fail(ENOMEM);
                }
            });
        } catch (const std::system_error&) {
            return false; // no more threads to be had: those there do it all
        }
        ++s.workers;
        s.descriptorsHandedOut += maxOpen + kChainExtra;
        return true;
    }
};

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
    for (const Shared::Counts& counts : scanning_->counts) { // unused ones hold 0
        progress.folders += counts.folders.load(std::memory_order_relaxed);
        progress.files += counts.files.load(std::memory_order_relaxed);
    }
    return progress;
}

bool FolderTree::scan(int fd, const PseudoMounts& pseudoMounts, const KeepGoing& keepGoing,
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
    Shared shared(record_, pseudoMounts, fd, {top.st_dev, top.st_ino}, hiddenAtTop, options_,
                  optionsTop_);
    shared.interval = keepGoingInterval_;
    shared.listFile = listFile_;
    if (subFolderRead)
        shared.subFolderRead = &subFolderRead;
    // The descriptors left are shared out among the threads' chains. A scan left to itself
    // keeps half of them for threads it may add.
    const std::size_t left = descriptorsLeft();
    const std::size_t budget = left > kDescriptorReserve ? left - kDescriptorReserve : 0;
    const int asked = threads_ >= 0 ? threads_ : scanThreadsSetting();
    const bool automatic = asked == 0;
    shared.cores = usableCores();
    shared.cap = std::min(automatic ? kMaxAutomaticThreads : std::min(asked, kMaxScanThreads),
                          std::max<int>(1, int(budget / kChainMinimum)));
    const int first = automatic ? std::min(std::max(2, shared.cores), shared.cap) : shared.cap;
    const std::size_t firstShare = automatic && shared.cap > first ? budget / 2 : budget;
    const std::size_t maxOpen =
        std::clamp<std::size_t>(firstShare / std::size_t(first), kChainMinimum,
                                kMaxOpenPerChain + kChainExtra) -
        kChainExtra;
    shared.descriptorBudget = std::max(budget, std::size_t(first) * kChainMinimum);
    shared.descriptorsHandedOut = maxOpen + kChainExtra; // this thread's
    shared.growing = automatic && shared.cap > first;

    {
        const std::lock_guard lock(scanningMutex_);
        scanning_ = &shared;
    }
    KeepGoingGate gate(keepGoing, keepGoingInterval_);
    const GoOn tick = [&] { return gate(); };
    try {
        Worker here(shared, 0, maxOpen, &tick);
        for (int i = 1; i < first; ++i) {
            if (!Worker::startThread(shared, maxOpen))
                break;
        }
        here.scanFromTop();
        here.run();
    } catch (const std::bad_alloc&) {
        shared.fail(ENOMEM);
    }
    // Threads may start others until they are done; each is in the list before it ends.
    for (;;) {
        std::thread thread;
        {
            const std::lock_guard lock(shared.mutex);
            if (shared.threads.empty())
                break;
            thread = std::move(shared.threads.back());
            shared.threads.pop_back();
        }
        thread.join();
    }
    {
        const std::lock_guard lock(scanningMutex_);
        scanning_ = nullptr;
    }

    if (shared.stop) {
        const int exhausted = shared.exhausted;
        clear();
        exhausted_ = exhausted;
        return false;
    }
    record_.totalUp();
    countLoopsFromEachFolder(record_, hiddenAtTop, shared.mountRoots);
    return true;
}
