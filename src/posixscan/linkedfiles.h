#pragma once

#include "listing/filesysteminfo.h"
#include "posixscan/folderrecord.h"

#include <QtGlobal>

#include <sys/types.h>

#include <mutex>
#include <vector>

// Files with more than one name, set aside while a tree is read so that each can be
// counted once when the whole tree is known: the threads of a scan meet the names in no
// fixed order, and the folder that counts a file must not depend on which came first.
class LinkedFiles {
public:
    // One name of a file, met in folder `node`.
    struct Name {
        dev_t dev;
        ino_t ino;
        quint64 bytes;
        quint32 node;
    };

    // Takes over the names a scanning thread met, leaving `names` empty; any thread.
    void add(std::vector<Name>& names);

    // Once every folder is read, before the record is totalled up: adds each file's bytes
    // to the folder that holds one of its names and comes first in the order of a
    // depth-first walk, each folder's sub-folders taken in `order` (the file system's
    // for a size order, which is known only after). Folders above it then count it too,
    // the others holding its names do not.
    void countOnce(FolderRecord& record, ScanOptions::Order order);

private:
    std::mutex mutex_; // guards names_
    std::vector<Name> names_;
};
