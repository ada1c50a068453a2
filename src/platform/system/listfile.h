#pragma once

#include "listing/filesysteminfo.h"

#include <QFile>
#include <QString>

#include <thread>

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
    friend QString openListFile(ListFile& file, const NativePath& path);
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
QString openListFile(ListFile& file, const NativePath& path);
