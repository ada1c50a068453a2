#include "posixscan/posixfilesystem.h"

#include "posixscan/descriptorlimit.h"
#include "posixscan/filesystem.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#ifndef AT_NO_AUTOMOUNT
#define AT_NO_AUTOMOUNT 0
#endif

std::unique_ptr<FileSystemInfo> createFileSystemInfo() {
    return std::make_unique<PosixFileSystem>();
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
            if (!kept.isEmpty())
                kept.removeLast();
        } else if (!part.isEmpty() && part != ".")
            kept.append(part);
    }
    return '/' + kept.join('/');
}

bool isFolder(const NativePath& path) {
    const int fd = openFolderPath(path, O_PATH);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

PosixFileSystem::PosixFileSystem() : PosixFileSystem(PseudoMounts()) {}

PosixFileSystem::PosixFileSystem(PseudoMounts pseudoMounts)
    : pseudoMounts_(std::move(pseudoMounts)) {
    // A share of the descriptors left, beside the two chains of a scan.
    cursor_.setMaxOpen(std::clamp<std::size_t>(descriptorsLeft() / 4, 2, 48));
}

namespace {

NativePath withoutTrailingSeparators(const NativePath& folder) {
    NativePath path = folder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// The names that lead from `top` down to `path`, or nothing when `path` is not below it.
std::optional<QList<NativePath>> componentsBelow(const NativePath& top, const NativePath& path) {
    if (top.isEmpty())
        return std::nullopt;
    if (path == top)
        return QList<NativePath>();
    if (top != "/" && !(path.startsWith(top) && path.at(top.size()) == '/'))
        return std::nullopt;
    QList<NativePath> components = path.mid(top == "/" ? 1 : top.size() + 1).split('/');
    components.removeAll(NativePath());
    return components;
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
    if (isExhaustion(error) && !exhausted_)
        exhausted_ = error;
}

void PosixFileSystem::letGoIfExhausted() {
    // What is held open is of no more use, and the rest of the run needs a descriptor or
    // two to finish the list and say what happened.
    if (exhausted_) {
        cursor_.clear();
        cursorBase_.clear();
    }
}

bool PosixFileSystem::moveTo(const NativePath& folder) {
    const bool moved = moveCursor(folder);
    if (!moved) {
        const int error = errno;
        noteExhaustion(error);
        letGoIfExhausted();
        if (options_.unreadable && !isExhaustion(error))
            options_.unreadable(withoutTrailingSeparators(folder), error);
    }
    return moved;
}

bool PosixFileSystem::moveCursor(const NativePath& folder) {
    const NativePath path = withoutTrailingSeparators(folder);
    const std::optional<QList<NativePath>> below =
        cursor_.empty() ? std::nullopt : componentsBelow(cursorBase_, path);
    if (!below) {
        cursorBase_ = path;
        return cursor_.openBase(path);
    }
    const QList<NativePath>& components = *below;

    std::size_t shared = 0;
    while (shared < std::size_t(components.size()) && shared + 1 < cursor_.depth() &&
           cursor_.name(shared + 1) == components[qsizetype(shared)])
        ++shared;
    while (cursor_.depth() > shared + 1) {
        if (!cursor_.pop()) {
            cursorBase_ = path;
            return cursor_.openBase(path);
        }
    }
    for (std::size_t i = shared; i < std::size_t(components.size()); ++i) {
        if (!cursor_.push(components[qsizetype(i)]))
            return false;
    }
    return true;
}

bool PosixFileSystem::onPseudoMount() const {
    return pseudoMounts_.isPseudo(cursor_.top().dev, cursor_.topFd());
}

std::vector<NativePath> PosixFileSystem::visibleSubFolders(const NativePath& folder) {
    std::vector<NativePath> names;
    if (!moveTo(folder) || onPseudoMount())
        return names;
    const int fd = cursor_.topFd();
    const dev_t folderDev = cursor_.top().dev;
    FolderEntries entries(fd, true);
    while (entries.next()) {
        const char* name = entries.name();
        if (name[0] == '.' || (entries.type() != DT_DIR && entries.type() != DT_UNKNOWN))
            continue;
        struct stat st;
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) {
            noteExhaustion(errno);
            continue;
        }
        if (!S_ISDIR(st.st_mode))
            continue;
        if (st.st_dev != folderDev) {
            const int mountFd = ::openat(fd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (mountFd < 0)
                noteExhaustion(errno);
            const bool pseudo = pseudoMounts_.isPseudo(st.st_dev, mountFd);
            if (mountFd >= 0)
                ::close(mountFd);
            if (pseudo)
                continue;
        }
        // A folder that is one of its own parents (a bind mount) would never end.
        if (cursor_.find(st.st_dev, st.st_ino, cursor_.depth()))
            continue;
        names.emplace_back(name);
    }
    if (entries.failed())
        noteExhaustion(entries.error());
    letGoIfExhausted();
    listedFolder_ = withoutTrailingSeparators(folder);
    return names;
}

const FolderTree::Node* PosixFileSystem::scanned(const NativePath& folder) {
    // The walk asks about each folder twice in a row: its sub-folders, then its size.
    if (folder == lastAsked_ && !treeTop_.isEmpty())
        return lastFound_;
    // Copied rather than shared: the walk changes its path buffer in place next.
    lastAsked_.resize(folder.size());
    std::copy(folder.begin(), folder.end(), lastAsked_.begin());
    lastFound_ = nullptr;
    QByteArrayView path(folder);
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    if (treeTop_.isEmpty() || !path.startsWith(treeTop_))
        return nullptr;
    const QByteArrayView below = path.sliced(treeTop_.size());
    if (treeTop_ != "/" && !below.isEmpty() && !below.startsWith('/'))
        return nullptr; // only begins with the same letters
    // A record without the top's hidden folders answers only for the folders inside.
    if (!(below.isEmpty() && treeLacksHidden_))
        lastFound_ = tree_.find(below);
    return lastFound_;
}

bool PosixFileSystem::scan(FolderTree& tree, const NativePath& top, const KeepGoing& keepGoing,
                           bool hiddenAtTop) {
    tree.setKeepGoingInterval(keepGoingInterval_);
    tree.setMemoryLimit(memoryLimit_);
    tree.setListFile(listFile_);
    tree.setScanOptions(&options_, top);
    scanning_ = &tree;
    scanningTop_ = top;
    const bool done = tree.scan(cursor_.topFd(), pseudoMounts_, keepGoing, hiddenAtTop);
    scanning_ = nullptr;
    noteExhaustion(tree.exhausted());
    letGoIfExhausted();
    return done;
}

bool PosixFileSystem::scanTree(const NativePath& folder, const KeepGoing& keepGoing,
                               bool hiddenAtTop) {
    treeTop_.clear();
    lastAsked_.clear();
    treeLacksHidden_ = false;
    if (!moveTo(folder))
        return false;
    const NativePath top = withoutTrailingSeparators(folder);
    if (onPseudoMount()) {
        tree_.recordEmptyFolder(); // nothing of it is on a drive
    } else if (!scan(tree_, top, keepGoing, hiddenAtTop)) {
        return false;
    }
    treeTop_ = top;
    treeLacksHidden_ = !hiddenAtTop;
    return true;
}

void PosixFileSystem::setListFile(int handle) {
    struct stat st;
    if (handle >= 0 && ::fstat(handle, &st) == 0 && S_ISREG(st.st_mode))
        listFile_ = FolderTree::FolderId{st.st_dev, st.st_ino};
    else
        listFile_.reset();
}

ScanProgress PosixFileSystem::scanProgress() const {
    if (!scanning_)
        return {};
    const FolderTree::Progress progress = scanning_->progress();
    NativePath folder = scanningTop_;
    if (!folder.endsWith('/'))
        folder += '/';
    return {folder + progress.folder, progress.folders, progress.files};
}

const FolderTree::Node* PosixFileSystem::recorded(const NativePath& folder,
                                                  const KeepGoing& keepGoing) {
    // The walk asks for a folder's sub-folders before its size: one scan answers both,
    // and every question about the folders below.
    if (const FolderTree::Node* node = scanned(folder))
        return node;
    return scanTree(folder, keepGoing) ? scanned(folder) : nullptr;
}

std::vector<NativePath> PosixFileSystem::subFolders(const NativePath& folder,
                                                    const KeepGoing& keepGoing) {
    const FolderTree::Node* node = recorded(folder, keepGoing);
    return node ? tree_.subFolderNames(*node) : std::vector<NativePath>();
}

std::optional<ByteTotal> PosixFileSystem::folderSize(const NativePath& folder,
                                                     const KeepGoing& keepGoing) {
    const FolderTree::Node* node = scanned(folder);
    if (node && !node->holdsLoop) // nearly always
        return FolderTree::sizeOf(*node);
    const NativePath path = withoutTrailingSeparators(folder);
    const qsizetype slash = path.lastIndexOf('/');
    const bool listed =
        !listedFolder_.isEmpty() && slash >= 0 && path.left(qMax(slash, 1)) == listedFolder_;
    if (!node && listed && treeTop_ != listedFolder_) {
        // One scan of the listed folder answers for every folder in it; its hidden
        // folders are not listed, so they are not read either.
        if (!scanTree(listedFolder_, keepGoing, false))
            return std::nullopt;
        node = scanned(folder);
    }
    // The top of the record was counted from itself already. A listed folder the record
    // passed over is counted on its own, keeping the record for the others.
    if ((node && node->holdsLoop && path != treeTop_) || (!node && listed))
        return countedOnItsOwn(folder, keepGoing);
    if (!node)
        node = recorded(folder, keepGoing);
    return node ? FolderTree::sizeOf(*node) : std::nullopt;
}

std::optional<ByteTotal> PosixFileSystem::countedOnItsOwn(const NativePath& folder,
                                                          const KeepGoing& keepGoing) {
    FolderTree fromHere;
    if (!moveTo(folder))
        return std::nullopt;
    if (onPseudoMount())
        return 0; // nothing of it is on a drive
    if (!scan(fromHere, withoutTrailingSeparators(folder), keepGoing, true))
        return std::nullopt;
    return FolderTree::sizeOf(*fromHere.find(QByteArrayView()));
}

// Steps through the record of the last scan node by node, in the order of a walk.
class PosixFileSystem::RecordedWalk final : public RecordedFolders {
public:
    RecordedWalk(PosixFileSystem& fileSystem, Scope scope)
        : fileSystem_(fileSystem), record_(fileSystem.tree_.record()),
          subFoldersOnly_(scope == Scope::VisibleSubFolders) {}

    bool next() override {
        if (!started_) {
            started_ = true;
            if (record_.nodeCount() == 0)
                return false;
            if (!subFoldersOnly_)
                return true; // the top
            descendFrom(0);
        } else if (!skipBelow_ && !subFoldersOnly_) {
            descendFrom(current_);
        }
        skipBelow_ = false;
        while (!levels_.empty()) {
            Level& level = levels_.back();
            while (level.next < level.end && !listed(record_.node(level.next)))
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
    std::optional<ByteTotal> size(const NativePath& folder, const KeepGoing& keepGoing) override {
        const FolderRecord::Node& node = record_.node(current_);
        // Below a loop, the figure depends on where the scan began: the folder is counted
        // from itself. The top was.
        if (node.holdsLoop && current_ != 0)
            return fileSystem_.countedOnItsOwn(folder, keepGoing);
        return FolderTree::sizeOf(node);
    }

private:
    struct Level {
        quint32 next;
        quint32 end;
    };

    void descendFrom(quint32 index) {
        const FolderRecord::Node& folder = record_.node(index);
        if (folder.childCount > 0)
            levels_.push_back({folder.firstChild, folder.firstChild + folder.childCount});
    }

    bool listed(const FolderRecord::Node& node) const {
        return node.isFolder && !(subFoldersOnly_ && record_.nameOf(node)[0] == '.');
    }

    PosixFileSystem& fileSystem_;
    const FolderRecord& record_;
    const bool subFoldersOnly_;
    std::vector<Level> levels_;
    quint32 current_ = 0;
    bool started_ = false;
    bool skipBelow_ = false;
};

std::unique_ptr<RecordedFolders> PosixFileSystem::recordedFolders(const NativePath& folder,
                                                                  const KeepGoing& keepGoing,
                                                                  Scope scope) {
    // A record with the hidden folders at its top answers for the restricted listing too.
    const bool wholeTree = scope == Scope::Tree;
    if (treeTop_ != withoutTrailingSeparators(folder) || (wholeTree && treeLacksHidden_)) {
        if (!scanTree(folder, keepGoing, wholeTree))
            return nullptr;
    }
    return std::make_unique<RecordedWalk>(*this, scope);
}

void PosixFileSystem::setKeepGoingInterval(std::chrono::milliseconds interval) {
    keepGoingInterval_ = interval;
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
