#include "listing/listside.h"

#include "listing/listfields.h"

namespace {

QByteArrayView withoutEndSlash(QByteArrayView path) {
    return path.size() > 1 && path.endsWith('/') ? path.chopped(1) : path;
}

// A path below the listed folder names each folder on its way: no empty name, no "." or
// "..", which would reach outside it.
bool isPlainPath(QByteArrayView below) {
    qsizetype start = 0;
    while (start <= below.size()) {
        qsizetype slash = below.indexOf('/', start);
        if (slash < 0)
            slash = below.size();
        const QByteArrayView name = below.sliced(start, slash - start);
        if (name.isEmpty() || name == "." || name == "..")
            return false;
        start = slash + 1;
    }
    return true;
}

const QString kNotBelow = QStringLiteral("a folder that is not below the first one");

} // namespace

QString ListSide::take(const ListReader& reader, QByteArrayView path,
                       std::optional<ByteTotal> size) {
    form_ = reader.form();
    if (isReport()) {
        if (!withSubs_) {
            withSubs_ = reader.header().withSubs;
            // A root has no line of its own; any other listed folder's line comes first.
            if (*withSubs_ && reader.header().folder != QStringLiteral("/")) {
                prefix_ = path.toByteArray();
                return hand({}, size);
            }
        }
        if (!*withSubs_)
            return path.contains('/') ? QStringLiteral("a name with a '/' in a list without subs")
                                      : hand(path, size);
        if (!path.startsWith(prefix_))
            return kNotBelow;
        return hand(withoutEndSlash(path.sliced(prefix_.size())), size);
    }

    // A root has no line of its own: a first line of one name below it ("/srv") may be
    // the listed folder or the first below the root. Taken as below the root, either way
    // every line is its path after the "/", unless a report matched with these lines says.
    if (!rootStyle_ && !withSubs_ && !first_ && path.startsWith('/') && path.size() > 1 &&
        !withoutEndSlash(path).sliced(1).contains('/') && (!asReport_ || reportOfRoot_)) {
        rootStyle_ = true;
        prefix_ = "/";
        if (asReport_)
            withSubs_ = reportWithSubs_;
    }
    if (rootStyle_) {
        if (!path.startsWith('/'))
            return QStringLiteral("a folder that is not below the root");
        const QByteArrayView below = withoutEndSlash(path).sliced(1);
        if (below.contains('/'))
            withSubs_ = true;
        return hand(below, size);
    }
    if (!withSubs_) {
        if (!first_) {
            first_.emplace(path.toByteArray(), size);
            return asReport_ ? handFirst(reportWithSubs_) : QString();
        }
        // With subs the second line is below the first; without, beside it.
        const QByteArrayView top = withoutEndSlash(first_->first);
        if (const QString why = handFirst(
                path.startsWith(top.endsWith('/') ? top.toByteArray() : top.toByteArray() + '/'));
            !why.isEmpty())
            return why;
    }
    const QByteArrayView given = withoutEndSlash(path);
    if (!*withSubs_) {
        const QByteArrayView start = given.first(given.lastIndexOf('/') + 1);
        if (start != prefix_)
            // du writes each folder after the ones in it.
            return prefix_.startsWith(given)
                       ? QStringLiteral("a folder after the folders in it, as du writes them")
                       : QStringLiteral("a folder that is not beside the ones above it");
        return hand(given.sliced(start.size()), size);
    }
    if (!given.startsWith(prefix_))
        return given == top_ ? QStringLiteral("the listed folder a second time") : kNotBelow;
    return hand(given.sliced(prefix_.size()), size);
}

QString ListSide::finish(const ListReader& reader, bool withSubs) {
    form_ = reader.form();
    // A report says its mode even without folder lines.
    if (isReport() && !withSubs_)
        withSubs_ = reader.header().withSubs;
    if (first_)
        return handFirst(withSubs);
    if (!withSubs_)
        withSubs_ = withSubs;
    return {};
}

QString ListSide::handFirst(bool withSubs) {
    withSubs_ = withSubs;
    const QByteArray first = std::move(first_->first);
    const std::optional<ByteTotal> size = first_->second;
    first_.reset();
    const QByteArrayView given = withoutEndSlash(first);
    if (withSubs) {
        top_ = given.toByteArray();
        prefix_ = top_.endsWith('/') ? top_ : top_ + '/';
        return hand({}, size);
    }
    prefix_ = given.first(given.lastIndexOf('/') + 1).toByteArray();
    return hand(given.sliced(prefix_.size()), size);
}

QString ListSide::folder(const ListReader& reader) const {
    if (isReport())
        return reader.header().folder;
    const QByteArray named = withSubs_.value_or(false) && !rootStyle_ ? top_
                             : prefix_.size() > 1                     ? prefix_.chopped(1)
                                                                      : prefix_;
    // Lines of bare names are of the folder they were listed from.
    return named.isEmpty() ? QStringLiteral(".") : QString::fromUtf8(named);
}

QByteArray ListSide::reportText(QByteArrayView bytes) const {
    const QString shown = listfields::shownName(QString::fromUtf8(bytes));
    return (withSubs_.value_or(false) ? shown.toLower() : listfields::capitalisedName(shown))
        .toUtf8();
}

QString ListSide::hand(QByteArrayView below, std::optional<ByteTotal> size) {
    if (!below.isEmpty() && !isPlainPath(below))
        return QStringLiteral("a path with an empty name, '.' or '..' in it");
    if (asReport_ && !isReport()) {
        shown_ = reportText(below);
        return folder_(shown_, size);
    }
    return folder_(below, size);
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
