#pragma once

#include "platform/desktop/savefilelookups.h"

#include <QString>
#include <QStringList>

#include <vector>

// A folder's entries as a dialog shows them: named by text, in name order with the
// folders first, and only the files that the filter's patterns match.
struct ShownEntry {
    NativePath name; // as the system gives it
    QString text;    // as it is shown
    bool folder = false;
    bool hidden = false; // its name begins with '.'
};
struct ShownListing {
    int error = 0; // the system's error number when the folder could not be read
    std::vector<ShownEntry> entries;
};

// Reads `folder` through `lookups` and puts it in order. Files are kept when one of the
// shell patterns `filePatterns` matches their name (none: folders only). It may wait as
// long as the file system does, so it runs on a look-up thread, never on the window's.
ShownListing readShown(const SaveFileLookups& lookups, const NativePath& folder,
                       const QStringList& filePatterns);
