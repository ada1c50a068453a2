#include "posixscan/excludepatterns.h"
#include "posixscan/filesystem.h"
#include "posixscan/posixfilesystem.h"
#include "posixscan/posixfoldertree.h"
#include "posixscan/posixmounts.h"
#include "posixscan/scanthreads.h"
#include "posixscan/vanishedfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void makeFile(const QByteArray& path, off_t size) {
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

void makeFolder(const QByteArray& path) {
    ASSERT_EQ(::mkdir(path.constData(), 0755), 0) << path.constData();
}

// A record's folders in the order of its walk: each path below the top ("" for the top,
// "a/b" below) with its size.
using Walked = std::vector<std::pair<QByteArray, std::optional<ByteTotal>>>;
Walked walked(PosixFileSystem& fs, const QByteArray& folder, std::stop_token stop = {},
              const ScanOptions& options = {}, int listFile = -1) {
    Walked folders;
    const std::unique_ptr<RecordedFolders> record =
        fs.recordedFolders({folder, options, listFile, std::move(stop)});
    std::vector<QByteArray> path;
    while (record && record->next()) {
        path.resize(std::size_t(record->depth()));
        if (!path.empty())
            path.back() = record->name().toByteArray();
        QByteArray below;
        for (const QByteArray& name : path)
            below += (below.isEmpty() ? "" : "/") + name;
        folders.emplace_back(below, record->size());
    }
    return folders;
}

std::vector<QByteArray> namesAt(const Walked& folders, int depth) {
    std::vector<QByteArray> names;
    for (const auto& folder : folders) {
        if (folder.first.count('/') + !folder.first.isEmpty() == depth)
            names.push_back(folder.first.mid(folder.first.lastIndexOf('/') + 1));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every folder of a record by its path below the top ("" for the top, "a/b" below), with
// its size.
std::map<QByteArray, std::optional<ByteTotal>> sizesIn(const FolderTree& tree) {
    const FolderRecord& record = tree.record();
    std::map<QByteArray, std::optional<ByteTotal>> sizes;
    std::vector<std::pair<quint32, QByteArray>> open{{0, {}}};
    while (!open.empty()) {
        const auto [index, path] = open.back();
        open.pop_back();
        const FolderRecord::Node& node = record.node(index);
        sizes[path] = FolderTree::sizeOf(node);
        if (node.loopsBack)
            continue;
        for (quint32 i = node.firstChild; i < node.firstChild + node.childCount; ++i) {
            if (record.node(i).isFolder)
                open.emplace_back(i, (path.isEmpty() ? "" : path + '/') +
                                         record.name(record.node(i)).toByteArray());
        }
    }
    return sizes;
}

// The restricted listing as it is handed on.
Walked listed(PosixFileSystem& fs, const QByteArray& folder) {
    Walked folders;
    EXPECT_TRUE(fs.listSubFolders({folder, {}, -1, {}}, [&](QByteArrayView name, auto size) {
        folders.emplace_back(name.toByteArray(), size);
    }));
    return folders;
}

std::optional<ByteTotal> sizeOf(PosixFileSystem&& fs, const QByteArray& folder) {
    const Walked folders = walked(fs, folder);
    return folders.empty() ? std::optional<ByteTotal>(999) : folders.front().second;
}

class PosixFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        base = QFile::encodeName(dir.path());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(base.constData(), ignored); // names Qt cannot spell, too
    }
    QTemporaryDir dir;
    QByteArray base;
};

TEST_F(PosixFileSystemTest, FoldersAreRealDirectoriesOnly) {
    makeFolder(base + "/Alpha");
    makeFolder(base + "/.dot");
    makeFolder(base + "/beta");
    makeFile(base + "/file", 10);
    ASSERT_EQ(::symlink("Alpha", (base + "/link").constData()), 0);
    ASSERT_EQ(::symlink(".", (base + "/loop").constData()), 0);

    PosixFileSystem fs;
    EXPECT_EQ(namesAt(walked(fs, base), 1), (std::vector<QByteArray>{".dot", "Alpha", "beta"}));
    std::vector<QByteArray> listed;
    EXPECT_TRUE(fs.listSubFolders({base + "/", {}, -1, {}}, [&](QByteArrayView name, auto) {
        listed.push_back(name.toByteArray());
    }));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<QByteArray>{"Alpha", "beta"}));
}

