#include "platform/desktop/shownlisting.h"

#include "listing/hiddenname.h"
#include "listing/listfields.h"
#include "platform/desktop/nameorder.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

ShownListing readShown(const SaveFileLookups& lookups, const NativePath& folder,
                       const QStringList& filePatterns) {
    const SaveFileLookups::Listing listing = lookups.read(folder);
    ShownListing shown;
    shown.error = listing.error;
    // Made here, on the thread that uses them.
    QList<QRegularExpression> patterns;
    for (const QString& pattern : filePatterns)
        patterns << QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                       QRegularExpression::CaseInsensitiveOption);
    std::vector<ShownEntry> folders, files;
    for (const SaveFileLookups::Entry& entry : listing.entries) {
        const QString decoded = QFile::decodeName(entry.name);
        if (!entry.folder &&
            std::none_of(patterns.begin(), patterns.end(),
                         [&](const QRegularExpression& p) { return p.match(decoded).hasMatch(); }))
            continue;
        (entry.folder ? folders : files)
            .push_back({entry.name, listfields::shownName(decoded), entry.folder,
                        isHiddenName(QByteArrayView(entry.name))});
    }
    const auto textOf = [](const ShownEntry& entry) -> const QString& { return entry.text; };
    sortByName(folders, textOf);
    sortByName(files, textOf);
    shown.entries = std::move(folders);
    std::move(files.begin(), files.end(), std::back_inserter(shown.entries));
    return shown;
}
