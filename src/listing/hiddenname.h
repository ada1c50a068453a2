#pragma once

#include <QByteArrayView>

// The one rule of what is hidden, kept by the walk, the scan and the folder picker alike:
// a name that begins with '.'. Only its first byte decides.
inline bool isHiddenName(QByteArrayView name) {
    return name.startsWith('.');
}

// The same for a name as the system hands it over, ended by a NUL, without measuring it.
inline bool isHiddenName(const char* name) {
    return isHiddenName(QByteArrayView(name, *name != '\0' ? 1 : 0));
}
