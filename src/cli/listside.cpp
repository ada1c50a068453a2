#include "cli/listside.h"

#include "listing/listfields.h"

namespace {

QByteArrayView withoutEndSlash(QByteArrayView path) {
    return path.size() > 1 && path.endsWith('/') ? path.chopped(1) : path;
}

} // namespace

bool ListSide::take(const ListReader& reader, QByteArrayView path, std::optional<quint64> size) {
    form_ = reader.form();
    if (isReport()) {
        if (!withSubs_) {
            withSubs_ = reader.header().withSubs;
            // A root has no line of its own; any other listed folder's line comes first.
            if (*withSubs_ && reader.header().folder != QStringLiteral("/"))
                prefix_ = path.toByteArray();
        }
        if (!*withSubs_) {
            hand(path, size);
            return true;
        }
        if (!path.startsWith(prefix_)) {
            error_ = QStringLiteral("a folder that is not below the first one");
            return false;
        }
        hand(withoutEndSlash(path.sliced(prefix_.size())), size);
        return true;
    }

    // A root has no line of its own: a first line of one name below it ("/srv") may be
    // the listed folder or the first below the root. Taken as below the root, either way
    // every line is its path after the "/".
    if (!rootStyle_ && !withSubs_ && !first_ && path.startsWith('/') && path.size() > 1 &&
        !withoutEndSlash(path).sliced(1).contains('/')) {
        rootStyle_ = true;
        prefix_ = "/";
    }
    if (rootStyle_) {
        const QByteArrayView below = withoutEndSlash(path).sliced(1);
        if (!path.startsWith('/') || below.isEmpty()) {
            error_ = QStringLiteral("a folder that is not below the root");
            return false;
        }
        if (below.contains('/'))
            withSubs_ = true;
        hand(below, size);
        return true;
    }
    if (!withSubs_) {
        if (!first_) {
            first_.emplace(path.toByteArray(), size);
            return true;
        }
        // With subs the second line is below the first; without, beside it.
        const QByteArrayView top = withoutEndSlash(first_->first);
        handFirst(path.startsWith(top.endsWith('/') ? top.toByteArray() : top.toByteArray() + '/'));
    }
    const QByteArrayView given = withoutEndSlash(path);
    if (!*withSubs_) {
        hand(given.sliced(given.lastIndexOf('/') + 1), size);
        return true;
    }
    if (given == top_) {
        hand({}, size);
        return true;
    }
    if (!given.startsWith(prefix_)) {
        error_ = QStringLiteral("a folder that is not below the first one");
        return false;
    }
    hand(given.sliced(prefix_.size()), size);
    return true;
}

void ListSide::finish(const ListReader& reader, bool withSubs) {
    form_ = reader.form();
    // A report says its mode even without folder lines.
    if (isReport() && !withSubs_)
        withSubs_ = reader.header().withSubs;
    if (first_)
        handFirst(withSubs);
    if (!withSubs_)
        withSubs_ = withSubs;
}

void ListSide::handFirst(bool withSubs) {
    withSubs_ = withSubs;
    const QByteArray first = std::move(first_->first);
    const std::optional<quint64> size = first_->second;
    first_.reset();
    const QByteArrayView given = withoutEndSlash(first);
    if (withSubs) {
        top_ = given.toByteArray();
        prefix_ = top_.endsWith('/') ? top_ : top_ + '/';
        hand({}, size);
    } else {
        prefix_ = given.first(given.lastIndexOf('/') + 1).toByteArray();
        hand(given.sliced(prefix_.size()), size);
    }
}

QByteArray ListSide::reportText(QByteArrayView bytes) const {
    const QString shown = listfields::shownName(QString::fromUtf8(bytes));
    return (withSubs_.value_or(false) ? shown.toLower() : listfields::capitalisedName(shown))
        .toUtf8();
}

void ListSide::hand(QByteArrayView below, std::optional<quint64> size) {
    if (asReport_ && !isReport()) {
        shown_ = reportText(below);
        folder_(shown_, size);
        return;
    }
    folder_(below, size);
}

QByteArray ListSide::pathOf(QByteArrayView below) const {
    const QByteArray joined = prefix_ + below.toByteArray();
    if (isReport())
        return *withSubs_ && !below.isEmpty() ? joined + '/' : joined;
    QByteArray path = *withSubs_ && below.isEmpty() ? top_ : joined;
    if (asReport_) {
        path = listfields::shownName(QString::fromUtf8(path)).toUtf8();
        if (*withSubs_)
            path = path.toLower() + '/';
    }
    return path;
}
