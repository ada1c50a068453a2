#include "platform/posixfilesystem.h"

#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
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

QString absoluteFolderPath(const QString& path) {
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

bool isFolder(const QString& path) { return QFileInfo(path).isDir(); }

PosixFileSystem::PosixFileSystem() : PosixFileSystem(PseudoMounts()) {}

PosixFileSystem::PosixFileSystem(PseudoMounts pseudoMounts)
    : pseudoMounts_(std::move(pseudoMounts)), sizes_(pseudoMounts_) {}

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
    NativePath path = folder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);

    const bool belowBase =
        !cursor_.empty() &&
        (path == cursorBase_ || cursorBase_ == "/" ||
         (path.startsWith(cursorBase_) && path.at(cursorBase_.size()) == '/'));
    if (!belowBase) {
        cursorBase_ = path;
        return cursor_.openBase(path);
    }

    const NativePath rest = path.mid(cursorBase_ == "/" ? 1 : cursorBase_.size() + 1);
    QList<NativePath> components = rest.split('/');
    components.removeAll(NativePath());

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

std::vector<NativePath> PosixFileSystem::listFolders(const NativePath& folder, bool visibleOnly) {
    std::vector<NativePath> names;
    if (!moveTo(folder) || onPseudoMount())
        return names;
    const int fd = cursor_.topFd();
    const dev_t folderDev = cursor_.top().dev;
    DIR* dir = openFolderStream(fd);
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (visibleOnly || name[1] == '\0' ||
                               (name[1] == '.' && name[2] == '\0')))
            continue;
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
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
    ::closedir(dir);
    return names;
}

std::vector<NativePath> PosixFileSystem::subFolders(const NativePath& folder) {
    return listFolders(folder, false);
}

std::vector<NativePath> PosixFileSystem::visibleSubFolders(const NativePath& folder) {
    return listFolders(folder, true);
}

std::optional<quint64> PosixFileSystem::folderSize(const NativePath& folder,
                                                   const KeepGoing& keepGoing) {
    if (!moveTo(folder))
        return std::nullopt;
    if (onPseudoMount())
        return 0;
    const DirStack::Frame& top = cursor_.top();
    return sizes_.sizeOf(top.fd, top.dev, top.ino, keepGoing);
}

quint64 PosixFileSystem::usedSpace(const NativePath& root) {
    struct statvfs fs;
    if (::statvfs(root.constData(), &fs) != 0)
        return 0;
    return static_cast<quint64>(fs.f_blocks - fs.f_bfree) * fs.f_frsize;
}
