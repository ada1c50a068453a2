#pragma once

#include "posixscan/folderrecord.h"
#include "posixscan/linkedfiles.h"
#include "posixscan/posixfoldertree.h"

#include <QtGlobal>

#include <functional>
#include <utility>
#include <vector>

class DirStack;
struct stat;

// Reads the folders of one scanning thread into the record, one at a time: the bytes of
// the regular files directly inside (their lengths, or the space they take on disk) (the list file
// counted as empty) and a new node for each sub-folder, leaving out what the exclude patterns
// match.
class FolderReader {
public:
    // `keepOn` is asked now and then in a long folder; false stops the reading.
    FolderReader(ScanShared& shared, std::function<bool()> keepOn);

    // Notes the files and sub-folders of the deepest folder of `dirs` in node `index`; its
    // size is unknown when the folder could not be read whole, and then it is told of as
    // unreadable. `fromStart`: the folder may have been read through its descriptor
    // before. How many regular files it holds.
    quint64 read(const DirStack& dirs, quint32 index, bool fromStart);

private:
    // What a regular file adds to the folder's bytes now; a file with several names may be
    // set aside to be counted once.
    quint64 bytesOf(const struct stat& st, quint32 index);

    ScanShared& s_;
    FolderRecord& record_;
    FolderRecord::NameWriter names_;
    const std::function<bool()> keepOn_;
    std::vector<std::pair<quint32, quint16>> found_; // the sub-folders: name and length
    std::vector<LinkedFiles::Name> linked_;
};
