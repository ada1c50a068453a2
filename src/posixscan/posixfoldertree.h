#pragma once

#include "listing/filesysteminfo.h"

#include <QByteArray>
#include <QList>

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class PseudoMounts;

// What one pass over a tree found: every folder below the top, with its sub-folders in
// the file system's order and the bytes of all regular files below it (every hard link
// counted). A listing of the whole tree asks about each folder in turn; answering from
// this record costs one pass over the disk instead of one per level.
class FolderTree {
public:
    struct Node {
        quint32 nameOffset = 0;
        quint32 nameLength = 0;
        quint32 firstChild = 0; // the sub-folders are nodes firstChild .. firstChild+childCount-1
        quint32 childCount = 0;
        // The bytes below as a 96-bit figure: its high part sits where padding would, so
        // sizes past 2^64 cost no memory.
        quint64 bytesLow = 0;
        quint32 bytesHigh = 0;
        bool sizeKnown = true; // false when some folder of the sub-tree could not be read
        bool isFolder = true;  // false for an entry that turned out not to be a listable folder
        // A folder below is one of this folder's parents again (a bind mount). Its figure
        // then depends on where the scan began, so it is asked afresh from here.
        bool holdsLoop = false;

        ByteTotal bytes() const { return ByteTotal(bytesHigh) << 64 | bytesLow; }
        void setBytes(ByteTotal bytes) {
            bytesLow = quint64(bytes);
            bytesHigh = quint32(bytes >> 64);
        }
    };

    struct FolderId {
        dev_t dev;
        ino_t ino;
    };

    // What opening a sub-folder by name found.
    enum class Reached { Folder, NotAFolder, Loop, Unreadable };

    // Scans the folder open at `fd`, on two threads when the tree is large enough to
    // share. `keepGoing` is only called on the calling thread. False when it said to
    // stop; the record is then empty. Folders moved away during the scan are recorded
    // without a size.
    bool scan(int fd, const PseudoMounts& pseudoMounts, const KeepGoing& keepGoing);
    // How often a long scan calls keepGoing at the most.
    void setKeepGoingInterval(std::chrono::milliseconds interval) { keepGoingInterval_ = interval; }

    void clear();
    // A record of one folder with nothing in it.
    void recordEmptyFolder();

    // The folder reached from the top by these names, or nullptr. Lookups in the order of
    // a depth-first walk cost a step each, however many sub-folders a folder holds.
    const Node* find(const QList<QByteArray>& components);

    std::vector<NativePath> subFolderNames(const Node& node) const;
    static std::optional<ByteTotal> sizeOf(const Node& node) {
        return node.sizeKnown ? std::optional<ByteTotal>(node.bytes()) : std::nullopt;
    }

private:
    struct Task;
    // Asked before each folder is entered, and now and then in a large one; false stops
    // the scan.
    using GoOn = std::function<bool()>;
    // Notes the folder's files and sub-folders in node `index`; its size is unknown when
    // the folder could not be read whole.
    void readFolder(int fd, quint32 index, bool fromStart, const GoOn& goOn);
    // The whole tree below `fd` on this thread; the scan takes the descriptor over.
    // `outerPath` holds the folders above it, so that a loop back to one of them is seen.
    bool scanHere(int fd, FolderId id, const PseudoMounts& pseudoMounts, const GoOn& goOn,
                  const std::vector<FolderId>& outerPath);
    std::vector<Task> splitTop(int fd, const PseudoMounts& pseudoMounts, const GoOn& goOn,
                               std::vector<quint32>& topOrder, std::vector<quint32>& parents,
                               std::vector<int>& openFolders);
    void graft(quint32 index, const FolderTree& below);
    // Marks a sub-folder that could not be entered, as the ways of opening it told.
    void note(quint32 index, quint32 parent, Reached reached);
    // Shares the record's bytes, NUL-terminated in it.
    QByteArray nameOf(const Node& node) const {
        return QByteArray::fromRawData(names_.constData() + node.nameOffset, node.nameLength);
    }

    std::vector<Node> nodes_;
    QByteArray names_;
    std::vector<quint32> lastFound_; // the nodes on the path of the last lookup
    std::chrono::milliseconds keepGoingInterval_{100};
};
