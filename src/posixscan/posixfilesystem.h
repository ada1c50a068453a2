#pragma once

#include "listing/filesysteminfo.h"
#include "posixscan/posixfoldertree.h"
#include "posixscan/posixmounts.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>

// Folders on a POSIX system: "/" is the one root, a hidden folder is one whose name
// begins with ".", names are bytes (shown as UTF-8), and only real directories count as
// folders: symbolic links are neither listed, entered nor followed for sizes.
class PosixFileSystem final : public FileSystemInfo {
public:
    PosixFileSystem();
    explicit PosixFileSystem(PseudoMounts pseudoMounts);

    char separator() const override { return '/'; }
    NativePath encodePath(const QString& path) const override;
    QString decodePath(const NativePath& path) const override;
    void appendDecoded(QString& text, QByteArrayView name) const override;
    QString pathBelowRoot(const NativePath& path) const override;
    std::unique_ptr<RecordedFolders> recordedFolders(const TreeRead& read) override;
    bool listSubFolders(const TreeRead& read, const SubFolderRead& subFolder) override;
    quint64 usedSpace(const NativePath& root) override;
    ScanProgress scanProgress() const override;
    int exhaustedResource() const override { return exhausted_.load(); }

    // Makes the records of scans fail as if memory ran out beyond this many bytes.
    void setMemoryLimit(std::size_t bytes);

private:
    class RecordedWalk;

    void noteExhaustion(int error);
    // The regular file open at `handle`, to count as empty; nothing for -1 or another kind.
    static std::optional<FolderTree::FolderId> fileOf(int handle);
    // After the top could not be opened (errno tells why): reports it as unreadable, or
    // false when the system ran out of descriptors or memory and the run cannot go on.
    bool couldNotOpen(const NativePath& top, const TreeRead& read);
    // Scans the tree of the folder open at `fd`, `top`, into `tree`.
    bool scan(FolderTree& tree, const NativePath& top, int fd, const TreeRead& read,
              bool hiddenAtTop, const std::function<void(quint32)>& subFolderRead = nullptr);
    // The folder's own record, from the folder down; nothing when the scan was stopped or
    // ran out of resources, and a folder without a size when it cannot be opened.
    std::unique_ptr<FolderTree> recordFrom(const NativePath& top, const TreeRead& read,
                                           bool hiddenAtTop);
    // The size of a folder whose figure in a record depends on where the scan began (a
    // loop below it), counted from itself; nothing when the scan could not finish.
    std::optional<std::optional<ByteTotal>> countedFromItself(const NativePath& folder,
                                                              const TreeRead& read);

    const PseudoMounts pseudoMounts_;
    std::size_t memoryLimit_ = std::size_t(-1);
    std::atomic<int> exhausted_ = 0;
    mutable std::mutex mutex_; // guards what follows: the asking thread looks on
    const FolderTree* scanning_ = nullptr;
    NativePath scanningTop_;
};
