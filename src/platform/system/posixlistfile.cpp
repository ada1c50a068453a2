#include "platform/system/listfile.h"

#include "platform/system/posixcore.h"
#include "platform/system/posixpathwalk.h"

#include <QScopeGuard>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <unistd.h>
#include <utility>

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString adoptForWriting(QFile& file, int fd) {
    // Only opening must not wait; writing may.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return QString();
    ::close(fd);
    return file.errorString();
}

namespace {

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

// Entries of the user or of the system. The kernel's protected_symlinks and
// protected_regular settings also allow a shared folder's owner's, but the owner of such a
// folder below the temporary one is just another user, who may have made it to plant in.
// Links are trusted only so in every folder: another user's folder that is not shared
// may still be one made inside a shared one, to plant links in.
bool trusted(const struct stat& entry) {
    return entry.st_uid == ::geteuid() || entry.st_uid == 0;
}

// The links of /proc (/proc/self/fd/1, and /dev/stdout by way of it) stand for what a
// process has open: their text only describes it ("pipe:[12]", "/tmp/x (deleted)"), and
// only the kernel can follow them.
bool inProc(int folder) {
    struct statfs fs;
    return ::fstatfs(folder, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

constexpr int kMaxLinks = 40; // as many as the kernel follows in one path
constexpr int kWriteFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Only a plain file opened is written to; `opened` gets what it is.
QString whyNotToWrite(const Descriptor& fd, struct stat& opened) {
    if (::fstat(fd.get(), &opened) != 0)
        return systemReason(errno);
    if (!S_ISREG(opened.st_mode))
        return notAPlainFile(opened.st_mode);
    return QString();
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

QString PathWalk::enter(int fd) {
    Descriptor next(fd);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return systemReason(errno);
    folder_ = std::move(next);
    folderStat_ = st;
    return QString();
}

// The entry ending at `end`: "it" when that is the path given, else its path as reached.
QString PathWalk::who(qsizetype end) const {
    if (links_ == 0 && end == text_.size())
        return QStringLiteral("it");
    return QFile::decodeName(text_.left(end));
}

QString PathWalk::follow(const Descriptor& link, const struct stat& st, qsizetype start,
                         qsizetype end) {
    if (!trusted(st))
        return QStringLiteral("%1 is a symbolic link of another user").arg(who(end));
    if (++links_ > kMaxLinks)
        return systemReason(ELOOP);
    // The system keeps a link's text shorter than PATH_MAX; whatever says otherwise is
    // not followed.
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(link.get(), "", target.data(), target.size());
    if (length < 0)
        return systemReason(errno);
    if (length >= target.size())
        return systemReason(ENAMETOOLONG);
    target.truncate(length);
    if (target.isEmpty())
        return systemReason(ENOENT);
    if (target.startsWith('/')) {
        text_ = target + text_.mid(end);
        pos_ = 0;
        return enter(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    text_ = text_.left(start) + target + text_.mid(end);
    pos_ = start;
    return QString();
}

// What the link stands for is what the user has open already; only a plain file is
// written to, as at any other path.
QString PathWalk::openThroughProc(End& end, int at, const QByteArray& name) {
    Descriptor fd(::openat(at, name.constData(), kWriteFlags));
    if (fd.get() < 0)
        return errno == ENXIO ? notAPlainFile(S_IFIFO) : systemReason(errno);
    struct stat opened;
    if (const QString why = whyNotToWrite(fd, opened); !why.isEmpty())
        return why;
    end.file = std::move(fd);
    end.fileStat = opened;
    end.throughProc = true;
    return QString();
}

QString PathWalk::open(Descriptor& file, off_t& oldSize) {
    End end;
    const QString why = walk(end, true);
    file = std::move(end.file);
    oldSize = end.fileStat.st_size;
    return why;
}

QString PathWalk::reach(End& end) {
    const QString why = walk(end, false);
    end.folder = std::move(folder_);
    return why;
}

QString PathWalk::walk(End& end, bool create) {
    if (text_.isEmpty())
        return systemReason(ENOENT);
    if (const QString why =
            enter(::open(text_.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        !why.isEmpty())
        return why;

    // A name swapped between a look and an open is caught by the check after opening;
    // one that keeps changing is tried anew a few times.
    for (int retries = 0; retries < 8;) {
        while (pos_ < text_.size() && text_.at(pos_) == '/')
            ++pos_;
        if (pos_ == text_.size())
            return notAPlainFile(S_IFDIR); // the path ends at a folder
        const qsizetype start = pos_;
        const qsizetype slash = text_.indexOf('/', start);
        const bool last = slash < 0;
        pos_ = last ? text_.size() : slash;
        const QByteArray name = text_.mid(start, pos_ - start);
        const int at = folder_.get();
        if (name == ".")
            continue;
        if (name == "..") {
            if (const QString why = enter(::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
                !why.isEmpty())
                return why;
            continue;
        }

        if (!last) {
            // O_DIRECTORY lets an automounted folder come up; a link or a file fails it.
            int fd = ::openat(at, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                if (const QString why = enter(fd); !why.isEmpty())
                    return why;
                continue;
            }
            if (errno != ENOTDIR)
                return systemReason(errno);
        } else if (create) {
            const int fd =
                ::openat(at, name.constData(), kWriteFlags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
            if (fd >= 0) { // a new file: the umask has the last word on its mode
                end.file = Descriptor(fd);
                end.name = name;
                return QString();
            }
            if (errno != EEXIST)
                return systemReason(errno);
        }

        Descriptor entry(::openat(at, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (entry.get() < 0 && errno == ENOENT && last && !create) {
            end.name = name; // nothing there yet
            return QString();
        }
        if (entry.get() < 0 && errno == ENOENT) {
            pos_ = start;
            ++retries;
            continue;
        }
        if (entry.get() < 0 || ::fstat(entry.get(), &st) != 0)
            return systemReason(errno);
        if (S_ISLNK(st.st_mode) && inProc(at)) {
            if (!last) {
                if (const QString why =
                        enter(::openat(at, name.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
                    !why.isEmpty())
                    return why;
                continue;
            }
            end.name = name;
            return openThroughProc(end, at, name);
        }
        if (S_ISLNK(st.st_mode)) {
            if (const QString why = follow(entry, st, start, pos_); !why.isEmpty())
                return why;
            continue;
        }
        if (!last) {
            if (!S_ISDIR(st.st_mode))
                return systemReason(ENOTDIR);
            pos_ = start; // a folder now: swapped since it was looked at
            ++retries;
            continue;
        }
        if (!S_ISREG(st.st_mode))
            return notAPlainFile(st.st_mode);

        Descriptor fd(::openat(at, name.constData(), kWriteFlags | O_NOFOLLOW));
        if (fd.get() < 0) {
            if (errno == ENOENT || errno == ELOOP) { // gone, or a link now
                pos_ = start;
                ++retries;
                continue;
            }
            return errno == ENXIO ? notAPlainFile(S_IFIFO) : systemReason(errno);
        }
        struct stat opened;
        if (const QString why = whyNotToWrite(fd, opened); !why.isEmpty())
            return why;
        if (sharedFolder(folderStat_) && !trusted(opened))
            return QStringLiteral("%1 belongs to another user, in a folder that every user may "
                                  "write to")
                .arg(who(pos_));
        // Anyone may have linked another's file there, and a link keeps its owner.
        if (sharedFolder(folderStat_) && opened.st_nlink > 1)
            return QStringLiteral("%1 has more than one name (hard links), in a folder that "
                                  "every user may write to")
                .arg(who(pos_));
        end.file = std::move(fd);
        end.fileStat = opened;
        end.name = name;
        return QString();
    }
    return systemReason(EAGAIN);
}

OpenedListFile openListFileAside(const QByteArray& path) {
    OpenedListFile opened;
    Descriptor fd;
    off_t oldSize = 0;
    opened.why_ = PathWalk(path).open(fd, oldSize);
    opened.fd_ = std::move(fd);
    opened.oldSize_ = oldSize;
    return opened;
}

QString takeOverListFile(ListFile& file, OpenedListFile opened) {
    file.emptied(); // a list written before with the same file is done with
    file.emptyingError_ = 0;
    if (!opened.why_.isEmpty())
        return opened.why_;
    const int handle = opened.fd_.release();
    if (const QString why = adoptForWriting(file, handle); !why.isEmpty())
        return why;
    if (opened.oldSize_ > 0)
        file.emptyBeside(handle);
    return QString();
}

QString openListFile(ListFile& file, const QByteArray& path) {
    return takeOverListFile(file, openListFileAside(path));
}
