#pragma once

#include "platform/system/posixcore.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <thread>

class OpenedListFile;

// The list file while it is written. Emptying an old list can take milliseconds (its
// blocks are given back to the disk), so it goes on beside the listing; nothing is
// written, and the file is not closed, before it is done.
class ListFile : public QFile {
public:
    ListFile() = default;
    ~ListFile() override;
    void close() override;

protected:
    qint64 writeData(const char* data, qint64 length) override;

private:
    friend QString takeOverListFile(ListFile& file, OpenedListFile opened);
    // Empties the open file at `fd` from a thread of its own, or here when none is had.
    void emptyBeside(int fd);
    // False when emptying failed; the reason is then the file's error text.
    bool emptied();

    std::thread emptying_;
    int emptyingError_ = 0;
};

// Opens the list file for writing from its start, creating it when it is new. A file
// that is there already is replaced only when it is a plain file. The path is walked a
// name at a time and links are followed as the system would, but in a folder that others
// may write to (sticky, as /tmp), a link, on the way or at the end, or a file that is
// neither the user's nor the folder owner's is refused, and so is a file there with more
// than one name. A file left alone gets nothing written to it, and nothing is written
// anywhere else either. Returns an empty text on success, else why the file could not
// be opened, naming the entry refused when it is not the path given.
QString openListFile(ListFile& file, const QByteArray& path);

// openListFile in two steps, for a caller that must not wait on the file system for
// long: openListFileAside() walks the path and opens the file, on any thread, and waits
// as long as the file system does; takeOverListFile() then makes it `file`'s, on the
// caller's thread, and answers as openListFile does. A file opened and never taken over
// is closed, unwritten, when its OpenedListFile goes (a new one stays, empty).
class OpenedListFile {
public:
private:
    friend OpenedListFile openListFileAside(const QByteArray& path);
    friend QString takeOverListFile(ListFile& file, OpenedListFile opened);
    Descriptor fd_;
    qint64 oldSize_ = 0;
    QString why_;
};

OpenedListFile openListFileAside(const QByteArray& path);
QString takeOverListFile(ListFile& file, OpenedListFile opened);
