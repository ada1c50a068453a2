#pragma once

#include "listing/filesysteminfo.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <vector>

// Two lists of one tree matched folder by folder, by each folder's path below the listed
// folder ("docs/old"; empty for the listed folder itself). The earlier list is kept as a
// tree of names in one arena, a parent and a size per folder; the later one is matched as
// its lines come and only what changed is kept, so the later list may be as long as
// memory would not hold.
//
// The order: add every earlier folder, then every later one, then finish() once; the
// lines and totals are read after that. Lines of a list must come with each folder
// before the ones below it, as lists have them.
class Comparison {
public:
    using Node = quint32;
    static constexpr quint64 kUnknown = ~quint64(0); // a size that was blank

    enum class Kind : quint8 { Changed, New, Gone, Unknown };
    struct Line {
        Node node;
        bool inEarlier;  // false: new
        bool inLater;    // false: gone
        quint64 earlier; // kUnknown when blank, or for a new folder
        quint64 now;     // kUnknown when blank, or for a gone folder
        Kind kind() const {
            if ((inEarlier && earlier == kUnknown) || (inLater && now == kUnknown))
                return Kind::Unknown;
            return !inEarlier ? Kind::New : !inLater ? Kind::Gone : Kind::Changed;
        }
        // For a line whose kind is not Unknown.
        __int128 change() const {
            return __int128(inLater ? now : 0) - __int128(inEarlier ? earlier : 0);
        }
    };

    Comparison();

    void addEarlier(QByteArrayView below, std::optional<quint64> size);
    void addLater(QByteArrayView below, std::optional<quint64> size);
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
    // case or in control characters, in the report): matched in the order of the lists.
    struct Clash {
        Node node;
        bool inLater;
    };
    const std::vector<Clash>& clashes() const { return clashes_; }

private:
    enum Flag : quint8 {
        kEarlierLine = 1, // the earlier list has a line for it
        kMatched = 2,     // the later list has a line for it
        kClashNoted = 4,
    };
#pragma pack(push, 4)
    struct Folder {
        Node parent;
        quint32 nameAt;
        quint16 nameLength;
        quint8 flags;
        quint64 earlier;
    };
#pragma pack(pop)

    QByteArrayView nameOf(const Folder& folder) const;
    // The folders named `name` below `parent`: the first one the later list has no line for
    // yet when `unmatched`, else the last one added; or none.
    std::optional<Node> child(Node parent, QByteArrayView name, bool unmatched) const;
    Node add(Node parent, QByteArrayView name, quint8 flags, quint64 earlier);
    void grow();
    // The folder of `below`, found or made from the levels matched for the line before.
    Node reach(QByteArrayView below, bool later, std::vector<Node>& levels, QByteArray& previous);
    void noteClash(Node node, bool inLater);

    std::vector<Folder> folders_;
    QByteArray names_;
    std::vector<Node> slots_; // open addressing by parent and name; kEmpty when free
    std::vector<Node> earlierLevels_, laterLevels_;
    QByteArray earlierPrevious_, laterPrevious_;
    std::vector<Line> lines_;
    std::vector<Clash> clashes_;
    quint64 unchanged_ = 0;
    ByteTotal earlierTotal_ = 0;
    ByteTotal laterTotal_ = 0;
};
