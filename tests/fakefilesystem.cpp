#include "fakefilesystem.h"

FakeFileSystem::FakeFileSystem() {
    nodes_[QStringLiteral("c:")] = Node{QStringLiteral("c:"), {}, {}};
}

QString FakeFileSystem::keyOf(const QString& path) {
    QString key = path.toLower();
    while (key.endsWith(u'\\'))
        key.chop(1);
    return key;
}

void FakeFileSystem::addFolder(const QString& path, Options options) {
    const QString key = keyOf(path);
    const QString parent = key.left(key.lastIndexOf(u'\\'));
    nodes_.at(parent).children.push_back(key);
    nodes_[key] = Node{path.mid(path.lastIndexOf(u'\\') + 1), options, {}};
}

const FakeFileSystem::Node* FakeFileSystem::find(const NativePath& path) const {
    const auto it = nodes_.find(keyOf(QString::fromUtf8(path)));
    return it == nodes_.end() ? nullptr : &it->second;
}

QString FakeFileSystem::pathBelowRoot(const NativePath& path) const {
    const QString text = decodePath(path);
    const bool drivePath = text.size() >= 3 && text[1] == u':' && text[2] == u'\\';
    return drivePath ? text.mid(3) : text;
}

std::optional<quint64> FakeFileSystem::sizeBelow(const Node& node) const {
    if (node.options.unreadable)
        return std::nullopt;
    quint64 total = node.options.fileBytes;
    for (const QString& child : node.children) {
        const std::optional<quint64> size = sizeBelow(nodes_.at(child));
        if (!size)
            return std::nullopt;
        total += *size;
    }
    return total;
}

// The folders of a record one after the other, each with its depth.
class FakeFileSystem::Record final : public RecordedFolders {
public:
    struct Folder {
        int depth;
        QByteArray name;
        std::optional<ByteTotal> size;
    };
    std::vector<Folder> folders;

    bool next() override {
        std::size_t next = started_ ? at_ + 1 : 0;
        while (skipBelow_ && next < folders.size() && folders[next].depth > folders[at_].depth)
            ++next;
        started_ = true;
        skipBelow_ = false;
        at_ = next;
        return at_ < folders.size();
    }
    void skipBelow() override { skipBelow_ = true; }
    int depth() const override { return folders[at_].depth; }
    QByteArrayView name() const override { return folders[at_].name; }
    std::optional<ByteTotal> size() const override { return folders[at_].size; }

private:
    std::size_t at_ = 0;
    bool started_ = false;
    bool skipBelow_ = false;
};

std::unique_ptr<RecordedFolders> FakeFileSystem::recordedFolders(const TreeRead& read) {
    ++scans;
    if (onScan)
        onScan(0);
    auto record = std::make_unique<Record>();
    const Node* top = find(read.folder);
    if (!top) {
        record->folders.push_back({0, {}, std::nullopt});
        return record;
    }
    const auto add = [&](auto& self, const Node& node, int depth) -> void {
        record->folders.push_back(
            {depth, depth ? node.name.toUtf8() : QByteArray(), sizeBelow(node)});
        for (const QString& child : node.children)
            self(self, nodes_.at(child), depth + 1);
    };
    add(add, *top, 0);
    return record;
}

bool FakeFileSystem::listSubFolders(const TreeRead& read, const SubFolderRead& subFolder) {
    ++scans;
    if (onScan)
        onScan(0);
    int listed = 0;
    const Node* top = find(read.folder);
    for (const QString& child : top ? top->children : std::vector<QString>()) {
        const Node& node = nodes_.at(child);
        if (node.options.hidden)
            continue;
        subFolder(node.name.toUtf8(), sizeBelow(node));
        if (onScan)
            onScan(++listed);
        if (read.stop.stop_requested())
            return false;
    }
    return true;
}

quint64 FakeFileSystem::usedSpace(const NativePath&) {
    return usedSpace_;
}
