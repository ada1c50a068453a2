#include "platform/system/readablefile.h"

#include "platform/system/posixcore.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

ReadableFile::Kind kindOfMode(mode_t mode) {
    return S_ISDIR(mode)   ? ReadableFile::Kind::Folder
           : S_ISREG(mode) ? ReadableFile::Kind::Regular
                           : ReadableFile::Kind::Other;
}

} // namespace

ReadableFile::Kind ReadableFile::kindOf(const QByteArray& path, QString* why) {
    struct stat st;
    if (retryOnInterrupt([&] { return ::stat(path.constData(), &st); }) != 0) {
        if (why)
            *why = reason(errno);
        return Kind::Missing;
    }
    return kindOfMode(st.st_mode);
}

bool ReadableFile::sameFile(const QByteArray& a, const QByteArray& b) {
    struct stat first;
    struct stat second;
    return retryOnInterrupt([&] { return ::stat(a.constData(), &first); }) == 0 &&
           retryOnInterrupt([&] { return ::stat(b.constData(), &second); }) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

QString ReadableFile::open(QFile& file, const QByteArray& path) {
    // Not held up by a FIFO that has no writer: it is refused below.
    Descriptor fd(retryOnInterrupt(
        [&] { return ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
    if (fd.get() < 0)
        return reason(errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return reason(errno);
    switch (kindOfMode(st.st_mode)) {
    case Kind::Folder:
        return QStringLiteral("a folder, not a list file");
    case Kind::Regular:
        break;
    default:
        return QStringLiteral("not a regular file (a FIFO, a socket or a device)");
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return file.errorString();
    fd.release();
    return {};
}

QDateTime ReadableFile::modified(const QFile& file) {
    struct stat st;
    if (::fstat(file.handle(), &st) != 0)
        return {};
    return QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
}
