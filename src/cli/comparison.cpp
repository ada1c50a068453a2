#include "cli/comparison.h"

#include <QHash>

#include <algorithm>
#include <cstring>

namespace {

constexpr Comparison::Node kEmpty = ~Comparison::Node(0);

std::size_t slotOf(Comparison::Node parent, QByteArrayView name) {
    return qHash(name, std::size_t(parent) * 0x9E3779B97F4A7C15ull + 1);
}

} // namespace

Comparison::Comparison() {
    folders_.push_back({kEmpty, 0, 0, 0, kUnknown});
    slots_.assign(1024, kEmpty);
}

QByteArrayView Comparison::nameOf(const Folder& folder) const {
    return QByteArrayView(names_.constData() + folder.nameAt, folder.nameLength);
}

std::optional<Comparison::Node> Comparison::child(Node parent, QByteArrayView name,
                                                  bool unmatched) const {
    // Folders of one name come along the probe in the order they were added.
    const std::size_t mask = slots_.size() - 1;
    std::optional<Node> last;
    for (std::size_t at = slotOf(parent, name) & mask; slots_[at] != kEmpty; at = (at + 1) & mask) {
        const Folder& folder = folders_[slots_[at]];
        if (folder.parent != parent || nameOf(folder) != name)
            continue;
        if (unmatched && !(folder.flags & kMatched))
            return slots_[at];
        last = slots_[at];
    }
    return unmatched ? std::nullopt : last;
}

Comparison::Node Comparison::add(Node parent, QByteArrayView name, quint8 flags, quint64 earlier) {
    const Node node = Node(folders_.size());
    // No name of a file system comes near the limit, decoded or not.
    const quint16 length = quint16(std::min<qsizetype>(name.size(), 0xFFFF));
    folders_.push_back({parent, quint32(names_.size()), length, flags, earlier});
    names_.append(name.data(), length);
    if (folders_.size() * 2 > slots_.size())
        grow();
    else {
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = slotOf(parent, name.first(length)) & mask;
        while (slots_[at] != kEmpty)
            at = (at + 1) & mask;
        slots_[at] = node;
    }
    return node;
}

void Comparison::grow() {
    slots_.assign(slots_.size() * 2, kEmpty);
    const std::size_t mask = slots_.size() - 1;
    for (Node node = 1; node < folders_.size(); ++node) {
        std::size_t at = slotOf(folders_[node].parent, nameOf(folders_[node])) & mask;
        while (slots_[at] != kEmpty)
            at = (at + 1) & mask;
        slots_[at] = node;
    }
}

void Comparison::noteClash(Node node, bool inLater) {
    if (folders_[node].flags & kClashNoted)
        return;
    folders_[node].flags |= kClashNoted;
    clashes_.push_back({node, inLater});
}

Comparison::Node Comparison::reach(QByteArrayView below, bool later, std::vector<Node>& levels,
                                   QByteArray& previous) {
    if (below.isEmpty()) {
        levels.assign(1, 0);
        previous.clear();
        return 0;
    }
    levels.resize(std::max<std::size_t>(levels.size(), 1));
    levels[0] = 0;
    // The levels the line before went through stand, as far as its path is the same.
    qsizetype start = 0;
    std::size_t level = 0;
    while (true) {
        const qsizetype slash = below.indexOf('/', start);
        const qsizetype end = slash < 0 ? below.size() : slash;
        const QByteArrayView name = below.sliced(start, end - start);
        Node node;
        if (slash < 0) {
            node = kEmpty; // the folder of the line: found below
        } else if (level + 1 < levels.size() && previous.size() >= end &&
                   (previous.size() == end || previous[end] == '/') &&
                   std::memcmp(previous.constData(), below.data(), std::size_t(end)) == 0) {
            node = levels[level + 1];
        } else {
            // A level without a line of its own, or not the one before: the last of the name.
            const std::optional<Node> found = child(levels[level], name, false);
            node = found ? *found : add(levels[level], name, 0, kUnknown);
        }
        if (slash < 0) {
            const Node parent = levels[level];
            if (!later) {
                const std::optional<Node> found = child(parent, name, false);
                if (found && !(folders_[*found].flags & kEarlierLine))
                    node = *found; // met before as a level of a folder below it
                else {
                    if (found)
                        noteClash(*found, false);
                    node = add(parent, name, 0, kUnknown);
                }
            } else {
                // A second folder of a name the later list gave before.
                const std::optional<Node> last = child(parent, name, false);
                if (last && (folders_[*last].flags & kMatched))
                    noteClash(*last, true);
                const std::optional<Node> found = child(parent, name, true);
                node = found ? *found : add(parent, name, 0, kUnknown);
            }
        }
        levels.resize(std::max(levels.size(), level + 2));
        levels[level + 1] = node;
        ++level;
        if (slash < 0) {
            levels.resize(level + 1);
            previous.resize(0);
            previous.append(below.data(), below.size());
            return node;
        }
        start = slash + 1;
    }
}

void Comparison::addEarlier(QByteArrayView below, std::optional<quint64> size) {
    const Node node = reach(below, false, earlierLevels_, earlierPrevious_);
    folders_[node].flags |= kEarlierLine;
    folders_[node].earlier = size.value_or(kUnknown);
}

void Comparison::addLater(QByteArrayView below, std::optional<quint64> size) {
    const Node node = reach(below, true, laterLevels_, laterPrevious_);
    Folder& folder = folders_[node];
    folder.flags |= kMatched;
    const bool inEarlier = folder.flags & kEarlierLine;
    const quint64 earlier = folder.earlier; // by value: the field is not aligned
    const Line line{node, inEarlier, true, inEarlier ? earlier : kUnknown, size.value_or(kUnknown)};
    if (line.kind() == Kind::Unknown) {
        lines_.push_back(line);
        return;
    }
    if (inEarlier)
        earlierTotal_ += line.earlier;
    laterTotal_ += line.now;
    if (inEarlier && line.earlier == line.now)
        ++unchanged_;
    else
        lines_.push_back(line);
}

void Comparison::finish() {
    for (Node node = 0; node < folders_.size(); ++node) {
        const Folder& folder = folders_[node];
        if ((folder.flags & kEarlierLine) && !(folder.flags & kMatched)) {
            const quint64 earlier = folder.earlier;
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
