#include "platform/posixfoldertree.h"

#include "platform/posixdirstack.h"
#include "platform/posixmounts.h"

#include <QElapsedTimer>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// How often a long scan lets the caller look at the world.
constexpr qint64 kKeepGoingIntervalMs = 100;

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

bool FolderTree::readFolder(int fd, quint32 index) {
    DIR* dir = openFolderStream(fd);
    if (!dir)
        return false;
    quint64 bytes = 0;
    bool readable = true;
    const auto firstChild = quint32(nodes_.size());
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        bool folder = entry->d_type == DT_DIR;
        if (!folder && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) &&
            !isDotOrDotDot(name)) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISREG(st.st_mode))
                    bytes += static_cast<quint64>(st.st_size);
                folder = S_ISDIR(st.st_mode);
            } else if (errno != ENOENT) {
                readable = false; // a file that vanished meanwhile is simply gone
            }
        }
        if (folder && !isDotOrDotDot(name)) {
            Node child;
            child.nameOffset = quint32(names_.size());
            child.nameLength = quint32(qstrlen(name));
            names_.append(name, child.nameLength + 1); // with its NUL: names are handed to openat()
            nodes_.push_back(child);
        }
        errno = 0;
    }
    if (errno != 0)
        readable = false;
    ::closedir(dir);
    Node& node = nodes_[index];
    node.bytes = bytes;
    node.sizeKnown = readable;
    node.firstChild = firstChild;
    node.childCount = quint32(nodes_.size()) - firstChild;
    return true;
}

bool FolderTree::scan(int fd, const PseudoMounts& pseudoMounts, const KeepGoing& keepGoing) {
    nodes_.assign(1, Node());
    names_.clear();
    lastFound_.clear();
    DirStack dirs;
    if (!dirs.adoptBase(fd) || !readFolder(dirs.topFd(), 0)) {
        nodes_[0].sizeKnown = false;
        return true;
    }

    // The open folders on the way down, and how many of each one's sub-folders are done.
    struct Level {
        quint32 node;
        quint32 next = 0;
    };
    std::vector<Level> levels{{0}};
    QElapsedTimer sinceKeepGoing;
    sinceKeepGoing.start();
    unsigned foldersSinceCheck = 0;
    auto giveUp = [this] {
        nodes_.clear();
        names_.clear();
        return false;
    };

    while (!levels.empty()) {
        Level& level = levels.back();
        const Node& node = nodes_[level.node];
        if (level.next < node.childCount) {
            const quint32 childIndex = node.firstChild + level.next++;
            if (++foldersSinceCheck >= 64) {
                foldersSinceCheck = 0;
                if (sinceKeepGoing.elapsed() >= kKeepGoingIntervalMs) {
                    if (keepGoing && !keepGoing())
                        return giveUp();
                    sinceKeepGoing.restart();
                }
            }
            Node& child = nodes_[childIndex];
            if (!dirs.push(nameOf(child))) {
                // Gone, or replaced by something that is not a folder: nothing to list.
                if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
                    child.isFolder = false;
                else
                    child.sizeKnown = false;
                continue;
            }
            const DirStack::Frame& folder = dirs.top();
            const bool crossesMount = folder.dev != dirs.at(dirs.depth() - 2).dev;
            // Kernel file systems hold nothing on a drive; a folder that is one of its
            // own parents again (a bind mount) would never end.
            const bool loops = dirs.find(folder.dev, folder.ino, dirs.depth() - 1).has_value();
            if (loops || (crossesMount && pseudoMounts.isPseudo(folder.dev, folder.fd))) {
                child.isFolder = false;
                nodes_[level.node].holdsLoop = nodes_[level.node].holdsLoop || loops;
                dirs.pop();
                continue;
            }
            if (!readFolder(folder.fd, childIndex))
                child.sizeKnown = false;
            levels.push_back({childIndex});
            continue;
        }

        const Node done = node;
        levels.pop_back();
        if (levels.empty())
            break;
        if (!dirs.pop())
            return giveUp(); // the tree changed under the scan
        Node& parent = nodes_[levels.back().node];
        parent.bytes += done.bytes;
        parent.sizeKnown = parent.sizeKnown && done.sizeKnown;
        parent.holdsLoop = parent.holdsLoop || done.holdsLoop;
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
