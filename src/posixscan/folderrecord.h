#pragma once

#include "listing/filesysteminfo.h"

#include <QByteArray>
#include <QByteArrayView>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// What one pass over a tree found, kept small enough for millions of folders: a node per
// folder, numbered, the sub-folders of each folder numbered one after the other, and all
// names in one arena. Nothing is ever moved once written, so the threads of a scan add
// to it side by side, each filling in the nodes it was given.
class FolderRecord {
public:
    struct Node {
        // The bytes of the files directly inside; after totalUp(), of the whole sub-tree.
        // A 96-bit figure: sizes past 2^64 stay exact.
        quint64 bytesLow = 0;
        quint32 bytesHigh = 0;
        quint32 nameAt = 0; // where its name starts in the arena, NUL-terminated there
        // Its sub-folders are nodes firstChild .. firstChild+childCount-1. For a folder
        // that loops back, which has none: the node of the folder it is again.
        quint32 firstChild = 0;
        quint32 childCount = 0;
        quint16 nameLength = 0;
        bool sizeKnown : 1 = true; // false when some folder of the sub-tree could not be read
        bool isFolder : 1 = true;  // false for an entry that turned out not to be a listable folder
        bool loopsBack : 1 = false; // it is one of its own parents again (a bind mount)
        // A folder below loops back above this one. Its figure then depends on where the
        // scan began; when the scan could not work it out from the record
        // (countLoopsFromEachFolder), it is asked afresh from the folder itself.
        bool holdsLoop : 1 = false;

        ByteTotal bytes() const { return ByteTotal(bytesHigh) << 64 | bytesLow; }
        void setBytes(ByteTotal bytes) {
            bytesLow = quint64(bytes);
            bytesHigh = quint32(bytes >> 64);
        }
    };

    // Hands out room for names a slab at a time, so that a scanning thread seldom has to
    // wait for the other one.
    class NameWriter {
    public:
        explicit NameWriter(FolderRecord& record) : record_(record) {}
        // Where the name now stands in the arena.
        quint32 add(const char* name, quint16 length);

    private:
        FolderRecord& record_;
        quint32 at_ = 0;
        quint32 end_ = 0;
    };

    FolderRecord();
    ~FolderRecord();
    FolderRecord(const FolderRecord&) = delete;
    FolderRecord& operator=(const FolderRecord&) = delete;

    void clear();
    // Room for `count` nodes numbered one after the other; any thread. The first number.
    quint32 addNodes(quint32 count);
    std::size_t nodeCount() const { return nodeCount_.load(std::memory_order_relaxed); }

    // A thread may look at the nodes it was given, and at those handed to it.
    Node& node(quint32 index) {
        return nodeChunks_[index >> kNodeChunkBits].load(
            std::memory_order_relaxed)[index & kNodeMask];
    }
    const Node& node(quint32 index) const {
        return nodeChunks_[index >> kNodeChunkBits].load(
            std::memory_order_relaxed)[index & kNodeMask];
    }
    const char* nameOf(const Node& node) const {
        return nameChunks_[node.nameAt >> kNameChunkBits].get() + (node.nameAt & kNameMask);
    }
    QByteArrayView name(const Node& node) const { return {nameOf(node), node.nameLength}; }

    // Adds up each folder's sub-tree into its figure, once every folder is read.
    void totalUp();

    // Memory taken by the nodes and the names in use; the names alone, NULs left out.
    std::size_t bytesUsed() const;
    std::size_t nameBytes() const;
    // Growing past this many bytes in use fails as an allocation would; for trying
    // that way out.
    void setMemoryLimit(std::size_t bytes) { memoryLimit_ = bytes; }

private:
    static constexpr unsigned kNodeChunkBits = 18;
    static constexpr quint32 kNodeMask = (1u << kNodeChunkBits) - 1;
    static constexpr unsigned kNameChunkBits = 20;
    static constexpr quint32 kNameMask = (1u << kNameChunkBits) - 1;
    static constexpr quint32 kNameSlab = 16 * 1024;

    void checkRoom(std::size_t nodes, std::size_t nameEnd) const;
    void freeNodeChunks();
    // A slab of name room [at, end); called with the lock held.
    std::pair<quint32, quint32> takeNameSlab(quint32 atLeast);

    // Nodes are numbered without a lock; whoever first needs a chunk makes it.
    std::unique_ptr<std::atomic<Node*>[]> nodeChunks_;
    std::atomic<std::size_t> nodeCount_ = 0;
    std::mutex mutex_; // guards nameChunks_ and nameEnd_, as threads take slabs of names
    std::vector<std::unique_ptr<char[]>> nameChunks_;
    std::size_t nameEnd_ = 0; // arena offset where the next slab begins
    std::size_t memoryLimit_ = std::size_t(-1);
};
