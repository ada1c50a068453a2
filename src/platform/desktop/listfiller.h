#pragma once

#include "platform/desktop/shownlisting.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QListWidget;
class QListWidgetItem;

// Fills a list with a folder's entries a batch per turn of the event loop, so that a
// folder of 100,000 names never holds its dialog: keys, clicks and answers are taken
// between batches. Each item keeps the entry's name, as the system gives it, under
// kNameRole, and whether it is a folder under kFolderRole.
class ListFiller final : public QObject {
    Q_OBJECT
public:
    static constexpr int kNameRole = Qt::UserRole;
    static constexpr int kFolderRole = Qt::UserRole + 1;
    static constexpr std::size_t kBatch = 2000;

    explicit ListFiller(QListWidget* list);

    // Empties the list and fills it with `listing`'s entries, hidden ones only when
    // `showHidden`; the first batch at once, the others on the turns that follow. A
    // filling still under way is given up.
    void fill(std::shared_ptr<const ShownListing> listing, bool showHidden);
    // Gives up the filling under way, leaving the list as far as it got.
    void stop();
    bool filling() const { return turn_.isActive(); }

signals:
    void filled();

private:
    void addBatch();

    QListWidget* list_;
    std::shared_ptr<const ShownListing> listing_;
    std::size_t next_ = 0;
    bool showHidden_ = false;
    QTimer turn_;
};

// The item of `list` whose entry is named `name`, or none.
QListWidgetItem* itemNamed(const QListWidget* list, const NativePath& name);
