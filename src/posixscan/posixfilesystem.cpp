#include "posixscan/posixfilesystem.h"

#include "listing/hiddenname.h"
#include "posixscan/filesystem.h"
#include "posixscan/posixdirstack.h"
#include "posixscan/requestsheldback.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

std::shared_ptr<FileSystemInfo> createFileSystemInfo() {
    return std::make_shared<PosixFileSystem>();
}

NativePath absoluteFolderPath(const NativePath& path) {
    NativePath full = path;
    if (!path.startsWith('/')) {
        // The current folder as the system names it, however long.
        char* current = ::getcwd(nullptr, 0);
        if (!current)
            return NativePath();
        full = NativePath(current) + '/' + path;
        std::free(current);
    }
    QList<NativePath> kept;
    for (const NativePath& part : full.split('/')) {
        if (part == "..") {
            // The parent of the folder reached, as the system goes up: from where a link
            // led, not from the link's name. Where that cannot be had, ".." stays, and the
            // open tells why.
            if (char* real = ::realpath(('/' + kept.join('/')).constData(), nullptr)) {
                kept = NativePath(real).split('/');
                kept.removeAll(NativePath());
                std::free(real);
                if (!kept.isEmpty())
                    kept.removeLast();
            } else {
                kept.append(part);
            }
        } else if (!part.isEmpty() && part != ".")
            kept.append(part);
    }
    return '/' + kept.join('/');
}

