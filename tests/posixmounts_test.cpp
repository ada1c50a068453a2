#include "posixscan/posixmounts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QByteArray kTable = "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
                          "23 27 0:22 / /sys rw,relatime shared:7 - sysfs sysfs rw\n"
                          "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw,size=100k\n"
                          "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
                          "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                          "30 23 0:26 / /sys/fs/cgroup rw master:2 shared:9 - cgroup2 cgroup2 rw\n"
                          "31 27 0:40 / /mnt/with\\040space rw - autofs systemd-1 rw\n"
                          "garbage line\n"
                          "\n";

TEST(PseudoMounts, TellsKernelFileSystemsFromRealOnes) {
    const PseudoMounts mounts(kTable);
    struct Case {
        unsigned major;
        unsigned minor;
        bool pseudo;
        const char* folder = nullptr; // on a device mounted since the table was read
    };
    const Case cases[] = {
        {0, 21, true},   {0, 22, true}, {0, 6, true},
        {0, 26, true},   {0, 40, true}, {0, 23, false},
        {254, 0, false}, {9, 9, false}, {9, 9, true, "/proc/self"},
    };
    for (const Case& c : cases) {
        const int fd = c.folder ? ::open(c.folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        if (c.folder && fd < 0)
            continue; // no such file system here
        EXPECT_EQ(mounts.isPseudo(makedev(c.major, c.minor), fd), c.pseudo)
            << c.major << ":" << c.minor;
        if (fd >= 0)
            ::close(fd);
    }
}

TEST(PseudoMounts, ReadsThisSystemsTable) {
    struct stat proc;
    if (::stat("/proc/self", &proc) != 0)
        GTEST_SKIP() << "no /proc here";
    const PseudoMounts mounts;
    EXPECT_TRUE(mounts.isPseudo(proc.st_dev, -1));
    struct stat root;
    ASSERT_EQ(::stat("/", &root), 0);
    EXPECT_FALSE(mounts.isPseudo(root.st_dev, -1));
}

TEST(PseudoMounts, PassesOverAutomountPointsWithoutOpeningThem) {
    // /proc stands in for an automount point here: a mount table that calls its device
    // autofs makes it one, while the folders beside it stay ordinary.
    struct stat proc;
    struct stat root;
    if (::stat("/proc/self", &proc) != 0 || ::stat("/", &root) != 0)
        GTEST_SKIP() << "no /proc here";
    const QByteArray device =
        QByteArray::number(major(proc.st_dev)) + ":" + QByteArray::number(minor(proc.st_dev));
    const QByteArray table = "40 1 " + device + " / /proc rw - autofs systemd-1 rw\n";
    const QByteArray noAutomounts = "22 1 " + device + " / /proc rw - proc proc rw\n";
    const int rootFd = ::open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(rootFd, 0);
    EXPECT_TRUE(PseudoMounts(table).isAutomountPoint(rootFd, "proc", root.st_dev));
    EXPECT_FALSE(PseudoMounts(table).isAutomountPoint(rootFd, "usr", root.st_dev));
    // A kernel file system that is no automount point is left to the other checks.
    EXPECT_FALSE(PseudoMounts(noAutomounts).isAutomountPoint(rootFd, "proc", root.st_dev));
    ::close(rootFd);
}

} // namespace
