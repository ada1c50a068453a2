#include "posixscan/loopfigures.h"

#include "posixscan/folderrecord.h"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

namespace {

using Node = FolderRecord::Node;

// Enough for thousands of loops; past it, the folders left are scanned on their own.
constexpr quint64 kMaxSteps = quint64(1) << 24;

struct Figure {
    ByteTotal bytes = 0;
    bool known = true;
};

class LoopFigures {
public:
    LoopFigures(FolderRecord& record, bool topReadWhole, const std::vector<quint32>& mountRoots)
        : record_(record), topReadWhole_(topReadWhole), mountRoots_(mountRoots) {
        number();
    }

    // What a scan begun at folder `n` finds, coming down the chains of folders `way`.
    // Nothing when the record cannot tell.
    std::optional<Figure> from(quint32 n) {
        std::vector<Segment> way;
        return from(n, way);
    }
    bool outOfSteps() const { return steps_ > kMaxSteps; }

private:
    // The folders from `top` down to `bottom`, all on the way down at once.
    struct Segment {
        quint32 top;
        quint32 bottom;
    };
    struct Loop {
        quint32 node;
        quint32 target;
    };

    // Whether `x` is `folder` or below it.
    bool within(quint32 x, quint32 folder) const {
        return enter_[folder] <= enter_[x] && leave_[x] <= leave_[folder];
    }
    bool onWay(quint32 x, const std::vector<Segment>& way) const {
        return std::any_of(way.begin(), way.end(), [&](const Segment& s) {
            return within(x, s.top) && within(s.bottom, x);
        });
    }

    // Numbers the folders in the order of a depth-first walk, on entering and on leaving,
    // so that one folder's being below another is two comparisons.
    void number() {
        const std::size_t count = record_.nodeCount();
        enter_.assign(count, 0);
        leave_.assign(count, 0);
        struct Open {
            quint32 node;
            quint32 next;
        };
        quint32 clock = 0;
        std::vector<Open> open{{0, 0}};
        enter_[0] = clock++;
        while (!open.empty()) {
            const quint32 index = open.back().node;
            const Node& folder = record_.node(index);
            if (open.back().next < folder.childCount) {
                const quint32 child = folder.firstChild + open.back().next++;
                const Node& sub = record_.node(child);
                if (sub.loopsBack) {
                    enter_[child] = clock++;
                    leave_[child] = clock++;
                    loops_.push_back({child, sub.firstChild});
                } else if (sub.isFolder) {
                    enter_[child] = clock++;
                    open.push_back({child, 0});
                }
                continue;
            }
            leave_[index] = clock++;
            open.pop_back();
        }
    }

    std::optional<Figure> from(quint32 n, std::vector<Segment>& way) {
        steps_ += 1 + mountRoots_.size();
        if (steps_ > kMaxSteps || (n == 0 && !topReadWhole_) ||
            std::any_of(mountRoots_.begin(), mountRoots_.end(),
                        [&](quint32 root) { return within(root, n); }))
            return std::nullopt;
        const Node& folder = record_.node(n);
        Figure figure{folder.bytes(), folder.sizeKnown};
        // A folder of the way met again below ends the scan there, with all below it.
        std::vector<quint32> metAgain;
        for (const Segment& s : way) {
            if (s.top != n && within(s.top, n))
                metAgain.push_back(s.top);
        }
        std::erase_if(metAgain, [&](quint32 t) {
            return std::any_of(metAgain.begin(), metAgain.end(),
                               [&](quint32 u) { return u != t && within(t, u); });
        });
        bool cutUnknown = false;
        for (const quint32 t : metAgain) {
            figure.bytes -= record_.node(t).bytes();
            cutUnknown = cutUnknown || !record_.node(t).sizeKnown;
        }
        if (!figure.known)
            return cutUnknown ? std::nullopt : std::optional<Figure>(figure); // unread below
        for (const Loop& loop : loops_) {
            if (++steps_ > kMaxSteps)
                return std::nullopt;
            // A loop round to this folder or below it closes as it did in the record.
            if (!within(loop.node, n) || within(loop.target, n))
                continue;
            if (std::any_of(metAgain.begin(), metAgain.end(),
                            [&](quint32 t) { return within(loop.node, t); }) ||
                onWay(loop.target, way))
                continue;
            way.push_back({n, loop.node});
            const std::optional<Figure> through = from(loop.target, way);
            way.pop_back();
            if (!through)
                return std::nullopt;
            figure.bytes += through->bytes;
            figure.known = figure.known && through->known;
        }
        return figure;
    }

    FolderRecord& record_;
    const bool topReadWhole_;
    const std::vector<quint32>& mountRoots_;
    std::vector<quint32> enter_;
    std::vector<quint32> leave_;
    std::vector<Loop> loops_;
    quint64 steps_ = 0;
};

} // namespace

void countLoopsFromEachFolder(FolderRecord& record, bool topReadWhole,
                              const std::vector<quint32>& mountRoots) {
    const std::size_t count = record.nodeCount();
    // Two numbers a folder must fit in 32 bits.
    if (count == 0 || !record.node(0).holdsLoop || count >= (std::size_t(1) << 31))
        return;
    std::vector<std::pair<quint32, Figure>> counted;
    try {
        LoopFigures figures(record, topReadWhole, mountRoots);
        // The top was counted from itself already.
        for (quint32 i = 1; i < count && !figures.outOfSteps(); ++i) {
            if (!record.node(i).holdsLoop)
                continue;
            if (const std::optional<Figure> figure = figures.from(i))
                counted.emplace_back(i, *figure);
        }
    } catch (const std::bad_alloc&) {
        return; // each is counted from itself then, which takes no more memory
    }
    for (const auto& [index, figure] : counted) {
        Node& node = record.node(index);
        node.setBytes(figure.bytes);
        node.sizeKnown = figure.known;
        node.holdsLoop = false;
    }
}
