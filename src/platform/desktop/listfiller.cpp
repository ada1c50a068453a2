#include "platform/desktop/listfiller.h"

#include <QFileIconProvider>
#include <QListWidget>

namespace {

const QIcon& iconFor(bool folder) {
    static const QFileIconProvider provider;
    static const QIcon folderIcon = provider.icon(QFileIconProvider::Folder);
    static const QIcon fileIcon = provider.icon(QFileIconProvider::File);
    return folder ? folderIcon : fileIcon;
}

} // namespace

ListFiller::ListFiller(QListWidget* list) : QObject(list), list_(list) {
    turn_.setInterval(0);
    connect(&turn_, &QTimer::timeout, this, &ListFiller::addBatch);
}

void ListFiller::fill(std::shared_ptr<const ShownListing> listing, bool showHidden) {
    stop();
    list_->clear();
    listing_ = std::move(listing);
    next_ = 0;
    showHidden_ = showHidden;
    turn_.start();
    addBatch();
}

void ListFiller::stop() {
    turn_.stop();
    listing_.reset();
}

void ListFiller::addBatch() {
    if (!listing_)
        return turn_.stop();
    const std::vector<ShownEntry>& entries = listing_->entries;
    const std::size_t end = std::min(entries.size(), next_ + kBatch);
    for (; next_ < end; ++next_) {
        const ShownEntry& entry = entries[next_];
        if (entry.hidden && !showHidden_)
            continue;
        auto* item = new QListWidgetItem(iconFor(entry.folder), entry.text, list_);
        item->setData(kNameRole, entry.name);
        item->setData(kFolderRole, entry.folder);
    }
    if (next_ < entries.size())
        return;
    stop();
    emit filled();
}

QListWidgetItem* itemNamed(const QListWidget* list, const NativePath& name) {
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->data(ListFiller::kNameRole).toByteArray() == name)
            return list->item(row);
    return nullptr;
}
