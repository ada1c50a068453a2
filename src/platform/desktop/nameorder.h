#pragma once

#include <QCollator>
#include <QString>

#include <algorithm>
#include <vector>

// The order the dialogs show names in, as the desktop's file manager has it: letters
// without regard to case, and numbers by their value (file9 before file10).
QCollator nameCollator();

// Sorts `items` by the text `shownOf` gives, in that order. Each call makes a collator of
// its own, as one collator may not be used on two threads at once; the keys are made once
// per name, which keeps a folder of 100,000 names quick.
template <typename T, typename ShownOf> void sortByName(std::vector<T>& items, ShownOf shownOf) {
    const QCollator collator = nameCollator();
    std::vector<std::pair<QCollatorSortKey, T>> keyed;
    keyed.reserve(items.size());
    for (T& item : items)
        keyed.emplace_back(collator.sortKey(shownOf(item)), std::move(item));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    items.clear();
    for (auto& [key, item] : keyed)
        items.push_back(std::move(item));
}
