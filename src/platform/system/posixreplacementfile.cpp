#include "platform/system/listfile.h"

#include "platform/system/posixcore.h"
#include "platform/system/posixpathwalk.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A hidden name beside `name`, unlikely to be taken.
QByteArray temporaryName(const QByteArray& name) {
    const quint64 random = QRandomGenerator::system()->generate64();
    return '.' + name.left(200) + '.' + QByteArray::number(random, 36) + ".tmp";
}

// The new file under a name of its own beside `name` in `folder`; `temporary` gets it.
int createNamed(int folder, const QByteArray& name, mode_t mode, QByteArray& temporary) {
    for (int tries = 0; tries < 16; ++tries) {
        const QByteArray candidate = temporaryName(name);
        const int fd = retryOnInterrupt([&] {
            return ::openat(folder, candidate.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
        });
        if (fd >= 0)
            temporary = candidate;
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// An unnamed file is given a name through /proc; without /proc it could never get one.
bool canBeNamed(int fd) {
    struct stat st;
    return ::stat(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), &st) == 0;
}

// Gives the unnamed file `fd` a name of its own in `folder`; `temporary` gets it.
bool nameUnnamed(int fd, int folder, const QByteArray& name, QByteArray& temporary) {
    const QByteArray source = "/proc/self/fd/" + QByteArray::number(fd);
    for (int tries = 0; tries < 16; ++tries) {
        const QByteArray candidate = temporaryName(name);
        if (::linkat(AT_FDCWD, source.constData(), folder, candidate.constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            temporary = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

} // namespace

OpenedReplacement& OpenedReplacement::operator=(OpenedReplacement&& other) noexcept {
    if (this == &other)
        return *this;
    removeTemporary();
    fd_ = std::move(other.fd_);
    folder_ = std::move(other.folder_);
    name_ = std::exchange(other.name_, {});
    temporary_ = std::exchange(other.temporary_, {});
    inPlace_ = std::exchange(other.inPlace_, false);
    why_ = std::exchange(other.why_, {});
    return *this;
}

OpenedReplacement::~OpenedReplacement() {
    removeTemporary();
}

void OpenedReplacement::removeTemporary() {
    if (!temporary_.isEmpty())
        ::unlinkat(folder_.get(), temporary_.constData(), 0);
    temporary_.clear();
}

OpenedReplacement openReplacementAside(const QByteArray& path) {
    OpenedReplacement opened;
    PathWalk::End end;
    opened.why_ = PathWalk(path).reach(end);
    if (!opened.why_.isEmpty())
        return opened;
    if (end.throughProc) {
        opened.fd_ = std::move(end.file);
        opened.inPlace_ = true;
        return opened;
    }
    opened.folder_ = std::move(end.folder);
    opened.name_ = end.name;
    const int folder = opened.folder_.get();
    const bool hadFile = end.file.valid();
    end.file.reset(); // opened only to be judged: never written

    // Kept to the user until it has the old list's permissions.
    const mode_t mode = hadFile ? 0600 : 0666;
    Descriptor fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (fd.valid() && !canBeNamed(fd.get()))
        fd.reset();
    if (!fd.valid()) // the file system makes no unnamed files
        fd.reset(createNamed(folder, opened.name_, mode, opened.temporary_));
    if (!fd.valid()) {
        opened.why_ = systemReason(errno);
        return opened;
    }
    if (hadFile && ::fchmod(fd.get(), end.fileStat.st_mode & 0777) != 0) {
        opened.why_ = systemReason(errno);
        opened.removeTemporary();
        return opened;
    }
    opened.fd_ = std::move(fd);
    return opened;
}

QString takeOverReplacement(ReplacementFile& file, OpenedReplacement opened) {
    file.abandon();
    if (!opened.why_.isEmpty())
        return opened.why_;
    if (const QString why = adoptForWriting(file, opened.fd_.release()); !why.isEmpty())
        return why;
    file.place_ = std::move(opened);
    return QString();
}

void ReplacementFile::abandon() {
    QFile::close();
    place_ = OpenedReplacement();
}

QString ReplacementFile::commit() {
    if (!isOpen())
        return systemReason(EBADF);
    const auto failed = [this](const QString& why) {
        abandon();
        return why;
    };
    if (!flush())
        return failed(errorString());
    const int fd = handle();
    if (place_.inPlace_) {
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end < 0 || retryOnInterrupt([&] { return ::ftruncate(fd, end); }) != 0)
            return failed(systemReason(errno));
    }
    if (retryOnInterrupt([&] { return ::fsync(fd); }) != 0)
        return failed(systemReason(errno));
    if (!place_.inPlace_) {
        const int folder = place_.folder_.get();
        if (place_.temporary_.isEmpty() &&
            !nameUnnamed(fd, folder, place_.name_, place_.temporary_))
            return failed(systemReason(errno));
        if (::renameat(folder, place_.temporary_.constData(), folder, place_.name_.constData()) !=
            0)
            return failed(systemReason(errno));
        place_.temporary_.clear();
        // The new name, not only the new content, is to outlast a crash; the list is in
        // place whether or not this succeeds.
        if (Descriptor dir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir.valid())
            ::fsync(dir.get());
    }
    abandon(); // nothing left to remove
    return QString();
}
