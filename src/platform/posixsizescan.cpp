#include "platform/posixsizescan.h"

#include "platform/posixdirstack.h"
#include "platform/posixmounts.h"

#include <QElapsedTimer>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// How often a long scan lets the caller look at the world.
constexpr qint64 kKeepGoingIntervalMs = 100;

struct FolderContents {
    std::vector<QByteArray> subFolders;
    quint64 bytes = 0;
    bool unreadable = false;
};

// One pass over a folder's entries: files are sized, sub-folders noted for later.
FolderContents readFolder(int fd) {
    FolderContents contents;
    DIR* dir = openFolderStream(fd);
    if (!dir) {
        contents.unreadable = true;
        return contents;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        if (entry->d_type == DT_DIR) {
            contents.subFolders.emplace_back(name);
        } else if (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISREG(st.st_mode))
                    contents.bytes += static_cast<quint64>(st.st_size);
                else if (S_ISDIR(st.st_mode))
                    contents.subFolders.emplace_back(name);
            } else if (errno != ENOENT) {
                contents.unreadable = true; // a file that vanished meanwhile is simply gone
            }
        }
        errno = 0;
    }
    if (errno != 0)
        contents.unreadable = true;
    ::closedir(dir);
    return contents;
}

} // namespace

SizeScanner::SizeScanner(const PseudoMounts& pseudoMounts) : pseudoMounts_(pseudoMounts) {}

void SizeScanner::remember(dev_t dev, ino_t ino, std::optional<quint64> size) {
    known_[{dev, ino}] = size.value_or(kUnavailable);
}

std::optional<std::optional<quint64>> SizeScanner::known(dev_t dev, ino_t ino) const {
    const auto it = known_.find({dev, ino});
    if (it == known_.end())
        return std::nullopt;
    if (it->second == kUnavailable)
        return std::optional<quint64>();
    return std::optional<quint64>(it->second);
}

std::optional<quint64> SizeScanner::sizeOf(int fd, dev_t dev, ino_t ino,
                                           const KeepGoing& keepGoing) {
    if (const auto hit = known(dev, ino))
        return *hit;
    return scan(fd, keepGoing);
}

std::optional<quint64> SizeScanner::scan(int fd, const KeepGoing& keepGoing) {
    DirStack dirs;
    if (!dirs.adoptBase(fd))
        return std::nullopt;

    // One level per open folder on the way down. A tree that holds a loop (a bind mount
    // of one of its own parents) gives figures that depend on where the scan began, so
    // folders with a loop below them are not remembered.
    struct Level {
        FolderContents contents;
        std::size_t next = 0;
        bool holdsLoop = false;
    };
    std::vector<Level> levels;
    levels.push_back({readFolder(dirs.topFd())});

    QElapsedTimer sinceKeepGoing;
    sinceKeepGoing.start();
    unsigned foldersSinceCheck = 0;

    while (true) {
        const std::size_t depth = levels.size() - 1;
        Level& level = levels.back();
        if (level.next < level.contents.subFolders.size()) {
            const QByteArray& name = level.contents.subFolders[level.next++];
            if (++foldersSinceCheck >= 64) {
                foldersSinceCheck = 0;
                if (sinceKeepGoing.elapsed() >= kKeepGoingIntervalMs) {
                    if (keepGoing && !keepGoing())
                        return std::nullopt;
                    sinceKeepGoing.restart();
                }
            }
            if (!dirs.push(name)) {
                // Gone, or replaced by something that is not a folder: nothing to count.
                if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
                    level.contents.unreadable = true;
                continue;
            }
            const DirStack::Frame& folder = dirs.top();
            const bool crossesMount = folder.dev != dirs.at(depth).dev;
            if (crossesMount && pseudoMounts_.isPseudo(folder.dev, folder.fd)) {
                dirs.pop();
                continue;
            }
            if (dirs.find(folder.dev, folder.ino, depth + 1)) {
                level.holdsLoop = true;
                dirs.pop();
                continue;
            }
            if (const auto hit = known(folder.dev, folder.ino)) {
                if (*hit)
                    level.contents.bytes += **hit;
                else
                    level.contents.unreadable = true;
                dirs.pop();
                continue;
            }
            levels.push_back({readFolder(folder.fd)});
            continue;
        }

        const std::optional<quint64> size =
            level.contents.unreadable ? std::nullopt : std::optional<quint64>(level.contents.bytes);
        if (!level.holdsLoop)
            remember(dirs.top().dev, dirs.top().ino, size);
        if (depth == 0)
            return size;
        const bool holdsLoop = level.holdsLoop;
        levels.pop_back();
        if (!dirs.pop())
            return std::nullopt; // the tree changed under the scan
        Level& parent = levels.back();
        if (size)
            parent.contents.bytes += *size;
        else
            parent.contents.unreadable = true;
        parent.holdsLoop = parent.holdsLoop || holdsLoop;
    }
}
