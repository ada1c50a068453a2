#include "posixscan/posixfoldertree.h"

#include "posixscan/posixdirstack.h"
#include "posixscan/posixmounts.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

// Sizes past 64 bits live in the padding of the record's nodes.
static_assert(sizeof(FolderTree::Node) <= 32);

namespace {

// A tree is shared out between the threads as separate sub-trees once its top levels
// hold at least this many folders; fewer are not worth a thread.
constexpr std::size_t kEnoughToShare = 16;
constexpr int kMaxSplitDepth = 32;

constexpr int kSubFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool onPath(const std::vector<FolderTree::FolderId>& path, dev_t dev, ino_t ino) {
    for (const FolderTree::FolderId& id : path) {
        if (id.dev == dev && id.ino == ino)
            return true;
    }
    return false;
}

using Reached = FolderTree::Reached;

// An entry that vanished, or that is a link or no folder after all, has nothing to list.
Reached failedToOpen(int error) {
    return error == ENOENT || error == ENOTDIR || error == ELOOP ? Reached::NotAFolder
                                                                 : Reached::Unreadable;
}

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

// Opens a sub-folder of an open folder, never through a link. `path` holds the folders
// from the top down to the open one. `fd` is left open only for a Folder.
Reached openSubFolder(int parentFd, const char* name, const std::vector<FolderTree::FolderId>& path,
                      const PseudoMounts& pseudoMounts, int& fd, FolderTree::FolderId& id) {
    if (pseudoMounts.isAutomountPoint(parentFd, name, path.back().dev)) {
        fd = -1;
        return Reached::NotAFolder;
    }
    fd = ::openat(parentFd, name, kSubFolderFlags);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        return failedToOpen(error);
    }
    id = {st.st_dev, st.st_ino};
    const Reached reached = whatIsOpened(fd, st.st_dev, onPath(path, st.st_dev, st.st_ino),
                                         path.back().dev, pseudoMounts);
    if (reached != Reached::Folder) {
        ::close(fd);
        fd = -1;
    }
    return reached;
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

} // namespace

// A sub-tree to scan on its own: a folder not yet opened, below a top folder held open.
struct FolderTree::Task {
    int parentFd;
    quint32 node;
    QByteArray name;
    std::vector<FolderId> path; // the folders above it, top first
    Reached reached = Reached::Folder;
    FolderTree below;
};

void FolderTree::note(quint32 index, quint32 parent, Reached reached) {
    switch (reached) {
    case Reached::Folder:
        break;
    case Reached::Loop:
        nodes_[parent].holdsLoop = true;
        [[fallthrough]];
    case Reached::NotAFolder:
        nodes_[index].isFolder = false;
        break;
    case Reached::Unreadable:
        // It is listed, but neither its size nor its parent's can be had.
        nodes_[index].sizeKnown = false;
        nodes_[parent].sizeKnown = false;
        break;
    }
}

void FolderTree::recordEmptyFolder() {
    clear();
    nodes_.assign(1, Node());
}

void FolderTree::clear() {
    nodes_.clear();
    names_.clear();
    lastFound_.clear();
}

void FolderTree::readFolder(int fd, quint32 index, bool fromStart, const GoOn& goOn) {
    FolderEntries entries(fd, fromStart);
    ByteTotal bytes = 0;
    bool readable = true;
    const auto firstChild = quint32(nodes_.size());
    unsigned read = 0;
    while (entries.next()) {
        // A folder of a million files takes a while too.
        if (++read % 1024 == 0 && !goOn()) {
            readable = false;
            break;
        }
        const char* name = entries.name();
        bool folder = entries.type() == DT_DIR;
        if (entries.type() == DT_REG || entries.type() == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISREG(st.st_mode))
                    bytes += static_cast<quint64>(st.st_size);
                folder = S_ISDIR(st.st_mode);
            } else if (errno != ENOENT) {
                readable = false; // a file that vanished meanwhile is simply gone
            }
        }
        if (folder) {
            Node child;
            child.nameOffset = quint32(names_.size());
            child.nameLength = quint32(qstrlen(name));
            names_.append(name, child.nameLength + 1); // with its NUL: names go to openat()
            nodes_.push_back(child);
        }
    }
    Node& node = nodes_[index];
    node.setBytes(bytes);
    node.sizeKnown = readable && !entries.failed();
    node.firstChild = firstChild;
    node.childCount = quint32(nodes_.size()) - firstChild;
}

