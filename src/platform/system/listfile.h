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
// that is there already is replaced only when it is a plain file, and in a folder that
// others may write to, only when it is not another user's plant. A file left alone
// gets nothing written to it, and nothing is written anywhere else either.
// Returns an empty text on success, else why the file could not be opened.
QString openListFile(ListFile& file, const NativePath& path);
