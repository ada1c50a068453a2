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

std::vector<NativePath> FakeFileSystem::subFolders(const NativePath& folder, const KeepGoing&) {
    std::vector<NativePath> names;
    if (const Node* node = find(folder)) {
        for (const QString& child : node->children)
            names.push_back(nodes_.at(child).name.toUtf8());
    }
    return names;
}

std::vector<NativePath> FakeFileSystem::visibleSubFolders(const NativePath& folder) {
    std::vector<NativePath> names;
    if (const Node* node = find(folder)) {
        for (const QString& child : node->children) {
            if (!nodes_.at(child).options.hidden)
                names.push_back(nodes_.at(child).name.toUtf8());
        }
    }
    return names;
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

std::optional<ByteTotal> FakeFileSystem::folderSize(const NativePath& folder,
                                                    const KeepGoing& keepGoing) {
    sizeQueries.append(QString::fromUtf8(folder));
    if (onSizeQuery)
        onSizeQuery(QString::fromUtf8(folder), keepGoing);
    const Node* node = find(folder);
    return node ? sizeBelow(*node) : std::nullopt;
}

quint64 FakeFileSystem::usedSpace(const NativePath&) {
    return usedSpace_;
}
