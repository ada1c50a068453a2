#include "posixscan/linkedfiles.h"

#include "posixscan/recordorder.h"

#include <algorithm>

void LinkedFiles::add(std::vector<Name>& names) {
    const std::lock_guard lock(mutex_);
    if (names_.empty())
        names_.swap(names);
    else
        names_.insert(names_.end(), names.begin(), names.end());
    names.clear();
}

void LinkedFiles::countOnce(FolderRecord& record, ScanOptions::Order order) {
    if (names_.empty())
        return;
    const std::vector<quint32> places = walkPlaces(
        record, order == ScanOptions::Order::Name ? order : ScanOptions::Order::FileSystem);
    // Each file's names side by side, the one met first in the walk at the head.
    std::sort(names_.begin(), names_.end(), [&places](const Name& a, const Name& b) {
        if (a.dev != b.dev)
            return a.dev < b.dev;
        if (a.ino != b.ino)
            return a.ino < b.ino;
        return places[a.node] < places[b.node];
    });
    for (auto first = names_.begin(); first != names_.end();) {
        FolderRecord::Node& node = record.node(first->node);
        node.setBytes(node.bytes() + first->bytes);
        first = std::find_if(first, names_.end(),
                             [dev = first->dev, ino = first->ino](const Name& name) {
                                 return name.dev != dev || name.ino != ino;
                             });
    }
    names_.clear();
    names_.shrink_to_fit();
}
