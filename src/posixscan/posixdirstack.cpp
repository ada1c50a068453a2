#include "posixscan/posixdirstack.h"

#include "platform/system/posixcore.h"

#include <QList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The device and inode of an open folder, and whether it is the root of a mount: one
// call either way.
bool identify(int fd, DirStack::Frame& frame) {
#if defined(__linux__) && defined(STATX_ATTR_MOUNT_ROOT)
    // Kernels before 4.11, and some sandboxes, refuse statx.
    static std::atomic<bool> haveStatx = true;
    if (haveStatx.load(std::memory_order_relaxed)) {
        struct statx st;
        // The device and inode are the open file's own: a file server need not be asked.
        if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_INO, &st) == 0) {
            frame.dev = makedev(st.stx_dev_major, st.stx_dev_minor);
            frame.ino = st.stx_ino;
            frame.mountRoot = !(st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) ||
                              (st.stx_attributes & STATX_ATTR_MOUNT_ROOT);
            return true;
        }
        if (errno != ENOSYS && errno != EPERM)
            return false;
        haveStatx = false;
    }
#endif
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    frame.dev = st.st_dev;
    frame.ino = st.st_ino;
    frame.mountRoot = true;
    return true;
}

} // namespace

int openFolderPath(const QByteArray& path, int access) {
    const int flags = access | O_DIRECTORY | O_CLOEXEC;
    if (path.size() < PATH_MAX)
        return ::open(path.constData(), flags);
    // Too long to hand to the kernel whole: a folder at a time.
    Descriptor fd(::open(path.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const QByteArray& component : path.split('/')) {
        if (!fd.valid())
            break;
        if (!component.isEmpty())
            fd.reset(::openat(fd.get(), component.constData(), flags));
    }
    return fd.release();
}

DirStack::~DirStack() {
    clear();
}

void DirStack::clear() {
    for (Frame& frame : frames_) {
        if (frame.fd >= 0)
            closeKeepingErrno(frame.fd);
    }
    frames_.clear();
    names_.clear();
    firstOpen_ = 1;
}

void DirStack::setMaxOpen(std::size_t maxOpen) {
    maxOpen_ = std::max<std::size_t>(maxOpen, 2);
}

QByteArrayView DirStack::name(std::size_t index) const {
    if (index == 0)
        return {};
    const qsizetype end = index + 1 < frames_.size() ? frames_[index + 1].nameAt : names_.size();
    return QByteArrayView(names_.constData() + frames_[index].nameAt,
                          end - frames_[index].nameAt - 1);
}

QByteArray DirStack::pathBelowBase(char separator) const {
    return names_.mid(1).replace('\0', separator);
}

bool DirStack::openBase(const QByteArray& path) {
    clear();
    const int fd = openFolderPath(path, O_RDONLY);
    return fd >= 0 && pushOpened(fd, {});
}

void DirStack::adoptBase(int fd, dev_t dev, ino_t ino) {
    clear();
    addFrame({dev, ino, fd, 0});
    names_.append('\0');
}

void DirStack::addFrame(const Frame& frame) {
    try {
        frames_.push_back(frame);
    } catch (const std::bad_alloc&) {
        ::close(frame.fd); // not on the stack yet, so nothing else would close it
        throw;
    }
}

bool DirStack::push(const char* name) {
    const int fd = ::openat(topFd(), name, kFolderFlags | O_NOFOLLOW);
    return fd >= 0 && pushOpened(fd, QByteArrayView(name));
}

bool DirStack::pushOpened(int fd, QByteArrayView name) {
    Frame frame;
    if (!identify(fd, frame)) {
        closeKeepingErrno(fd);
        return false;
    }
    frame.fd = fd;
    frame.nameAt = names_.size();
    addFrame(frame);
    names_.append(name.data(), name.size()).append('\0');
    const std::size_t open = 1 + (frames_.size() - firstOpen_);
    if (frames_.size() > firstOpen_ && open > maxOpen_) {
        ::close(frames_[firstOpen_].fd);
        frames_[firstOpen_].fd = -1;
        ++firstOpen_;
    }
    return true;
}

bool DirStack::pop() {
    const Frame child = frames_.back();
    frames_.pop_back();
    names_.truncate(child.nameAt);
    const std::size_t top = frames_.size() - 1;
    if (!frames_.empty() && top >= 1 && top < firstOpen_) {
        int fd = ::openat(child.fd, "..", kFolderFlags);
        if (!isFrame(fd, top)) {
            // Something on the way was moved: go down again by name from the base.
            if (fd >= 0)
                ::close(fd);
            fd = reopenByNames(top);
        }
        if (fd < 0) {
            closeKeepingErrno(child.fd);
            clear();
            return false;
        }
        frames_[top].fd = fd;
        firstOpen_ = top;
    }
    ::close(child.fd);
    if (frames_.size() <= 1)
        firstOpen_ = 1;
    return true;
}

bool DirStack::isFrame(int fd, std::size_t index) const {
    struct stat st;
    return fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == frames_[index].dev &&
           st.st_ino == frames_[index].ino;
}

int DirStack::reopenByNames(std::size_t index) const {
    int fd = ::fcntl(frames_[0].fd, F_DUPFD_CLOEXEC, 0);
    for (std::size_t i = 1; i <= index && fd >= 0; ++i) {
        const int next =
            ::openat(fd, names_.constData() + frames_[i].nameAt, kFolderFlags | O_NOFOLLOW);
        closeKeepingErrno(fd);
        fd = isFrame(next, i) ? next : -1;
        if (fd < 0 && next >= 0) {
            closeKeepingErrno(next);
            errno = ENOENT; // another folder stands there now
        }
    }
    return fd;
}

std::optional<std::size_t> DirStack::find(dev_t dev, ino_t ino, std::size_t levels) const {
    for (std::size_t i = 0; i < levels && i < frames_.size(); ++i) {
        if (frames_[i].dev == dev && frames_[i].ino == ino)
            return i;
    }
    return std::nullopt;
}

static bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

#if defined(__linux__)

FolderEntries::FolderEntries(int fd, bool fromStart) : fd_(fd) {
    if (fromStart && ::lseek(fd, 0, SEEK_SET) != 0) {
        failed_ = true;
        error_ = errno;
    }
}

FolderEntries::~FolderEntries() = default;

bool FolderEntries::next() {
    while (!failed_) {
        if (position_ >= filled_) {
            const ssize_t got = ::getdents64(fd_, buffer_, sizeof buffer_);
            if (got <= 0) {
                failed_ = got < 0;
                error_ = failed_ ? errno : 0;
                return false;
            }
            filled_ = got;
            position_ = 0;
        }
        const auto* entry = reinterpret_cast<const dirent64*>(buffer_ + position_);
        position_ += entry->d_reclen;
        if (!isDotOrDotDot(entry->d_name)) {
            name_ = entry->d_name;
            type_ = entry->d_type;
            return true;
        }
    }
    return false;
}

#else

FolderEntries::FolderEntries(int fd, bool fromStart) : fd_(fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    stream_ = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!stream_) {
        error_ = errno;
        if (copy >= 0)
            ::close(copy);
        failed_ = true;
    } else if (fromStart) {
        ::rewinddir(stream_);
    }
}

FolderEntries::~FolderEntries() {
    if (stream_)
        ::closedir(stream_);
}

bool FolderEntries::next() {
    while (!failed_) {
        errno = 0;
        const dirent* entry = ::readdir(stream_);
        if (!entry) {
            failed_ = errno != 0;
            error_ = errno;
            return false;
        }
        if (!isDotOrDotDot(entry->d_name)) {
            name_ = entry->d_name;
            type_ = entry->d_type;
            return true;
        }
    }
    return false;
}

#endif
