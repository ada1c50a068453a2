#pragma once

#include "listing/filesysteminfo.h"

#include <QFile>
#include <QString>

// Opens the list file for writing from its start, creating it when it is new. A file
// that is there already is replaced only when it is a plain file, and in a folder that
// others may write to, only when it is not another user's plant. A file left alone
// gets nothing written to it, and nothing is written anywhere else either.
// Returns an empty text on success, else why the file could not be opened.
QString openListFile(QFile& file, const NativePath& path);