int folderOpenError(const NativePath& path) {
    const int fd = openFolderPath(path, O_PATH);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

bool isOtherThanFolder(const NativePath& path) {
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

PosixFileSystem::PosixFileSystem() : PosixFileSystem(PseudoMounts()) {}

PosixFileSystem::PosixFileSystem(PseudoMounts pseudoMounts)
    : pseudoMounts_(std::move(pseudoMounts)) {}

namespace {

NativePath withoutTrailingSeparators(const NativePath& folder) {
    NativePath path = folder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

} // namespace

NativePath PosixFileSystem::encodePath(const QString& path) const {
    return QFile::encodeName(path);
}

QString PosixFileSystem::decodePath(const NativePath& path) const {
    return QString::fromUtf8(path);
}

void PosixFileSystem::appendDecoded(QString& text, QByteArrayView name) const {
    // Nearly every name is ASCII, which is its own UTF-8.
    if (std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; }))
        text += QLatin1StringView(name.data(), name.size());
    else
        text += QString::fromUtf8(name);
}

QString PosixFileSystem::pathBelowRoot(const NativePath& path) const {
    return decodePath(path.startsWith('/') ? path.mid(1) : path);
}

void PosixFileSystem::noteExhaustion(int error) {
    int none = 0;
    if (isExhaustion(error))
        exhausted_.compare_exchange_strong(none, error);
}

bool PosixFileSystem::scan(FolderTree& tree, const NativePath& top, int fd, const TreeRead& read,
                           bool hiddenAtTop, const std::function<void(quint32)>& subFolderRead) {
    tree.setMemoryLimit(memoryLimit_);
    // What cannot be read is told only while the run goes on: once it stopped, whoever
    // asked may be gone.
    ScanOptions options = read.options;
    if (options.unreadable) {
        options.unreadable = [&read](const NativePath& folder, int error) {
            if (!read.stop.stop_requested())
                read.options.unreadable(folder, error);
        };
    }
    tree.setScanOptions(&options, top);
    tree.setListFile(fileOf(read.listFile));
    {
        const std::lock_guard lock(mutex_);
        scanning_ = &tree;
        scanningTop_ = top;
    }
    const bool done = tree.scan(fd, pseudoMounts_, read.stop, hiddenAtTop, subFolderRead);
    {
        const std::lock_guard lock(mutex_);
        scanning_ = nullptr;
    }
    noteExhaustion(tree.exhausted());
    return done;
}

bool PosixFileSystem::couldNotOpen(const NativePath& top, const TreeRead& read) {
    const int error = errno;
    noteExhaustion(error);
    if (exhausted_)
        return false;
    if (read.options.unreadable && !read.stop.stop_requested())
        read.options.unreadable(top, error);
    return true;
}

std::unique_ptr<FolderTree> PosixFileSystem::recordFrom(const NativePath& top, const TreeRead& read,
                                                        bool hiddenAtTop) {
    auto tree = std::make_unique<FolderTree>();
    DirStack base;
    if (!base.openBase(top)) {
        if (!couldNotOpen(top, read))
            return nullptr;
        tree->recordEmptyFolder(false);
    } else if (pseudoMounts_.isPseudo(base.top().dev, base.topFd())) {
        tree->recordEmptyFolder(true); // nothing of it is on a drive
    } else if (!scan(*tree, top, base.topFd(), read, hiddenAtTop)) {
        return nullptr;
    }
    return tree;
}

std::optional<FolderTree::FolderId> PosixFileSystem::fileOf(int handle) {
    struct stat st;
    if (handle >= 0 && ::fstat(handle, &st) == 0 && S_ISREG(st.st_mode))
        return FolderTree::FolderId{st.st_dev, st.st_ino};
    return std::nullopt;
}

ScanProgress PosixFileSystem::scanProgress() const {
    const std::lock_guard lock(mutex_);
    if (!scanning_)
        return {};
    const FolderTree::Progress progress = scanning_->progress();
    NativePath folder = scanningTop_;
    if (!folder.endsWith('/'))
        folder += '/';
    return {folder + progress.folder, progress.folders, progress.files};
}

// Steps through a record node by node, in the order of a walk.
class PosixFileSystem::RecordedWalk final : public RecordedFolders {
public:
    explicit RecordedWalk(std::unique_ptr<FolderTree> tree)
        : tree_(std::move(tree)), record_(tree_->record()) {}

    bool next() override {
        if (!started_) {
            started_ = true;
            // The top, unless the exclude patterns left it out.
            return record_.nodeCount() > 0 && record_.node(0).isFolder;
        }
        if (!skipBelow_)
            descendFrom(current_);
        skipBelow_ = false;
        while (!levels_.empty()) {
            Level& level = levels_.back();
            while (level.next < level.end && !record_.node(level.next).isFolder)
                ++level.next;
            if (level.next < level.end) {
                current_ = level.next++;
                return true;
            }
            levels_.pop_back();
        }
        return false;
    }
    void skipBelow() override { skipBelow_ = true; }
    int depth() const override { return int(levels_.size()); }
    QByteArrayView name() const override {
        return current_ == 0 ? QByteArrayView() : record_.name(record_.node(current_));
    }
    std::optional<ByteTotal> size() const override {
        const auto counted = countedFromItself_.find(current_);
        return counted != countedFromItself_.end() ? counted->second
                                                   : FolderTree::sizeOf(record_.node(current_));
    }

    // The folders the walk meets whose figure depends on where the scan began (a loop
    // below them), each with its path below the top; the top was counted from itself.
    std::vector<std::pair<quint32, NativePath>> countedElsewhere() const {
        std::vector<std::pair<quint32, NativePath>> folders;
        bool any = false; // nearly always none: the record counts most loops itself
        for (quint32 i = 0; i < record_.nodeCount() && !any; ++i)
            any = record_.node(i).holdsLoop;
        if (!any)
            return folders;
        RecordedWalk walk(record_);
        std::vector<QByteArrayView> names;
        while (walk.next()) {
            const int depth = walk.depth();
            if (depth == 0)
                continue;
            names.resize(std::size_t(depth));
            names.back() = walk.name();
            if (isHiddenName(names.back())) {
                walk.skipBelow(); // the walk passes over these
                continue;
            }
            if (record_.node(walk.current_).holdsLoop) {
                NativePath below;
                for (const QByteArrayView name : names) {
                    below += '/';
                    below += name;
                }
                folders.emplace_back(walk.current_, below);
            }
        }
        return folders;
    }

private:
    struct Level {
        quint32 next;
        quint32 end;
    };

    explicit RecordedWalk(const FolderRecord& record) : record_(record) {}

    void descendFrom(quint32 index) {
        const FolderRecord::Node& folder = record_.node(index);
        if (folder.childCount > 0)
            levels_.push_back({folder.firstChild, folder.firstChild + folder.childCount});
    }

    friend class PosixFileSystem;
    std::unique_ptr<FolderTree> tree_;
    const FolderRecord& record_;
    std::vector<Level> levels_;
    quint32 current_ = 0;
    bool started_ = false;
    bool skipBelow_ = false;
    std::map<quint32, std::optional<ByteTotal>> countedFromItself_;
};

std::unique_ptr<RecordedFolders> PosixFileSystem::recordedFolders(const TreeRead& read) {
    const RequestsHeldBack held;
    const NativePath top = withoutTrailingSeparators(read.folder);
    std::unique_ptr<FolderTree> tree = recordFrom(top, read, true);
    if (!tree)
        return nullptr;
    auto walk = std::make_unique<RecordedWalk>(std::move(tree));
    // Below a loop a folder's figure depends on where the scan began, so such a folder
    // is counted from itself, as if it had been chosen.
    for (const auto& [index, below] : walk->countedElsewhere()) {
        const std::optional<std::optional<ByteTotal>> size =
            countedFromItself((top == "/" ? NativePath() : top) + below, read);
        if (!size)
            return nullptr;
        walk->countedFromItself_[index] = *size;
    }
    return walk;
}

std::optional<std::optional<ByteTotal>> PosixFileSystem::countedFromItself(const NativePath& folder,
                                                                           const TreeRead& read) {
    const std::unique_ptr<FolderTree> own = recordFrom(folder, read, true);
    if (!own)
        return std::nullopt;
    return FolderTree::sizeOf(own->record().node(0));
}

namespace {

// The sub-folders of the top of a scan, handed on in the file system's order as their
// trees are read, whichever thread reads them. One whose figure depends on where the
// scan began (a loop below it) holds back itself and all after it, for the end.
class InOrder {
public:
    InOrder(const FolderRecord& record, const FileSystemInfo::SubFolderRead& read)
        : record_(record), read_(read) {}

    // Any scanning thread, once the sub-folder's tree is read.
    void read(quint32 node) {
        // Added up by the thread that finished it, outside the lock: the threads that
        // finish others meanwhile go on.
        const Total total = totalOf(node);
        const std::lock_guard lock(mutex_);
        start();
        finished_[node - first_] = true;
        totals_[node - first_] = total;
        while (!heldBack_ && next_ < finished_.size() && finished_[next_]) {
            const FolderRecord::Node& folder = record_.node(first_ + next_);
            if (isListed(folder)) {
                const Total& total = totals_[next_];
                if (total.holdsLoop) {
                    heldBack_ = true;
                    return;
                }
                read_(record_.name(folder),
                      total.known ? std::optional<ByteTotal>(total.bytes) : std::nullopt);
            }
            ++next_;
        }
    }
    // Once the scan is over: the sub-folders not handed on yet.
    std::pair<quint32, quint32> rest() {
        start();
        return {first_ + next_, first_ + quint32(finished_.size())};
    }
    bool isListed(const FolderRecord::Node& folder) const {
        return folder.isFolder && !isHiddenName(record_.nameOf(folder));
    }

private:
    struct Total {
        ByteTotal bytes = 0;
        bool known = true;
        bool holdsLoop = false;
    };

    void start() {
        if (started_)
            return;
        started_ = true;
        first_ = record_.node(0).firstChild;
        finished_.assign(record_.node(0).childCount, false);
        totals_.resize(finished_.size());
    }
    // The figure of a tree read whole, before the record is totalled up.
    Total totalOf(quint32 index) const {
        Total total;
        std::vector<quint32> open{index};
        while (!open.empty()) {
            const FolderRecord::Node& folder = record_.node(open.back());
            open.pop_back();
            total.bytes += folder.bytes();
            total.known = total.known && folder.sizeKnown;
            for (quint32 c = folder.firstChild; c < folder.firstChild + folder.childCount; ++c) {
                const FolderRecord::Node& child = record_.node(c);
                if (child.isFolder)
                    open.push_back(c);
                else if (child.loopsBack)
                    total.holdsLoop = true;
            }
        }
        return total;
    }

    const FolderRecord& record_;
    const FileSystemInfo::SubFolderRead& read_;
    std::mutex mutex_; // guards what follows
    bool started_ = false;
    quint32 first_ = 0;
    std::vector<bool> finished_;
    std::vector<Total> totals_;
    std::size_t next_ = 0;
    bool heldBack_ = false;
};

} // namespace

bool PosixFileSystem::listSubFolders(const TreeRead& read, const SubFolderRead& subFolder) {
    const RequestsHeldBack held;
    const NativePath top = withoutTrailingSeparators(read.folder);
    DirStack base;
    if (!base.openBase(top))
        return couldNotOpen(top, read);
    if (pseudoMounts_.isPseudo(base.top().dev, base.topFd()))
        return true; // nothing of it is on a drive
    // Hidden folders at the top are neither listed nor read.
    FolderTree tree;
    InOrder inOrder(tree.record(), subFolder);
    // Another order, or files counted once, is known only once the whole tree is read.
    const bool asRead =
        read.options.order == ScanOptions::Order::FileSystem && !read.options.linksOnce;
    if (!scan(tree, top, base.topFd(), read, false,
              asRead
                  ? std::function<void(quint32)>([&inOrder](quint32 node) { inOrder.read(node); })
                  : nullptr))
        return false;
    const auto [from, end] = inOrder.rest();
    for (quint32 index = from; index < end; ++index) {
        const FolderRecord::Node& node = tree.record().node(index);
        if (!inOrder.isListed(node))
            continue;
        std::optional<ByteTotal> size = FolderTree::sizeOf(node);
        if (node.holdsLoop) {
            const QByteArrayView name = tree.record().name(node);
            const std::optional<std::optional<ByteTotal>> counted = countedFromItself(
                (top == "/" ? NativePath() : top) + '/' + NativePath(name.data(), name.size()),
                read);
            if (!counted)
                return false;
            size = *counted;
        }
        subFolder(tree.record().name(node), size);
    }
    return true;
}

void PosixFileSystem::setMemoryLimit(std::size_t bytes) {
    memoryLimit_ = bytes;
}

quint64 PosixFileSystem::usedSpace(const NativePath& root) {
    struct statvfs fs;
    if (::statvfs(root.constData(), &fs) != 0)
        return 0;
    return static_cast<quint64>(fs.f_blocks - fs.f_bfree) * fs.f_frsize;
}
