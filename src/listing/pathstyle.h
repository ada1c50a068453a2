#pragma once

#include "listing/hiddenname.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A path as the platform's file calls take it. Names are kept exactly as the file
// system gives them, so folders whose names do not decode cleanly are still reached.
using NativePath = QByteArray;

// How one kind of file system writes and shows its paths: the separator, what a root is,
// how names decode, and what is hidden. Pure: nothing here touches the file system, so
// any thread may call it at any time.
class PathStyle {
public:
    virtual ~PathStyle() = default;

    virtual char separator() const = 0;

    virtual NativePath encodePath(const QString& path) const = 0;
    virtual QString decodePath(const NativePath& path) const = 0;
    // Appends a name as decodePath() shows it; once per folder of a listing, so a file
    // system may do it without a string of its own.
    virtual void appendDecoded(QString& text, QByteArrayView name) const {
        text += decodePath(NativePath(name.data(), name.size()));
    }

    // The path without its root ("c:\work\" gives "work\", "/srv/data/" gives "srv/data/");
    // empty for a root itself.
    virtual QString pathBelowRoot(const NativePath& path) const = 0;

    // A folder of this name is left out of the listings and of the folder picker.
    virtual bool isHidden(QByteArrayView name) const { return isHiddenName(name); }
};
