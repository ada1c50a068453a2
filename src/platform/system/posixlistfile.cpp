#include "platform/system/listfile.h"

#include <QScopeGuard>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString notAPlainFile(mode_t mode) {
    const char* kind = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "not a file";
    return QStringLiteral("it is %1, not a regular file").arg(QLatin1String(kind));
}

// A folder that everyone may write to but only owners may delete from, as the system's
// temporary folder is: any user may have put a name there first.
bool sharedFolder(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

// What the kernel's protected_symlinks, protected_regular and protected_fifos settings
// allow there, applied whatever they are set to: entries of the user or of the folder's
// owner.
bool trusted(const struct stat& folder, const struct stat& entry) {
    return entry.st_uid == ::geteuid() || entry.st_uid == folder.st_uid;
}

// The folder that holds the file open at `fd`, wherever the links on the way led.
bool holdingFolder(int fd, struct stat& folder) {
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    QByteArray path(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.constData(), path.data(), std::size_t(path.size()));
    if (length <= 0 || length >= path.size() || path.at(0) != '/')
        return false;
    path.truncate(qMax(path.lastIndexOf('/', length - 1), qsizetype(1)));
    return ::stat(path.constData(), &folder) == 0;
}

const QString kPlanted =
    QStringLiteral("it belongs to another user, in a folder that every user may write to");

QString adopt(QFile& file, int fd) {
    // Only opening must not wait; writing may.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return QString();
    ::close(fd);
    return file.errorString();
}

} // namespace

ListFile::~ListFile() {
    emptied();
}

void ListFile::close() {
    emptied();
    QFile::close();
}

qint64 ListFile::writeData(const char* data, qint64 length) {
    if (!emptied())
        return -1;
    return QFile::writeData(data, length);
}

void ListFile::emptyBeside(int fd) {
    try {
        emptying_ = std::thread([this, fd] {
            if (::ftruncate(fd, 0) != 0)
                emptyingError_ = errno;
        });
    } catch (const std::system_error&) {
        if (::ftruncate(fd, 0) != 0)
            emptyingError_ = errno;
    }
}

bool ListFile::emptied() {
    if (emptying_.joinable())
        emptying_.join();
    if (emptyingError_ == 0)
        return true;
    setErrorString(
        QStringLiteral("the old list could not be emptied: %1").arg(systemReason(emptyingError_)));
    return false;
}

QString openListFile(ListFile& file, const NativePath& path) {
    file.emptied(); // a list written before with the same file is done with
    file.emptyingError_ = 0;
    const qsizetype slash = path.lastIndexOf('/');
    const NativePath name = path.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return notAPlainFile(S_IFDIR);
    const NativePath folderPath = slash < 0 ? "." : slash == 0 ? "/" : path.left(slash);
    const int folder = ::open(folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return systemReason(errno);
    const auto closeFolder = qScopeGuard([folder] { ::close(folder); });
    struct stat folderStat;
    if (::fstat(folder, &folderStat) != 0)
        return systemReason(errno);
    const bool shared = sharedFolder(folderStat);
    constexpr int kFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

    // Each step opens what the one before looked at, so a name swapped in between is
    // caught by the check after opening; a name that keeps changing is tried anew.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = ::openat(folder, name.constData(), kFlags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd >= 0)
            return adopt(file, fd); // a new file: the umask has the last word on its mode
        if (errno != EEXIST)
            return systemReason(errno);

        struct stat entry;
        if (::fstatat(folder, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            return systemReason(errno);
        }
        if (S_ISLNK(entry.st_mode)) {
            if (shared && !trusted(folderStat, entry))
                return QStringLiteral("it is a symbolic link of another user, in a folder "
                                      "that every user may write to");
            // Followed as a shell's redirection follows it, creating the file it names.
            struct stat target;
            if (::fstatat(folder, name.constData(), &target, 0) == 0 && !S_ISREG(target.st_mode))
                return notAPlainFile(target.st_mode);
            fd = ::openat(folder, name.constData(), kFlags | O_CREAT, 0666);
        } else if (!S_ISREG(entry.st_mode)) {
            return notAPlainFile(entry.st_mode);
        } else {
            fd = ::openat(folder, name.constData(), kFlags | O_NOFOLLOW);
        }
        if (fd < 0) {
            // Gone, or a link now: swapped since it was looked at. Through a link, these
            // are what the link leads to.
            if (!S_ISLNK(entry.st_mode) && (errno == ENOENT || errno == ELOOP))
                continue;
            return errno == ENXIO ? notAPlainFile(S_IFIFO) : systemReason(errno);
        }
        auto closeFile = qScopeGuard([fd] { ::close(fd); });
        struct stat opened;
        if (::fstat(fd, &opened) != 0)
            return systemReason(errno);
        if (!S_ISREG(opened.st_mode))
            return notAPlainFile(opened.st_mode);
        // A link leads on to a folder of its own, which the same rule holds for.
        struct stat holder = folderStat;
        if (S_ISLNK(entry.st_mode) && !holdingFolder(fd, holder))
            holder = {};
        if (sharedFolder(holder) && !trusted(holder, opened))
            return kPlanted;
        closeFile.dismiss();
        if (const QString why = adopt(file, fd); !why.isEmpty())
            return why;
        if (opened.st_size > 0)
            file.emptyBeside(fd);
        return QString();
    }
    return systemReason(EAGAIN);
}
