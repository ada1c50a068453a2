#pragma once

#include "listing/filesysteminfo.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <unordered_map>
#include <vector>

// Two lists of one tree matched folder by folder, by each folder's path below the listed
// folder ("docs/old"; empty for the listed folder itself). The earlier list is kept as a
// tree of names in one arena, a parent and a size per folder; the later one is matched as
// its lines come and only what changed is kept, so the later list may be as long as
// memory would not hold.
//
// The order: add every earlier folder, then every later one, then finish() once; the
// lines and totals are read after that. A list's folders come as lists have them, each
// after the folder it is in: that folder is the line before or one above it. Each folder
// is found from the line before in time that grows with its path's length, and a folder
// is kept only for a line, so time and memory grow with the lists, whatever their paths.
class Comparison {
public:
    using Node = quint32;
    static constexpr ByteTotal kUnknown = ~ByteTotal(0); // a size that was blank

    enum class Kind : quint8 { Changed, New, Gone, Unknown };
    struct Line {
        Node node;
        bool inEarlier;    // false: new
        bool inLater;      // false: gone
        ByteTotal earlier; // kUnknown when blank, or for a new folder
        ByteTotal now;     // kUnknown when blank, or for a gone folder
        Kind kind() const {
            if ((inEarlier && earlier == kUnknown) || (inLater && now == kUnknown))
                return Kind::Unknown;
            return !inEarlier ? Kind::New : !inLater ? Kind::Gone : Kind::Changed;
        }
        // For a line whose kind is not Unknown; sizes stay below 2^96.
        __int128 change() const {
            return __int128(inLater ? now : 0) - __int128(inEarlier ? earlier : 0);
        }
    };

    Comparison();

    // Each returns why the folder cannot be taken (its place in the list's order), or an
    // empty text.
    QString addEarlier(QByteArrayView below, std::optional<ByteTotal> size);
    QString addLater(QByteArrayView below, std::optional<ByteTotal> size);
    void finish();

    // Changed, new and gone folders, the largest growth first and the largest shrink last
    // (equal changes in the order of the lists), then those whose size is unknown.
    const std::vector<Line>& lines() const { return lines_; }
    quint64 unchanged() const { return unchanged_; }
    // Over the folders whose sizes are known on both sides (a new one counting 0
    // before, a gone one 0 now): the changes of the lines add up to their difference.
    ByteTotal earlierTotal() const { return earlierTotal_; }
    ByteTotal laterTotal() const { return laterTotal_; }

    // A folder's path below the listed folder.
    QByteArray below(Node node) const;
    // Paths that stand for more than one folder in a list (names that differ only in
    // case or in control characters, in the report), matched in the order of the lists:
    // the first such folder of each list, and how many there are.
    struct Clashes {
        std::optional<Node> first;
        quint64 count = 0;
    };
    const Clashes& earlierClashes() const { return earlierClashes_; }
    const Clashes& laterClashes() const { return laterClashes_; }

private:
    enum Flag : quint8 {
        kEarlierLine = 1, // the earlier list has a line for it
        kMatched = 2,     // the later list has a line for it
    };
    // A size of 2^64 - 2 or more is kept beside the folder, in bigEarlier_.
    static constexpr quint64 kUnknown64 = ~quint64(0);
    static constexpr quint64 kBig64 = ~quint64(0) - 1;
#pragma pack(push, 4)
    struct Folder {
        Node parent;
        quint32 nameAt;
        quint16 nameLength;
        quint8 flags;
        quint64 earlier;
    };
#pragma pack(pop)
    // Where one list stands: the folders on the way to its last line, and that line's path.
    struct Walk {
        std::vector<Node> levels{0};
        QByteArray previous;
        bool topSeen = false;
    };
    // Folders of one name in one folder, in the order they came; the later list takes
    // them in that order.
    struct SameName {
        std::vector<Node> nodes;
        std::size_t firstUnmatched = 0;
    };

    QByteArrayView nameOf(const Folder& folder) const;
    std::optional<Node> find(Node parent, QByteArrayView name) const;
    Node add(Node parent, QByteArrayView name);
    // Makes `node` findable: the first folder of its name in its folder (`first` is then
    // `node`) goes into the table, any other joins that first one's folders of the name.
    void sameNameAs(Node first, Node node);
    void grow();
    ByteTotal earlierOf(Node node) const;
    // The folder of `below` in the list `walk` follows, made or matched by `make`.
    template <typename Make> QString reach(QByteArrayView below, Walk& walk, Node& node, Make make);
    static void noteClash(Clashes& clashes, Node node);

    std::vector<Folder> folders_;
    QByteArray names_;
    std::vector<Node> slots_; // open addressing by parent and name; the first of the name
    std::unordered_map<Node, SameName> sameNames_;
    std::unordered_map<Node, ByteTotal> bigEarlier_;
    Walk earlierWalk_, laterWalk_;
    std::vector<Line> lines_;
    Clashes earlierClashes_, laterClashes_;
    quint64 unchanged_ = 0;
    ByteTotal earlierTotal_ = 0;
    ByteTotal laterTotal_ = 0;
};
