#include "platform/system/listfile.h"
#include "platform/system/readablefile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

mode_t permissionsOf(const QString& path) {
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// An old list large enough that emptying it takes far longer than a write or a close.
TEST(ListFile, HoldsOnlyTheNewListHoweverSoonItIsWrittenOrClosed) {
    for (const QByteArray& written : {QByteArray("new list\n"), QByteArray()}) {
        SCOPED_TRACE(written.isEmpty() ? "closed at once" : "written at once");
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("list.txt"));
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(QByteArray(64 << 20, 'x')) > 0);
        old.close();

        ListFile file;
        ASSERT_EQ(openListFile(file, QFile::encodeName(path)), QString());
        if (!written.isEmpty()) {
            EXPECT_EQ(file.write(written), written.size());
            EXPECT_TRUE(file.flush());
        }
        file.close();
        EXPECT_EQ(file.error(), QFileDevice::NoError);
        QFile result(path);
        ASSERT_TRUE(result.open(QIODevice::ReadOnly));
        EXPECT_EQ(result.readAll(), written);
    }
}

enum class End { Commit, Abandon, Destroy };

// The list is written beside the old one and takes its place only at commit.
TEST(ListFile, ReplacementTakesTheOldListsPlaceOnlyWhenCommitted) {
    const struct {
        const char* name;
        bool old;  // a list is there before
        bool link; // the path is a link to the list in another folder
        bool proc; // the path reaches the list through /proc: written in place
        End end;
    } cases[] = {
        {"committed", true, false, false, End::Commit},
        {"abandoned", true, false, false, End::Abandon},
        {"destroyed", true, false, false, End::Destroy},
        {"committed through a link", true, true, false, End::Commit},
        {"new, committed", false, false, false, End::Commit},
        {"new, destroyed", false, false, false, End::Destroy},
        {"committed through /proc", true, false, true, End::Commit},
    };
    const QByteArray oldList = "the old list, longer than the new one\n";
    const QByteArray newList = "new list\n";
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("lists")));
        const QString folder = dir.filePath(QStringLiteral("lists"));
        const QString list = folder + QStringLiteral("/list.txt");
        QString path = list;
        if (c.old) {
            QFile old(list);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(oldList) == oldList.size());
            old.close();
            ASSERT_EQ(::chmod(QFile::encodeName(list).constData(), 0640), 0);
        }
        if (c.link) {
            path = dir.filePath(QStringLiteral("link.txt"));
            ASSERT_TRUE(QFile::link(QStringLiteral("lists/list.txt"), path));
        }
        QFile held(list); // what /proc names must be open
        if (c.proc) {
            ASSERT_TRUE(held.open(QIODevice::ReadOnly));
            path = QStringLiteral("/proc/self/fd/%1").arg(held.handle());
        }

        std::optional<ReplacementFile> file(std::in_place);
        ASSERT_EQ(takeOverReplacement(*file, openReplacementAside(QFile::encodeName(path))),
                  QString());
        EXPECT_EQ(file->inPlace(), c.proc);
        ASSERT_TRUE(file->write(newList) == newList.size() && file->flush());
        if (!c.proc) { // nothing shows before the commit
            EXPECT_EQ(contentOf(list), c.old ? oldList : QByteArray("(missing)"));
        }
        if (c.end == End::Commit) {
            EXPECT_EQ(file->commit(), QString());
        } else if (c.end == End::Abandon) {
            file->abandon();
        }
        file.reset();

        const bool replaced = c.end == End::Commit;
        EXPECT_EQ(contentOf(list), replaced ? newList : c.old ? oldList : "(missing)");
        if (replaced) {
            EXPECT_EQ(permissionsOf(list), c.old ? 0640 : 0666 & ~mask);
        }
        EXPECT_EQ(entriesOf(folder), c.old || replaced ? QStringList{"list.txt"} : QStringList());
        if (c.link) {
            EXPECT_EQ(QFileInfo(path).symLinkTarget(), QFileInfo(list).absoluteFilePath());
        }
    }
}

// Refused as a list file is, and nothing is made beside it.
TEST(ListFile, ReplacementRefusesWhatIsNoPlainFile) {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path()) + '/';
    ASSERT_TRUE(dir.isValid() && ::mkfifo(path + "fifo", 0600) == 0 &&
                ::mkdir(path + "folder", 0700) == 0);
    for (const char* name : {"fifo", "folder", "folder/"}) {
        SCOPED_TRACE(name);
        ReplacementFile file;
        EXPECT_NE(takeOverReplacement(file, openReplacementAside(path + name)), QString());
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(entriesOf(dir.path()), (QStringList{"fifo", "folder"}));
    }
}

TEST(ListFile, SameFileFollowsSymbolicAndHardLinks) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto at = [&](const char* name) {
        return QFile::encodeName(dir.filePath(QLatin1String(name)));
    };
    for (const char* name : {"list.txt", "copy.txt"}) {
        QFile file(QFile::decodeName(at(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("same bytes\n") > 0);
    }
    ASSERT_EQ(::symlink(at("list.txt").constData(), at("symbolic").constData()), 0);
    ASSERT_EQ(::link(at("list.txt").constData(), at("hard").constData()), 0);
    const struct {
        const char* other;
        bool same;
    } cases[] = {{"symbolic", true}, {"hard", true}, {"copy.txt", false}, {"missing", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.other);
        EXPECT_EQ(ReadableFile::sameFile(at("list.txt"), at(c.other)), c.same);
        EXPECT_EQ(ReadableFile::sameFile(at(c.other), at("list.txt")), c.same);
    }
}

} // namespace
