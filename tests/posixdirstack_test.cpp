#include "posixscan/posixdirstack.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2;
}

// A chain of `levels` folders named "l<n>" below `base`, made one step at a time.
void makeChain(const QByteArray& base, int levels) {
    int fd = ::open(base.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < levels; ++i) {
        const QByteArray name = "l" + QByteArray::number(i);
        ASSERT_EQ(::mkdirat(fd, name.constData(), 0755), 0);
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    ::close(fd);
}

TEST(DirStack, ClimbsBackThroughAChainDeeperThanItKeepsOpen) {
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    constexpr int kLevels = 300;
    makeChain(base, kLevels);
    const int before = openDescriptors();

    DirStack stack;
    ASSERT_TRUE(stack.openBase(base));
    std::vector<ino_t> inodes{stack.top().ino};
    for (int i = 0; i < kLevels; ++i) {
        ASSERT_TRUE(stack.push("l" + QByteArray::number(i))) << i;
        inodes.push_back(stack.top().ino);
        EXPECT_LE(openDescriptors() - before, 64);
    }
    EXPECT_EQ(stack.find(stack.at(5).dev, inodes[5], stack.depth()), 5u);
    EXPECT_FALSE(stack.find(stack.at(5).dev, inodes[5], 5).has_value());

    // Every level found again on the way up is the very folder it was on the way down.
    for (int i = kLevels; i > 0; --i) {
        ASSERT_TRUE(stack.pop()) << i;
        struct stat st;
        ASSERT_EQ(::fstat(stack.topFd(), &st), 0);
        EXPECT_EQ(st.st_ino, inodes[std::size_t(i - 1)]);
    }
    EXPECT_EQ(stack.depth(), 1u);
    stack.clear();
    EXPECT_EQ(openDescriptors(), before);
}

TEST(DirStack, RefusesLinksAndFilesAndKeepsItsPlace) {
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    ASSERT_EQ(::mkdir((base + "/real").constData(), 0755), 0);
    ASSERT_EQ(::symlink("real", (base + "/link").constData()), 0);
    const int file = ::open((base + "/file").constData(), O_CREAT | O_WRONLY, 0644);
    ::close(file);

    DirStack stack;
    ASSERT_TRUE(stack.openBase(base));
    struct Case {
        QByteArray name;
        bool gone; // ENOENT rather than "not a folder" (ENOTDIR or ELOOP)
    };
    for (const Case& c : {Case{"link", false}, Case{"file", false}, Case{"none", true}}) {
        EXPECT_FALSE(stack.push(c.name));
        if (c.gone)
            EXPECT_EQ(errno, ENOENT);
        else
            EXPECT_TRUE(errno == ENOTDIR || errno == ELOOP) << c.name.constData() << errno;
        EXPECT_EQ(stack.depth(), 1u);
    }
    EXPECT_TRUE(stack.push("real"));
}

TEST(DirStack, FindsItsWayBackWhenTheTreeChangesAboveIt) {
    // Part of the chain is moved away while the stack is deep in it: ".." then leads
    // elsewhere. The folders still in place are found again by name; a folder that is
    // gone from its place cannot be, and the stack says so.
    struct Case {
        const char* what;
        int movedAt;   // the folder moved away
        int removedAt; // a folder renamed out of the chain too, or -1
        bool findsWay;
    };
    for (const Case c : {Case{"moved below the open levels", 10, -1, true},
                         Case{"gone on the way back", 10, 4, false}}) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path());
        makeChain(base, 80);
        DirStack stack;
        ASSERT_TRUE(stack.openBase(base));
        std::vector<ino_t> inodes{stack.top().ino};
        for (int i = 0; i < 80; ++i) {
            ASSERT_TRUE(stack.push("l" + QByteArray::number(i)));
            inodes.push_back(stack.top().ino);
        }
        auto pathTo = [&](int level) {
            QByteArray path = base;
            for (int i = 0; i <= level; ++i)
                path += "/l" + QByteArray::number(i);
            return path;
        };
        ASSERT_EQ(::rename(pathTo(c.movedAt).constData(), (base + "/moved").constData()), 0);
        if (c.removedAt >= 0) {
            ASSERT_EQ(::rename(pathTo(c.removedAt).constData(), (base + "/gone").constData()), 0);
        }

        bool lost = false;
        while (stack.depth() > 1 && !lost) {
            lost = !stack.pop();
            if (!lost) {
                struct stat st;
                ASSERT_EQ(::fstat(stack.topFd(), &st), 0);
                EXPECT_EQ(st.st_ino, inodes[stack.depth() - 1]);
            }
        }
        EXPECT_EQ(lost, !c.findsWay);
        EXPECT_EQ(stack.empty(), !c.findsWay);
    }
}

} // namespace
