#include "listing/comparison.h"

#include <QHash>

#include <algorithm>
#include <new>

namespace {

constexpr Comparison::Node kEmpty = ~Comparison::Node(0);

std::size_t slotOf(Comparison::Node parent, QByteArrayView name) {
    return qHash(name, std::size_t(parent) * 0x9E3779B97F4A7C15ull + 1);
}

} // namespace

Comparison::Comparison() {
    folders_.push_back({kEmpty, 0, 0, 0, kUnknown64});
    slots_.assign(1024, kEmpty);
}

QByteArrayView Comparison::nameOf(const Folder& folder) const {
    return QByteArrayView(names_.constData() + folder.nameAt, folder.nameLength);
}

std::optional<Comparison::Node> Comparison::find(Node parent, QByteArrayView name) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = slotOf(parent, name) & mask; slots_[at] != kEmpty; at = (at + 1) & mask) {
        const Folder& folder = folders_[slots_[at]];
        if (folder.parent == parent && nameOf(folder) == name)
            return slots_[at];
    }
    return std::nullopt;
}

Comparison::Node Comparison::add(Node parent, QByteArrayView name) {
    const Node node = Node(folders_.size());
    // Past what the arena can address: as much as memory running out.
    if (quint64(names_.size()) + quint64(name.size()) > ~quint32(0) || node == kEmpty)
        throw std::bad_alloc();
    folders_.push_back({parent, quint32(names_.size()), quint16(name.size()), 0, kUnknown64});
    names_.append(name.data(), name.size());
    return node;
}

void Comparison::sameNameAs(Node first, Node node) {
    if (first == node) {
        if (folders_.size() * 2 > slots_.size()) {
            grow();
            return;
        }
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = slotOf(folders_[node].parent, nameOf(folders_[node])) & mask;
        while (slots_[at] != kEmpty)
            at = (at + 1) & mask;
        slots_[at] = node;
        return;
    }
    SameName& same = sameNames_[first];
    if (same.nodes.empty())
        same.nodes.push_back(first);
    same.nodes.push_back(node);
}

void Comparison::grow() {
    slots_.assign(slots_.size() * 2, kEmpty);
    const std::size_t mask = slots_.size() - 1;
    for (Node node = 1; node < folders_.size(); ++node) {
        const Folder& folder = folders_[node];
        if (find(folder.parent, nameOf(folder)))
            continue; // a second of the name: reached through the first
        std::size_t at = slotOf(folder.parent, nameOf(folder)) & mask;
        while (slots_[at] != kEmpty)
            at = (at + 1) & mask;
        slots_[at] = node;
    }
}

ByteTotal Comparison::earlierOf(Node node) const {
    const quint64 earlier = folders_[node].earlier; // by value: the field is not aligned
    if (earlier == kUnknown64)
        return kUnknown;
    return earlier == kBig64 ? bigEarlier_.at(node) : earlier;
}

void Comparison::noteClash(Clashes& clashes, Node node) {
    if (!clashes.first)
        clashes.first = node;
    ++clashes.count;
}

template <typename Make>
QString Comparison::reach(QByteArrayView below, Walk& walk, Node& node, Make make) {
    if (below.isEmpty()) {
        if (walk.topSeen)
            return QStringLiteral("the listed folder a second time");
        walk.topSeen = true;
        walk.levels.assign(1, 0);
        walk.previous.clear();
        node = 0;
        return {};
    }
    const qsizetype slash = below.lastIndexOf('/');
    const QByteArrayView parentPath = slash < 0 ? QByteArrayView() : below.first(slash);
    // The folder it is in is the line before, or one on the way to it.
    const QByteArrayView previous = walk.previous;
    if (!parentPath.isEmpty() &&
        !(previous.startsWith(parentPath) &&
          (previous.size() == parentPath.size() || previous[parentPath.size()] == '/')))
        return QStringLiteral("a folder whose parent folder has no line before it");
    const QByteArrayView name = below.sliced(slash + 1);
    // No file system has names near this long.
    if (name.size() > 0xFFFF)
        return QStringLiteral("a name of more than 64 KiB");
    const std::size_t depth = parentPath.isEmpty() ? 0 : std::size_t(parentPath.count('/')) + 1;
    node = make(walk.levels[depth], name);
    walk.levels.resize(depth + 1);
    walk.levels.push_back(node);
    walk.previous.resize(0);
    walk.previous.append(below.data(), below.size());
    return {};
}

