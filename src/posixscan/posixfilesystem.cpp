#include "posixscan/posixfilesystem.h"

#include "platform/filesystem.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#ifndef AT_NO_AUTOMOUNT
#define AT_NO_AUTOMOUNT 0
#endif

std::unique_ptr<FileSystemInfo> createFileSystemInfo() {
    return std::make_unique<PosixFileSystem>();
}

NativePath absoluteFolderPath(const NativePath& path) {
    NativePath full = path;
    if (!path.startsWith('/')) {
        // The current folder as the system names it, however long.
        char* current = ::getcwd(nullptr, 0);
        if (!current)
            return NativePath();
        full = NativePath(current) + '/' + path;
        std::free(current);
    }
    QList<NativePath> kept;
    for (const NativePath& part : full.split('/')) {
        if (part == "..") {
            if (!kept.isEmpty())
                kept.removeLast();
        } else if (!part.isEmpty() && part != ".")
            kept.append(part);
    }
    return '/' + kept.join('/');
}

bool isFolder(const NativePath& path) {
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

PosixFileSystem::PosixFileSystem() : PosixFileSystem(PseudoMounts()) {}

PosixFileSystem::PosixFileSystem(PseudoMounts pseudoMounts)
    : pseudoMounts_(std::move(pseudoMounts)) {}

namespace {

NativePath withoutTrailingSeparators(const NativePath& folder) {
    NativePath path = folder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// The names that lead from `top` down to `path`, or nothing when `path` is not below it.
std::optional<QList<NativePath>> componentsBelow(const NativePath& top, const NativePath& path) {
    if (top.isEmpty())
        return std::nullopt;
    if (path == top)
        return QList<NativePath>();
    if (top != "/" && !(path.startsWith(top) && path.at(top.size()) == '/'))
        return std::nullopt;
    QList<NativePath> components = path.mid(top == "/" ? 1 : top.size() + 1).split('/');
    components.removeAll(NativePath());
    return components;
}

} // namespace

NativePath PosixFileSystem::encodePath(const QString& path) const {
    return QFile::encodeName(path);
}

QString PosixFileSystem::decodePath(const NativePath& path) const {
    return QString::fromUtf8(path);
}

QString PosixFileSystem::pathBelowRoot(const NativePath& path) const {
    return decodePath(path.startsWith('/') ? path.mid(1) : path);
}

bool PosixFileSystem::moveTo(const NativePath& folder) {
    const NativePath path = withoutTrailingSeparators(folder);
    const std::optional<QList<NativePath>> below =
        cursor_.empty() ? std::nullopt : componentsBelow(cursorBase_, path);
    if (!below) {
        cursorBase_ = path;
        return cursor_.openBase(path);
    }
    const QList<NativePath>& components = *below;

    std::size_t shared = 0;
    while (shared < std::size_t(components.size()) && shared + 1 < cursor_.depth() &&
           cursor_.at(shared + 1).name == components[qsizetype(shared)])
        ++shared;
    while (cursor_.depth() > shared + 1) {
        if (!cursor_.pop()) {
            cursorBase_ = path;
            return cursor_.openBase(path);
        }
    }
    for (std::size_t i = shared; i < std::size_t(components.size()); ++i) {
        if (!cursor_.push(components[qsizetype(i)]))
            return false;
    }
    return true;
}

bool PosixFileSystem::onPseudoMount() const {
    return pseudoMounts_.isPseudo(cursor_.top().dev, cursor_.topFd());
}

std::vector<NativePath> PosixFileSystem::visibleSubFolders(const NativePath& folder) {
    std::vector<NativePath> names;
    if (!moveTo(folder) || onPseudoMount())
        return names;
    const int fd = cursor_.topFd();
    const dev_t folderDev = cursor_.top().dev;
    FolderEntries entries(fd, true);
    while (entries.next()) {
        const char* name = entries.name();
        if (name[0] == '.' || (entries.type() != DT_DIR && entries.type() != DT_UNKNOWN))
            continue;
        struct stat st;
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0 ||
            !S_ISDIR(st.st_mode))
            continue;
        if (st.st_dev != folderDev) {
            const int mountFd = ::openat(fd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const bool pseudo = pseudoMounts_.isPseudo(st.st_dev, mountFd);
            if (mountFd >= 0)
                ::close(mountFd);
            if (pseudo)
                continue;
        }
        // A folder that is one of its own parents (a bind mount) would never end.
        if (cursor_.find(st.st_dev, st.st_ino, cursor_.depth()))
            continue;
        names.emplace_back(name);
    }
    return names;
}

const FolderTree::Node* PosixFileSystem::scanned(const NativePath& folder) {
    // The walk asks about each folder twice in a row: its sub-folders, then its size.
    if (folder == lastAsked_ && !treeTop_.isEmpty())
        return lastFound_;
    const std::optional<QList<NativePath>> below =
        componentsBelow(treeTop_, withoutTrailingSeparators(folder));
    lastAsked_ = folder;
    lastFound_ = below ? tree_.find(*below) : nullptr;
    return lastFound_;
}

bool PosixFileSystem::scanTree(const NativePath& folder, const KeepGoing& keepGoing) {
    treeTop_.clear();
    lastAsked_.clear();
    if (!moveTo(folder))
        return false;
    if (onPseudoMount()) {
        tree_.recordEmptyFolder(); // nothing of it is on a drive
        treeTop_ = withoutTrailingSeparators(folder);
        return true;
    }
    if (!tree_.scan(cursor_.topFd(), pseudoMounts_, keepGoing))
        return false;
    treeTop_ = withoutTrailingSeparators(folder);
    return true;
}

const FolderTree::Node* PosixFileSystem::recorded(const NativePath& folder,
                                                  const KeepGoing& keepGoing) {
    // The walk asks for a folder's sub-folders before its size: one scan answers both,
    // and every question about the folders below.
    if (const FolderTree::Node* node = scanned(folder))
        return node;
    return scanTree(folder, keepGoing) ? scanned(folder) : nullptr;
}

std::vector<NativePath> PosixFileSystem::subFolders(const NativePath& folder,
                                                    const KeepGoing& keepGoing) {
    const FolderTree::Node* node = recorded(folder, keepGoing);
    return node ? tree_.subFolderNames(*node) : std::vector<NativePath>();
}

std::optional<ByteTotal> PosixFileSystem::folderSize(const NativePath& folder,
                                                     const KeepGoing& keepGoing) {
    const FolderTree::Node* node = scanned(folder);
    // The top of the record was counted from itself already.
    if (node && node->holdsLoop && withoutTrailingSeparators(folder) != treeTop_) {
        // Keep the record of the whole tree; this one folder is counted from itself.
        FolderTree fromHere;
        fromHere.setKeepGoingInterval(keepGoingInterval_);
        if (!moveTo(folder) || !fromHere.scan(cursor_.topFd(), pseudoMounts_, keepGoing))
            return std::nullopt;
        return FolderTree::sizeOf(*fromHere.find({}));
    }
    if (!node)
        node = recorded(folder, keepGoing);
    return node ? FolderTree::sizeOf(*node) : std::nullopt;
}

void PosixFileSystem::setKeepGoingInterval(std::chrono::milliseconds interval) {
    keepGoingInterval_ = interval;
    tree_.setKeepGoingInterval(interval);
}

quint64 PosixFileSystem::usedSpace(const NativePath& root) {
    struct statvfs fs;
    if (::statvfs(root.constData(), &fs) != 0)
        return 0;
    return static_cast<quint64>(fs.f_blocks - fs.f_bfree) * fs.f_frsize;
}
