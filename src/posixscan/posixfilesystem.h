#pragma once

#include "listing/filesysteminfo.h"
#include "posixscan/posixdirstack.h"
#include "posixscan/posixfoldertree.h"
#include "posixscan/posixmounts.h"

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
    std::vector<NativePath> subFolders(const NativePath& folder,
                                       const KeepGoing& keepGoing) override;
    std::vector<NativePath> visibleSubFolders(const NativePath& folder) override;
    std::optional<ByteTotal> folderSize(const NativePath& folder,
                                        const KeepGoing& keepGoing) override;
    std::unique_ptr<RecordedFolders>
    recordedFolders(const NativePath& folder, const KeepGoing& keepGoing, Scope scope) override;
    quint64 usedSpace(const NativePath& root) override;
    ScanProgress scanProgress() const override;
    void setListFile(int handle) override;
    void setScanOptions(const ScanOptions& options) override { options_ = options; }
    int exhaustedResource() const override { return exhausted_; }

    // How often a long size query calls its keepGoing at the most.
    void setKeepGoingInterval(std::chrono::milliseconds interval);
    // Makes the records of scans fail as if memory ran out beyond this many bytes.
    void setMemoryLimit(std::size_t bytes);

private:
    class RecordedWalk;

    bool moveTo(const NativePath& folder);
    bool moveCursor(const NativePath& folder);
    bool onPseudoMount() const;
    bool scanTree(const NativePath& folder, const KeepGoing& keepGoing, bool hiddenAtTop = true);
    // Scans the tree of the cursor's folder, `top`, into `tree`.
    bool scan(FolderTree& tree, const NativePath& top, const KeepGoing& keepGoing,
              bool hiddenAtTop);
    void noteExhaustion(int error);
    void letGoIfExhausted();
    // The folder in the record of the last scan, or nullptr.
    const FolderTree::Node* scanned(const NativePath& folder);
    // The same, scanning the folder's tree first when no record holds it.
    const FolderTree::Node* recorded(const NativePath& folder, const KeepGoing& keepGoing);
    // The folder's size from a scan of its own, keeping the record.
    std::optional<ByteTotal> countedOnItsOwn(const NativePath& folder, const KeepGoing& keepGoing);

    PseudoMounts pseudoMounts_;
    // The walk asks about a folder, then its first sub-folder, and so on: the cursor
    // keeps the chain of folders from the last base down, so each question costs one
    // step from where the last one left off.
    DirStack cursor_;
    NativePath cursorBase_;
    // The last tree whose size was asked for, and where it stands: questions about the
    // folders inside it are answered from the record for the rest of the run.
    FolderTree tree_;
    NativePath treeTop_;
    bool treeLacksHidden_ = false; // the top's hidden folders were passed over
    NativePath lastAsked_;
    const FolderTree::Node* lastFound_ = nullptr;
    // The folder whose sub-folders the restricted listing gave last: their sizes are
    // counted in one scan of it.
    NativePath listedFolder_;
    std::chrono::milliseconds keepGoingInterval_{50};
    std::size_t memoryLimit_ = std::size_t(-1);
    const FolderTree* scanning_ = nullptr;
    NativePath scanningTop_;
    int exhausted_ = 0;
    std::optional<FolderTree::FolderId> listFile_;
    ScanOptions options_;
};
