#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

// A file to read whole, named by the bytes the system gave, so that a name that is not
// valid text is still found. Only a regular file is opened: a FIFO would wait for a
// writer, a device might never end, a folder is no file.
struct ReadableFile {
    enum class Kind { Missing, Folder, Regular, Other };

    // What `path` names, links followed; Missing with the system's reason also when it
    // cannot be looked at.
    static Kind kindOf(const QByteArray& path, QString* why = nullptr);

    // Whether `a` and `b` name one file (links followed, hard ones too); false when either
    // cannot be looked at.
    static bool sameFile(const QByteArray& a, const QByteArray& b);

    // Opens `path` into `file` for reading from its start. Returns an empty text on
    // success, else why not: the system's reason, or what it is instead of a file.
    static QString open(QFile& file, const QByteArray& path);

    // When the open file was last written.
    static QDateTime modified(const QFile& file);
};