TEST_F(PosixFileSystemTest, SizesCountEveryRegularFileAndNoLink) {
    makeFolder(base + "/a");
    makeFolder(base + "/a/.hidden");
    makeFolder(base + "/b");
    makeFile(base + "/top", 7);
    makeFile(base + "/a/one", 1000);
    makeFile(base + "/a/.hidden/two", 20000000000LL); // sparse, over 10 GB
    makeFile(base + "/b/three", 3);
    ASSERT_EQ(::link((base + "/b/three").constData(), (base + "/b/again").constData()), 0);
    ASSERT_EQ(::symlink((base + "/a").constData(), (base + "/b/to-a").constData()), 0);
    ASSERT_EQ(::symlink((base + "/a/one").constData(), (base + "/b/to-one").constData()), 0);
    ASSERT_EQ(::mkfifo((base + "/b/pipe").constData(), 0644), 0);

    struct Case {
        QByteArray folder;
        quint64 bytes;
    };
    const Case cases[] = {
        {base, 7 + 1000 + 20000000000ULL + 3 + 3},
        {base + "/a", 1000 + 20000000000ULL},
        {base + "/a/.hidden/", 20000000000ULL},
        {base + "/b", 6},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sizeOf(PosixFileSystem(), c.folder), c.bytes) << c.folder.constData();
    EXPECT_EQ(sizeOf(PosixFileSystem(), base + "/missing"), std::nullopt);

    // The list being written counts as empty, even while an old list in it is emptied.
    const int list = ::open((base + "/top").constData(), O_WRONLY | O_CLOEXEC);
    PosixFileSystem listing;
    EXPECT_EQ(walked(listing, base, {}, {}, list).front().second, cases[0].bytes - 7);
    ::close(list);
}

// Every folder below `top`, in the order a depth-first walk meets them, with the bytes of
// the regular files below it, counted file by file.
std::vector<std::pair<QByteArray, quint64>> sizesBelow(const QByteArray& top) {
    std::vector<QByteArray> order{top};
    std::map<QByteArray, quint64> sizes{{top, 0}};
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top.constData())) {
        const QByteArray path(entry.path().c_str());
        if (entry.is_symlink())
            continue;
        if (entry.is_directory()) {
            order.push_back(path);
            sizes.emplace(path, 0);
        } else if (entry.is_regular_file()) {
            for (QByteArray up = path; up != top;) {
                up.truncate(up.lastIndexOf('/'));
                sizes[up] += entry.file_size();
            }
        }
    }
    std::vector<std::pair<QByteArray, quint64>> folders;
    for (const QByteArray& folder : order)
        folders.emplace_back(folder, sizes[folder]);
    return folders;
}

// A chain of folders named "l<n>" below `under`, a file in every tenth.
void makeChain(const QByteArray& under, int levels) {
    QByteArray path = under;
    for (int level = 0; level < levels; ++level) {
        path += "/l" + QByteArray::number(level);
        makeFolder(path);
        if (level % 10 == 0)
            makeFile(path + "/f", level + 1);
    }
}