bool FolderTree::scanHere(int fd, FolderId id, const PseudoMounts& pseudoMounts, const GoOn& goOn,
                          const std::vector<FolderId>& outerPath) {
    clear();
    nodes_.assign(1, Node());
    DirStack dirs;
    dirs.adoptBase(fd, id.dev, id.ino);
    readFolder(fd, 0, false, goOn);

    // The open folders on the way down, and how many of each one's sub-folders are done.
    struct Level {
        quint32 node;
        quint32 next = 0;
    };
    std::vector<Level> levels{{0}};

    while (!levels.empty()) {
        Level& level = levels.back();
        const Node& node = nodes_[level.node];
        if (level.next < node.childCount) {
            const quint32 childIndex = node.firstChild + level.next++;
            if (!goOn()) {
                clear();
                return false;
            }
            const QByteArray name = nameOf(nodes_[childIndex]);
            if (pseudoMounts.isAutomountPoint(dirs.topFd(), name.constData(), dirs.top().dev)) {
                note(childIndex, level.node, Reached::NotAFolder);
                continue;
            }
            if (!dirs.push(name)) {
                note(childIndex, level.node, failedToOpen(errno));
                continue;
            }
            const DirStack::Frame& folder = dirs.top();
            const bool loops = dirs.find(folder.dev, folder.ino, dirs.depth() - 1).has_value() ||
                               onPath(outerPath, folder.dev, folder.ino);
            const Reached reached = whatIsOpened(folder.fd, folder.dev, loops,
                                                 dirs.at(dirs.depth() - 2).dev, pseudoMounts);
            if (reached != Reached::Folder) {
                note(childIndex, level.node, reached);
                dirs.pop();
                continue;
            }
            readFolder(folder.fd, childIndex, false, goOn);
            levels.push_back({childIndex});
            continue;
        }

        const Node done = node;
        levels.pop_back();
        if (levels.empty())
            break;
        if (!dirs.pop()) {
            // A folder on the way back up was moved or removed meanwhile: the folders
            // not read yet cannot be reached any more. They are listed without a size,
            // and so are the folders above them; the rest of the record stands.
            for (const Level& open : levels) {
                Node& unfinished = nodes_[open.node];
                unfinished.sizeKnown = false;
                for (quint32 i = open.next; i < unfinished.childCount; ++i)
                    nodes_[unfinished.firstChild + i].sizeKnown = false;
            }
            return true;
        }
        Node& parent = nodes_[levels.back().node];
        parent.setBytes(parent.bytes() + done.bytes());
        parent.sizeKnown = parent.sizeKnown && done.sizeKnown;
        parent.holdsLoop = parent.holdsLoop || done.holdsLoop;
    }
    return true;
}

std::vector<FolderTree::Task> FolderTree::splitTop(int fd, const PseudoMounts& pseudoMounts,
                                                   const GoOn& goOn, std::vector<quint32>& topOrder,
                                                   std::vector<quint32>& parents,
                                                   std::vector<int>& openFolders) {
    // Read the top of the tree level by level until it holds enough folders to share
    // out; those become the tasks. The folders whose sub-folders they are stay open.
    struct Open {
        int fd;
        quint32 node;
        std::vector<FolderId> path; // up to and including this folder
    };
    struct stat top;
    if (::fstat(fd, &top) != 0) {
        nodes_[0].sizeKnown = false;
        return {};
    }
    readFolder(fd, 0, true, goOn);
    std::vector<Open> frontier{{fd, 0, {{top.st_dev, top.st_ino}}}};
    parents.assign(1, 0);
    topOrder.assign(1, 0);
    for (int depth = 0;; ++depth) {
        std::size_t waiting = 0;
        for (const Open& open : frontier)
            waiting += nodes_[open.node].childCount;
        if (waiting == 0 || waiting >= kEnoughToShare || depth == kMaxSplitDepth || !goOn()) {
            std::vector<Task> tasks;
            for (const Open& open : frontier) {
                openFolders.push_back(open.fd);
                const Node& node = nodes_[open.node];
                for (quint32 i = node.firstChild; i < node.firstChild + node.childCount; ++i) {
                    parents.resize(nodes_.size(), 0);
                    parents[i] = open.node;
                    topOrder.push_back(i);
                    tasks.push_back({open.fd, i, QByteArray(nameOf(nodes_[i]).constData()),
                                     open.path, Reached::Folder, FolderTree()});
                }
            }
            return tasks;
        }
        std::vector<Open> next;
        for (Open& open : frontier) {
            const Node parent = nodes_[open.node];
            for (quint32 i = parent.firstChild; i < parent.firstChild + parent.childCount; ++i) {
                parents.resize(nodes_.size(), 0);
                parents[i] = open.node;
                topOrder.push_back(i);
                int childFd = -1;
                FolderId id;
                const Reached reached = openSubFolder(open.fd, nameOf(nodes_[i]).constData(),
                                                      open.path, pseudoMounts, childFd, id);
                if (reached != Reached::Folder) {
                    note(i, open.node, reached);
                    continue;
                }
                readFolder(childFd, i, false, goOn);
                std::vector<FolderId> path = open.path;
                path.push_back(id);
                next.push_back({childFd, i, std::move(path)});
            }
            if (open.fd != fd)
                ::close(open.fd);
        }
        frontier = std::move(next);
    }
}

void FolderTree::graft(quint32 index, const FolderTree& below) {
    const Node& top = below.nodes_[0];
    const auto nameShift = quint32(names_.size());
    const auto base = quint32(nodes_.size()); // where node 1 of `below` lands
    names_.append(below.names_);
    nodes_.reserve(nodes_.size() + below.nodes_.size() - 1);
    for (std::size_t i = 1; i < below.nodes_.size(); ++i) {
        Node node = below.nodes_[i];
        node.nameOffset += nameShift;
        node.firstChild = node.firstChild - 1 + base;
        nodes_.push_back(node);
    }
    Node& node = nodes_[index];
    node.firstChild = top.firstChild - 1 + base;
    node.childCount = top.childCount;
    node.setBytes(top.bytes());
    node.sizeKnown = top.sizeKnown;
    node.holdsLoop = top.holdsLoop;
}

