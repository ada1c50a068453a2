#include "posixscan/recordorder.h"

#include <algorithm>
#include <cstring>
#include <numeric>

using Node = FolderRecord::Node;

bool comesFirstByName(const FolderRecord& record, const Node& a, const Node& b) {
    const int common =
        std::memcmp(record.nameOf(a), record.nameOf(b), std::min(a.nameLength, b.nameLength));
    return common != 0 ? common < 0 : a.nameLength < b.nameLength;
}

std::vector<quint32> walkPlaces(const FolderRecord& record, ScanOptions::Order order) {
    std::vector<quint32> places(record.nodeCount(), 0);
    if (places.empty())
        return places;
    const bool byName = order == ScanOptions::Order::Name;
    // The sub-folders still to visit, the next one last.
    std::vector<quint32> open{0};
    std::vector<quint32> children;
    quint32 place = 0;
    while (!open.empty()) {
        const quint32 index = open.back();
        open.pop_back();
        places[index] = place++;
        const Node& folder = record.node(index);
        if (!folder.isFolder || folder.childCount == 0)
            continue;
        children.resize(folder.childCount);
        std::iota(children.begin(), children.end(), folder.firstChild);
        if (byName) {
            std::sort(children.begin(), children.end(), [&record](quint32 a, quint32 b) {
                return comesFirstByName(record, record.node(a), record.node(b));
            });
        }
        open.insert(open.end(), children.rbegin(), children.rend());
    }
    return places;
}

void orderSubFolders(FolderRecord& record, ScanOptions::Order order) {
    if (order == ScanOptions::Order::FileSystem)
        return;
    const auto bySize = [](const Node& a, const Node& b) {
        if (a.sizeKnown != b.sizeKnown)
            return a.sizeKnown;
        return a.bytes() > b.bytes();
    };
    const auto byName = [&record](const Node& a, const Node& b) {
        return comesFirstByName(record, a, b);
    };
    std::vector<Node> run;
    for (quint32 index = 0; index < record.nodeCount(); ++index) {
        const Node& folder = record.node(index);
        if (!folder.isFolder || folder.childCount < 2)
            continue;
        // Runs may straddle the record's chunks: sorted in a copy.
        run.resize(folder.childCount);
        for (quint32 i = 0; i < folder.childCount; ++i)
            run[i] = record.node(folder.firstChild + i);
        if (order == ScanOptions::Order::Size)
            std::stable_sort(run.begin(), run.end(), bySize);
        else
            std::sort(run.begin(), run.end(), byName);
        for (quint32 i = 0; i < folder.childCount; ++i)
            record.node(folder.firstChild + i) = run[i];
    }
}