TEST_F(PosixFileSystemTest, TreesOfEveryShapeAddUpLikeAFileByFileCount) {
    struct Shape {
        const char* name;
        std::function<void(const QByteArray&)> make;
    };
    const Shape shapes[] = {
        {"top folders to share out, with links back up",
         [](const QByteArray& top) {
             for (int t = 0; t < 24; ++t) {
                 QByteArray path = top + "/t" + QByteArray::number(t);
                 for (int level = 0; level < t % 5 + 1; ++level) {
                     makeFolder(path);
                     for (int f = 0; f <= level; ++f)
                         makeFile(path + "/f" + QByteArray::number(f), t * 1000 + level * 10 + f);
                     if (level == 1) {
                         ASSERT_EQ(::symlink(top.constData(), (path + "/up").constData()), 0);
                     }
                     path += "/l" + QByteArray::number(level);
                 }
             }
         }},
        {"one huge branch under small ones",
         [](const QByteArray& top) {
             for (int t = 0; t < 4; ++t) {
                 makeFolder(top + "/small" + QByteArray::number(t));
                 makeFile(top + "/small" + QByteArray::number(t) + "/f", t + 1);
             }
             std::vector<QByteArray> big{top + "/big"};
             makeFolder(big[0]);
             for (int i = 1; i < 4000; ++i) {
                 big.push_back(big[std::size_t(i * 7919 % i)] + "/b" + QByteArray::number(i));
                 makeFolder(big.back());
                 makeFile(big.back() + "/f", i);
             }
         }},
        {"50,000 sub-folders in one folder",
         [](const QByteArray& top) {
             makeFolder(top + "/many");
             for (int i = 0; i < 50000; ++i) {
                 makeFolder(top + "/many/d" + QByteArray::number(i));
                 if (i % 100 == 0)
                     makeFile(top + "/many/d" + QByteArray::number(i) + "/f", i);
             }
         }},
        {"chains deeper than a scan keeps open",
         [](const QByteArray& top) {
             for (int c = 0; c < 3; ++c) {
                 makeFolder(top + "/c" + QByteArray::number(c));
                 makeChain(top + "/c" + QByteArray::number(c), 150 + 50 * c);
             }
         }},
    };
    // Memory-backed when there is such a place: tens of thousands of folders come and go.
    const bool shm = qEnvironmentVariableIsEmpty("TMPDIR") && ::access("/dev/shm", W_OK) == 0;
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        QTemporaryDir tree(shm ? QStringLiteral("/dev/shm/kestrix-XXXXXX") : QString());
        const QByteArray top = QFile::encodeName(tree.path());
        shape.make(top);
        ASSERT_FALSE(HasFailure());
        std::map<QByteArray, std::optional<ByteTotal>> expected;
        for (const auto& [folder, bytes] : sizesBelow(top))
            expected[folder.mid(top.size() + 1)] = bytes;
        PosixFileSystem fs;
        const Walked folders = walked(fs, top);
        EXPECT_EQ(std::map(folders.begin(), folders.end()), expected);
        // Listed as their trees are read, in the same order.
        Walked subFolders;
        std::copy_if(folders.begin(), folders.end(), std::back_inserter(subFolders),
                     [](const auto& folder) {
                         return !folder.first.isEmpty() && !folder.first.contains('/');
                     });
        EXPECT_EQ(listed(fs, top), subFolders);
        EXPECT_EQ(fs.exhaustedResource(), 0);

        // The same record on any number of threads, also under `ulimit -n 64`.
        struct Run {
            int threads;            // 0: as many as the scan takes
            rlim_t descriptorLimit; // 0: as it is
        };
        for (const Run run : {Run{1, 0}, Run{kMaxScanThreads, 0}, Run{32, 64}, Run{0, 64}}) {
            SCOPED_TRACE(testing::Message()
                         << run.threads << " threads, limit " << run.descriptorLimit);
            const int fd = ::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            rlimit was;
            ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
            rlimit few = was;
            few.rlim_cur = run.descriptorLimit ? run.descriptorLimit : was.rlim_cur;
            ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
            FolderTree tree;
            tree.setThreads(run.threads);
            const bool scanned = tree.scan(fd, PseudoMounts(), {});
            ::setrlimit(RLIMIT_NOFILE, &was);
            ::close(fd);
            ASSERT_TRUE(scanned);
            EXPECT_EQ(tree.exhausted(), 0);
            const auto sizes = sizesIn(tree);
            for (const auto& [folder, bytes] : expected) {
                const auto found = sizes.find(folder);
                ASSERT_NE(found, sizes.end()) << folder.constData();
                ASSERT_EQ(found->second, bytes) << folder.constData();
            }
        }
    }
}

TEST_F(PosixFileSystemTest, CancelledQueryGivesNoSizeAndLeavesNothingHalfDone) {
    // Enough folders to be shared out between the threads, and to be asked about.
    quint64 expected = 0;
    for (int top = 0; top < 24; ++top) {
        const QByteArray folder = base + "/t" + QByteArray::number(top);
        makeFolder(folder);
        makeFile(folder + "/f", top + 1);
        expected += top + 1;
        for (int i = 0; i < 100; ++i)
            makeFolder(folder + "/s" + QByteArray::number(i));
    }
    PosixFileSystem fs;
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_TRUE(walked(fs, base, stopped.get_token()).empty());
    const Walked folders = walked(fs, base);
    EXPECT_EQ(folders.size(), 1u + 24 * 101);
    EXPECT_EQ(folders.front().second, expected);
}

TEST_F(PosixFileSystemTest, MemoryRunningOutStopsTheScanAndSaysSo) {
    // Wide enough for both threads to be at work when the room runs out.
    for (int t = 0; t < 40; ++t) {
        makeFolder(base + "/t" + QByteArray::number(t));
        for (int i = 0; i < 100; ++i)
            makeFolder(base + "/t" + QByteArray::number(t) + "/s" + QByteArray::number(i));
    }
    for (const std::size_t room : {std::size_t(0), std::size_t(32 * 1024)}) {
        SCOPED_TRACE(room);
        PosixFileSystem fs;
        fs.setMemoryLimit(room);
        EXPECT_TRUE(walked(fs, base).empty()); // nothing of a record half made
        EXPECT_EQ(fs.exhaustedResource(), ENOMEM);
    }
}