QString Comparison::addEarlier(QByteArrayView below, std::optional<ByteTotal> size) {
    Node node = 0;
    const QString why = reach(below, earlierWalk_, node, [this](Node parent, QByteArrayView name) {
        const std::optional<Node> first = find(parent, name);
        const Node added = add(parent, name);
        if (first)
            noteClash(earlierClashes_, added);
        sameNameAs(first.value_or(added), added);
        return added;
    });
    if (!why.isEmpty())
        return why;
    Folder& folder = folders_[node];
    folder.flags |= kEarlierLine;
    if (!size) {
        folder.earlier = kUnknown64;
    } else if (*size >= kBig64) {
        folder.earlier = kBig64;
        bigEarlier_[node] = *size;
    } else {
        folder.earlier = quint64(*size);
    }
    return {};
}

QString Comparison::addLater(QByteArrayView below, std::optional<ByteTotal> size) {
    Node node = 0;
    const QString why = reach(below, laterWalk_, node, [this](Node parent, QByteArrayView name) {
        const std::optional<Node> first = find(parent, name);
        if (!first) {
            const Node added = add(parent, name);
            sameNameAs(added, added);
            return added;
        }
        // The later list gave this name here before: a second folder of it.
        if (folders_[*first].flags & kMatched)
            noteClash(laterClashes_, *first);
        const auto same = sameNames_.find(*first);
        if (same == sameNames_.end()) {
            if (!(folders_[*first].flags & kMatched))
                return *first;
        } else {
            SameName& all = same->second;
            while (all.firstUnmatched < all.nodes.size() &&
                   (folders_[all.nodes[all.firstUnmatched]].flags & kMatched))
                ++all.firstUnmatched;
            if (all.firstUnmatched < all.nodes.size())
                return all.nodes[all.firstUnmatched];
        }
        const Node added = add(parent, name);
        sameNameAs(*first, added);
        return added;
    });
    if (!why.isEmpty())
        return why;
    folders_[node].flags |= kMatched;
    const bool inEarlier = folders_[node].flags & kEarlierLine;
    const Line line{node, inEarlier, true, inEarlier ? earlierOf(node) : kUnknown,
                    size.value_or(kUnknown)};
    if (line.kind() == Kind::Unknown) {
        lines_.push_back(line);
        return {};
    }
    if (inEarlier)
        earlierTotal_ += line.earlier;
    laterTotal_ += line.now;
    if (inEarlier && line.earlier == line.now)
        ++unchanged_;
    else
        lines_.push_back(line);
    return {};
}

void Comparison::finish() {
    for (Node node = 0; node < folders_.size(); ++node) {
        const Folder& folder = folders_[node];
        if ((folder.flags & kEarlierLine) && !(folder.flags & kMatched)) {
            const ByteTotal earlier = earlierOf(node);
            lines_.push_back({node, true, false, earlier, kUnknown});
            if (earlier != kUnknown)
                earlierTotal_ += earlier;
        }
    }
    std::sort(lines_.begin(), lines_.end(), [](const Line& a, const Line& b) {
        const bool aUnknown = a.kind() == Kind::Unknown;
        const bool bUnknown = b.kind() == Kind::Unknown;
        if (aUnknown != bUnknown)
            return bUnknown;
        if (!aUnknown && a.change() != b.change())
            return a.change() > b.change();
        return a.node < b.node;
    });
}

QByteArray Comparison::below(Node node) const {
    std::vector<QByteArrayView> names;
    for (; node != 0 && node != kEmpty; node = folders_[node].parent)
        names.push_back(nameOf(folders_[node]));
    QByteArray path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.isEmpty())
            path += '/';
        path += *name;
    }
    return path;
}