bool FolderTree::scan(int fd, const PseudoMounts& pseudoMounts, const KeepGoing& keepGoing) {
    clear();
    nodes_.assign(1, Node());
    // Only this thread asks keepGoing, now and then; the other one just looks whether it
    // said to stop.
    std::atomic<bool> cancelled = false;
    KeepGoingGate gate(keepGoing, keepGoingInterval_);
    const GoOn mainGoOn = [&] {
        if (!cancelled && !gate())
            cancelled = true;
        return !cancelled;
    };
    const GoOn helperGoOn = [&] { return !cancelled.load(std::memory_order_relaxed); };

    std::vector<quint32> topOrder;
    std::vector<quint32> parents;
    std::vector<int> openFolders;
    std::vector<Task> tasks = splitTop(fd, pseudoMounts, mainGoOn, topOrder, parents, openFolders);

    // Both threads take the next task until none is left.
    std::atomic<std::size_t> nextTask = 0;
    auto work = [&](const GoOn& goOn) {
        for (std::size_t t = nextTask++; t < tasks.size() && goOn(); t = nextTask++) {
            Task& task = tasks[t];
            int taskFd = -1;
            FolderId id;
            task.reached = openSubFolder(task.parentFd, task.name.constData(), task.path,
                                         pseudoMounts, taskFd, id);
            // The scan owns the descriptor.
            if (taskFd >= 0 && !task.below.scanHere(taskFd, id, pseudoMounts, goOn, task.path)) {
                cancelled = true;
                return;
            }
        }
    };
    std::promise<void> helperDone;
    std::future<void> helperFinished = helperDone.get_future();
    std::optional<std::thread> helper;
    if (tasks.size() >= 2 && !cancelled) {
        try {
            helper.emplace([&] {
                work(helperGoOn);
                helperDone.set_value();
            });
        } catch (const std::system_error&) {
            // No second thread to be had: this one does it all.
        }
    }
    work(mainGoOn);
    if (helper) {
        // The other thread may still be deep in a large sub-tree: keep asking meanwhile.
        const auto interval = std::max(keepGoingInterval_, std::chrono::milliseconds(1));
        while (!cancelled && helperFinished.wait_for(interval) != std::future_status::ready) {
            if (keepGoing && !keepGoing())
                cancelled = true;
        }
        helper->join();
    }
    for (const int open : openFolders) {
        if (open != fd)
            ::close(open);
    }

    if (cancelled) {
        clear();
        return false;
    }
    for (const Task& task : tasks) {
        if (task.reached == Reached::Folder)
            graft(task.node, task.below);
        else
            note(task.node, parents[task.node], task.reached);
    }
    // The top levels were read before their sub-trees were done: add those up now, the
    // deepest first.
    for (auto it = topOrder.rbegin(); it != topOrder.rend() && *it != 0; ++it) {
        const Node& node = nodes_[*it];
        Node& parent = nodes_[parents[*it]];
        if (!node.isFolder)
            continue;
        parent.setBytes(parent.bytes() + node.bytes());
        parent.sizeKnown = parent.sizeKnown && node.sizeKnown;
        parent.holdsLoop = parent.holdsLoop || node.holdsLoop;
    }
    return true;
}

const FolderTree::Node* FolderTree::find(const QList<QByteArray>& components) {
    if (nodes_.empty())
        return nullptr;
    quint32 index = 0;
    std::vector<quint32> path{0};
    for (qsizetype depth = 0; depth < components.size(); ++depth) {
        const Node& node = nodes_[index];
        if (node.childCount == 0)
            return nullptr;
        // Start where the last lookup went at this depth: a walk asks for the same folder
        // again, or for the next one.
        quint32 start = 0;
        if (std::size_t(depth) + 1 < lastFound_.size() && lastFound_[depth] == index)
            start = lastFound_[depth + 1] - node.firstChild;
        bool found = false;
        for (quint32 i = 0; i < node.childCount && !found; ++i) {
            const quint32 candidate = node.firstChild + (start + i) % node.childCount;
            if (nodes_[candidate].isFolder && nameOf(nodes_[candidate]) == components[depth]) {
                index = candidate;
                found = true;
            }
        }
        if (!found)
            return nullptr;
        path.push_back(index);
    }
    lastFound_ = std::move(path);
    return &nodes_[index];
}

std::vector<NativePath> FolderTree::subFolderNames(const Node& node) const {
    std::vector<NativePath> names;
    names.reserve(node.childCount);
    for (quint32 i = node.firstChild; i < node.firstChild + node.childCount; ++i) {
        if (nodes_[i].isFolder)
            names.emplace_back(names_.constData() + nodes_[i].nameOffset, nodes_[i].nameLength);
    }
    return names;
}
