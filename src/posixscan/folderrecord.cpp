#include "posixscan/folderrecord.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <tuple>

static_assert(sizeof(FolderRecord::Node) <= 32, "a folder's node is meant to stay small");

namespace {

constexpr std::size_t kMaxIndex = std::size_t(1) << 32;

} // namespace

FolderRecord::FolderRecord() : nodeChunks_(new std::atomic<Node*>[kMaxIndex >> kNodeChunkBits]()) {
    // Never moved once made: the threads of a scan read them while more are added.
    nameChunks_.reserve(kMaxIndex >> kNameChunkBits);
}

FolderRecord::~FolderRecord() {
    freeNodeChunks();
}

void FolderRecord::freeNodeChunks() {
    // Chunks are only made for numbers handed out; looking at all the others is the
    // better part of a millisecond.
    const std::size_t used = std::min(nodeCount_.load(), kMaxIndex);
    const std::size_t chunks = (used + kNodeMask) >> kNodeChunkBits;
    for (std::size_t i = 0; i < chunks; ++i)
        ::operator delete(nodeChunks_[i].exchange(nullptr));
}

void FolderRecord::clear() {
    freeNodeChunks();
    nameChunks_.clear();
    nodeCount_ = 0;
    nameEnd_ = 0;
}

void FolderRecord::checkRoom(std::size_t nodes, std::size_t nameEnd) const {
    if (nodes * sizeof(Node) + nameEnd > memoryLimit_)
        throw std::bad_alloc();
}

quint32 FolderRecord::addNodes(quint32 count) {
    if (count == 0)
        return 0;
    const std::size_t first = nodeCount_.fetch_add(count);
    if (first + count >= kMaxIndex)
        throw std::bad_alloc(); // more folders than a record can number
    checkRoom(first + count, 0);
    for (std::size_t chunk = first >> kNodeChunkBits;
         chunk <= (first + count - 1) >> kNodeChunkBits; ++chunk) {
        if (nodeChunks_[chunk].load())
            continue;
        // Pages are only taken as nodes are written.
        Node* made = static_cast<Node*>(::operator new(sizeof(Node) << kNodeChunkBits));
        Node* none = nullptr;
        if (!nodeChunks_[chunk].compare_exchange_strong(none, made))
            ::operator delete(made);
    }
    return quint32(first);
}

std::pair<quint32, quint32> FolderRecord::takeNameSlab(quint32 atLeast) {
    constexpr std::size_t kChunk = std::size_t(1) << kNameChunkBits;
    const std::size_t allocatedEnd = nameChunks_.size() << kNameChunkBits;
    std::size_t at = nameEnd_;
    // A name never straddles two chunks.
    if (at < allocatedEnd && (at & kNameMask) + atLeast > kChunk)
        at = allocatedEnd;
    if (at == allocatedEnd) {
        if (at + kChunk >= kMaxIndex)
            throw std::bad_alloc(); // more name bytes than a record can number
        nameChunks_.emplace_back(new char[kChunk]);
    }
    const std::size_t end = std::min(at + kNameSlab, (at | kNameMask) + 1);
    checkRoom(nodeCount(), end);
    nameEnd_ = end;
    return {quint32(at), quint32(end)};
}

quint32 FolderRecord::NameWriter::add(const char* name, quint16 length) {
    const quint32 need = quint32(length) + 1;
    if (end_ - at_ < need) {
        const std::lock_guard lock(record_.mutex_);
        std::tie(at_, end_) = record_.takeNameSlab(need);
    }
    const quint32 where = at_;
    std::memcpy(record_.nameChunks_[where >> kNameChunkBits].get() + (where & kNameMask), name,
                need);
    at_ += need;
    return where;
}

void FolderRecord::totalUp() {
    if (nodeCount() == 0)
        return;
    // Depth first from the top; a folder is added to its parent once all below it are in.
    struct Open {
        quint32 node;
        quint32 next;
    };
    std::vector<Open> open{{0, 0}};
    while (!open.empty()) {
        Open& top = open.back();
        const Node& folder = node(top.node);
        if (top.next < folder.childCount) {
            const quint32 child = folder.firstChild + top.next++;
            if (node(child).isFolder)
                open.push_back({child, 0});
            else if (node(child).loopsBack)
                node(top.node).holdsLoop = true;
            continue;
        }
        const Node done = folder;
        open.pop_back();
        if (open.empty())
            break;
        Node& parent = node(open.back().node);
        parent.setBytes(parent.bytes() + done.bytes());
        parent.sizeKnown = parent.sizeKnown && done.sizeKnown;
        parent.holdsLoop = parent.holdsLoop || done.holdsLoop;
    }
}

std::size_t FolderRecord::bytesUsed() const {
    return nodeCount() * sizeof(Node) + nameEnd_;
}

std::size_t FolderRecord::nameBytes() const {
    std::size_t bytes = 0;
    for (quint32 i = 0; i < nodeCount(); ++i)
        bytes += node(i).nameLength;
    return bytes;
}
