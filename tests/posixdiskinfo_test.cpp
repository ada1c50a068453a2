#include "platform/system/diskinfo.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/statvfs.h>

namespace {

TEST(DiskInfo, FreeSpaceIsWhatTheUserMayWriteInKiB) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct statvfs info {};
    ASSERT_EQ(::statvfs(QFile::encodeName(dir.path()).constData(), &info), 0);
    const quint64 expected = quint64(info.f_bavail) * info.f_frsize / 1024;

    const std::optional<quint64> free = createDiskInfo()->FreeSpace(dir.path());
    ASSERT_TRUE(free.has_value());
    // Other programs write too; allow a little drift between the two looks.
    EXPECT_NEAR(double(*free), double(expected), 64.0 * 1024);
    EXPECT_FALSE(createDiskInfo()->FreeSpace(dir.filePath(QStringLiteral("missing"))));
}

TEST(DiskInfo, ReadOnlyMountHasNoFreeSpace) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.path());
    if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here";
    const bool readOnly =
        ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    const std::optional<quint64> free = createDiskInfo()->FreeSpace(dir.path());
    ::umount2(path.constData(), MNT_DETACH);
    if (!readOnly)
        GTEST_SKIP() << "cannot make the bind mount read-only";
    EXPECT_EQ(free, std::optional<quint64>(0));
}

} // namespace
