#pragma once

#include "listing/listreader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

// How one list names its folders, and each folder's path below the listed folder, by which
// two lists are matched: the report's text ("docs/old" for the line "home/ann/work/docs/old/"
// of a list of /home/ann/work with subs, "Docs" without), or the exact bytes of the lines
// for scripts. With subs, the first line for scripts is the listed folder itself and gives
// what comes before the others; without, a folder is the last name of its path.
// Whether lines for scripts were made with subs shows on their second line (below the
// first, or beside it), or for lines of the root's folders on the first line below
// another; a list that does not show it is told by finish().
class ListSide {
public:
    // The path below the listed folder, empty for the listed folder itself.
    // Returns why the folder cannot be taken, or an empty text.
    using Folder = std::function<QString(QByteArrayView below, std::optional<ByteTotal> size)>;

    explicit ListSide(Folder folder) : folder_(std::move(folder)) {}

    // Lines for scripts handed on as the report would show them (decoded, "?" for control
    // characters, lower case, or capitalised without subs): for matching with a report.
    // The report's mode and whether its folder is the root tell which folder lines for
    // scripts are of, where they alone may not ("/srv" first: the listed folder, or the
    // first below the root).
    void showAsReport(bool withSubs, bool root) {
        asReport_ = true;
        reportWithSubs_ = withSubs;
        reportOfRoot_ = root;
    }

    // A folder line of `reader`; why it cannot be one of this list (not below the listed
    // folder, or beside it without subs; a name that is empty, "." or ".."), or empty.
    QString take(const ListReader& reader, QByteArrayView path, std::optional<ByteTotal> size);
    // The end of the list; `withSubs` for lines for scripts whose mode did not show.
    // Returns why the line held back cannot be taken, or empty.
    QString finish(const ListReader& reader, bool withSubs);

    std::optional<bool> withSubs() const { return withSubs_; }
    bool isReport() const { return form_ == ListFormat::Report; }
    // The listed folder as this list names it: the report's path line, or the folder its
    // lines for scripts begin with ("/" for those of the root's folders).
    QString folder(const ListReader& reader) const;
    // Lines for scripts that begin at the root: of the root's folders, or of one of them.
    bool isRootStyle() const { return rootStyle_; }

    // A folder's text as this list gives it (report) or its path (exact bytes), from its
    // path below the listed folder.
    QByteArray pathOf(QByteArrayView below) const;

private:
    QString hand(QByteArrayView below, std::optional<ByteTotal> size);
    QString handFirst(bool withSubs);
    QByteArray reportText(QByteArrayView bytes) const;

    Folder folder_;
    std::optional<ListFormat> form_;
    std::optional<bool> withSubs_;
    bool asReport_ = false;
    bool reportWithSubs_ = false;
    bool reportOfRoot_ = false;
    bool rootStyle_ = false; // lines for scripts that begin at the root
    QByteArray top_;         // with subs: the listed folder's own line
    QByteArray prefix_;      // what comes before the path below the listed folder
    std::optional<std::pair<QByteArray, std::optional<ByteTotal>>> first_; // held until the second
    QByteArray shown_;
};