TEST_F(PosixFileSystemTest, FolderMovedAwayBeforeItIsOpenedIsLookedForAgainOrNamed) {
    makeFolder(base + "/a");
    makeFile(base + "/a/f", 5);
    makeFile(base + "/top", 2);
    using Told = std::vector<std::pair<QByteArray, int>>;
    struct Case {
        const char* name;
        int backBefore; // the open of "a" before which it is moved back; 0: never
        Walked expected;
        Told told;
    };
    const Case cases[] = {
        {"moved away and back", 2, {{"", 7}, {"a", 5}}, {}},
        {"gone for good", 0, {{"", std::nullopt}, {"a", std::nullopt}}, {{base + "/a", ENOENT}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Between the listing of "a" and its open, as another program may move it.
        std::atomic<int> opens = 0;
        setBeforeListedFolderOpen([&](int parentFd, const char* name) {
            const int open = std::strcmp(name, "a") == 0 ? ++opens : 0;
            if (open == 1)
                ::renameat(parentFd, "a", parentFd, "a.x");
            if (open > 0 && open == c.backBefore)
                ::renameat(parentFd, "a.x", parentFd, "a");
        });
        std::mutex mutex;
        Told told;
        ScanOptions options;
        options.unreadable = [&](const NativePath& folder, int error) {
            const std::lock_guard lock(mutex);
            told.emplace_back(folder, error);
        };
        PosixFileSystem fs;
        const Walked folders = walked(fs, base, {}, options);
        setBeforeListedFolderOpen(nullptr);
        ::rename((base + "/a.x").constData(), (base + "/a").constData());
        EXPECT_EQ(folders, c.expected);
        EXPECT_EQ(told, c.told);
    }
}

TEST(ExcludePatterns, MatchWhereDuExcludeMatches) {
    struct Case {
        QByteArray pattern;
        QByteArray below; // below the chosen folder "/srv/Tree"
        bool excluded;    // as du --exclude found, given "Tree"
    };
    const Case cases[] = {
        {"\\", "\\", true},         // a '\' at the end stands for itself
        {"y\\\\\\", "y\\\\", true}, // an escaped '\', then one at the end
        {"b*", "bdir/x", true},     // matched on "bdir/x", an end after a '/'
        {"T*x", "bdir/x", true},    // '*' goes across '/', from the folder's own name
    };
    for (const Case& c : cases) {
        const ExcludePatterns patterns({c.pattern}, "/srv/Tree");
        EXPECT_EQ(patterns.matches(patterns.pathFor(c.below).constData()), c.excluded)
            << c.pattern.constData() << " on " << c.below.constData();
    }
}

TEST_F(PosixFileSystemTest, NamesThatAreNotUtf8AreReachedAndShownReplaced) {
    const QByteArray odd = "caf\xe9\xff";
    makeFolder(base + "/" + odd);
    makeFile(base + "/" + odd + "/data", 4321);
    PosixFileSystem fs;
    EXPECT_EQ(walked(fs, base), (Walked{{"", 4321u}, {odd, 4321u}}));
    EXPECT_EQ(fs.decodePath(odd), QStringLiteral("caf\uFFFD\uFFFD"));
    EXPECT_EQ(fs.decodePath("a\xc3"), QStringLiteral("a\uFFFD"));
    for (const QByteArray& name : {odd, QByteArray("a\xc3"), QByteArray("Plain"),
                                   QByteArray("\xc3\x84"
                                              "b")}) {
        QString text = QStringLiteral("x/");
        fs.appendDecoded(text, name);
        EXPECT_EQ(text, QStringLiteral("x/") + fs.decodePath(name));
    }
}

TEST_F(PosixFileSystemTest, PathBelowRootDropsTheLeadingSeparator) {
    PosixFileSystem fs;
    EXPECT_EQ(fs.pathBelowRoot("/"), QString());
    EXPECT_EQ(fs.pathBelowRoot("/Srv/Data/"), QStringLiteral("Srv/Data/"));
}

TEST_F(PosixFileSystemTest, TreesDeeperThanAPathCanBeAreWalkedAndSized) {
    // 1200 levels of "level": some 7,200 bytes of path, beyond what the kernel takes whole.
    constexpr int kLevels = 1200;
    int fd = ::open(base.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < kLevels; ++i) {
        ASSERT_EQ(::mkdirat(fd, "level", 0755), 0);
        const int next = ::openat(fd, "level", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    const int file = ::openat(fd, "bottom", O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::ftruncate(file, 98765), 0);
    ::close(file);
    ::close(fd);

    PosixFileSystem fs;
    const Walked folders = walked(fs, base);
    ASSERT_EQ(folders.size(), std::size_t(kLevels) + 1);
    for (const auto& folder : folders)
        ASSERT_EQ(folder.second, 98765u) << folder.first.size();
    EXPECT_GT(folders.back().first.size(), 4096);
    // Plain tools cannot remove it by full path either.
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()});
}

TEST_F(PosixFileSystemTest, KernelFileSystemsAreNeitherListedNorCounted) {
    struct stat proc;
    if (::stat("/proc/self", &proc) != 0)
        GTEST_SKIP() << "no /proc here";
    EXPECT_EQ(sizeOf(PosixFileSystem(), "/proc"), 0u);
}

// Mounts made by a test, taken down however it ends; without a type, bind mounts.
struct Mounts {
    bool bind(const QByteArray& from, const QByteArray& onto, const char* type = nullptr) {
        if (::mount(from.constData(), onto.constData(), type, type ? 0 : MS_BIND, nullptr) != 0)
            return false;
        made.push_back(onto);
        return true;
    }
    ~Mounts() {
        for (auto at = made.rbegin(); at != made.rend(); ++at)
            ::umount2(at->constData(), MNT_DETACH);
    }
    std::vector<QByteArray> made;
};

TEST_F(PosixFileSystemTest, LoopsEndAndEachFolderCountsAsFromItselfInOnePass) {
    struct Shape {
        const char* name;
        std::function<bool(const QByteArray&, Mounts&)> make; // false: no bind mount here
        int folders;                                          // the walk visits
    };
    const Shape shapes[] = {
        {"a loop round to the top",
         [](const QByteArray& top, Mounts& mounts) {
             makeFolder(top + "/a");
             makeFolder(top + "/a/b");
             makeFile(top + "/a/data", 500);
             makeFile(top + "/top", 11);
             return mounts.bind(top, top + "/a/b");
         },
         2},
        {"a loop at the bottom of a deep chain, and one midway",
         [](const QByteArray& top, Mounts& mounts) {
             for (int i = 0; i < 20; ++i) {
                 makeFolder(top + "/w" + QByteArray::number(i));
                 makeFile(top + "/w" + QByteArray::number(i) + "/f", 1000 + i);
             }
             makeChain(top, 150);
             QByteArray bottom = top;
             for (int level = 0; level < 150; ++level)
                 bottom += "/l" + QByteArray::number(level);
             makeFolder(bottom + "/loop");
             makeFolder(top + "/l0/l1/l2/l3/back");
             return mounts.bind(top, bottom + "/loop") &&
                    mounts.bind(top + "/l0/l1", top + "/l0/l1/l2/l3/back");
         },
         171},
        {"a loop beside another file system",
         [](const QByteArray& top, Mounts& mounts) {
             makeFolder(top + "/m");
             makeChain(top, 3);
             makeFolder(top + "/l0/l1/l2/loop");
             const bool made = mounts.bind("tmpfs", top + "/m", "tmpfs") &&
                               mounts.bind(top + "/l0", top + "/l0/l1/l2/loop");
             makeFile(top + "/m/f", 5);
             return made;
         },
         5},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        QTemporaryDir tree;
        const QByteArray top = QFile::encodeName(tree.path());
        Mounts mounts;
        if (!shape.make(top, mounts))
            GTEST_SKIP() << "cannot bind-mount here";
        ASSERT_FALSE(HasFatalFailure());
        const auto scanFrom = [](const QByteArray& folder, FolderTree& tree) {
            const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const bool done = tree.scan(fd, PseudoMounts(), {});
            ::close(fd);
            return done;
        };
        FolderTree whole; // one pass over the tree holds every folder's figure
        ASSERT_TRUE(scanFrom(top, whole));
        const auto inWhole = sizesIn(whole);
        PosixFileSystem fs;
        const Walked folders = walked(fs, top);
        for (const auto& [below, size] : folders) {
            const QByteArray folder = below.isEmpty() ? top : top + '/' + below;
            // A scan begun at the folder: what a record from there says of its top.
            FolderTree own;
            ASSERT_TRUE(scanFrom(folder, own)) << folder.constData();
            const std::optional<ByteTotal> fromItself = FolderTree::sizeOf(own.record().node(0));
            EXPECT_EQ(size, fromItself) << folder.constData();
            const auto found = inWhole.find(below);
            ASSERT_NE(found, inWhole.end()) << folder.constData();
            EXPECT_EQ(found->second, fromItself) << folder.constData();
        }
        EXPECT_EQ(int(folders.size()), shape.folders);
        Walked subFolders;
        std::copy_if(folders.begin(), folders.end(), std::back_inserter(subFolders),
                     [](const auto& folder) {
                         return !folder.first.isEmpty() && !folder.first.contains('/');
                     });
        EXPECT_EQ(listed(fs, top), subFolders);
    }
}

TEST(ScanThreads, MoreOnlyWhileMostOfTheTimeGoesToWaitingOnTheFileSystem) {
    struct Case {
        const char* what;
        int running;
        qint64 busy, run, queued;
        int wanted;
        qint64 idle = 0;
        GrowthStep last = {};
    };
    const Case cases[] = {
        {"warm cache: the processor is the limit", 2, 100, 92, 3, 2},
        {"busy machine: waiting for a core is no blocking", 2, 100, 25, 70, 2},
        {"a third blocked stays", 2, 100, 70, 0, 2},
        {"cold disk: half blocked", 2, 100, 50, 0, 4},
        {"cold disk on a busy machine: blocked longer than run", 2, 100, 10, 60, 4},
        {"cold disk: two thirds blocked", 2, 100, 30, 3, 4},
        {"cold disk, more threads already: twice as many", 6, 100, 30, 3, 12},
        {"share: at first up to four times as many", 4, 100, 3, 0, 16},
        {"share, after a step that paid: twice as many", 4, 100, 3, 0, 8, 0, {2, 1.9}},
        {"busy server: the step brought too little", 8, 100, 3, 0, 8, 0, {4, 1.15}},
        {"busy server: 4x the threads, 1.5x the work", 8, 100, 3, 0, 8, 0, {2, 1.5}},
        {"the threads wait for work most of the time", 4, 40, 1, 0, 4, 60},
        {"share: up to the cap", 24, 100, 2, 0, 32},
        {"at the cap", 32, 100, 0, 0, 32},
        {"all blocked", 8, 100, 0, 0, 32},
        {"nothing measured", 2, 0, 0, 0, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            threadsWanted(c.running, kMaxAutomaticThreads, c.busy, c.run, c.queued, c.idle, c.last),
            c.wanted)
            << c.what;
    }
}

TEST(PosixPaths, ChosenFoldersAreNormalisedAsTheSystemGoesUp) {
    struct Case {
        QByteArray given;
        QByteArray expected;
    };
    const QByteArray current = QFile::encodeName(QDir::currentPath());
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QByteArray t = QFile::encodeName(QFileInfo(scratch.path()).canonicalFilePath());
    ASSERT_TRUE(QDir(scratch.path()).mkpath(QStringLiteral("x/y/z")));
    ASSERT_EQ(::symlink("x/y/z", t + "/L"), 0);
    const Case cases[] = {
        {"/", "/"},
        {"/srv/data/", "/srv/data"},
        {t + "//L/./..", t + "/x/y"}, // from where the link leads, as ls and cd -P go
        {t + "/L/../../y", t + "/x/y"},
        {t + "/none/..", t + "/none/.."}, // left for the open to refuse
        {"/../..", "/"},
        {"rel", current + "/rel"},
        {"bad\xff\xfename/.", current + "/bad\xff\xfename"}, // kept as bytes
    };
    for (const Case& c : cases)
        EXPECT_EQ(absoluteFolderPath(c.given), c.expected) << c.given.toStdString();
}

TEST(PosixUsedSpace, MatchesWhatDfCallsUsed) {
    QProcess df;
    df.start(QStringLiteral("df"),
             {QStringLiteral("-B1"), QStringLiteral("--output=used"), QStringLiteral("/")});
    if (!df.waitForFinished() || df.exitCode() != 0)
        GTEST_SKIP() << "no df here";
    const quint64 used = df.readAllStandardOutput().split('\n').value(1).trimmed().toULongLong();
    PosixFileSystem fs;
    // The two readings are moments apart on a live disk.
    const quint64 mine = fs.usedSpace("/");
    EXPECT_GT(mine, 0u);
    EXPECT_LT(mine > used ? mine - used : used - mine, 64u << 20);
    EXPECT_EQ(fs.usedSpace("/no/such/folder"), 0u);
}

} // namespace
