#pragma once

#include "listing/filesysteminfo.h"

#include <memory>
#include <vector>

// What the save dialog and the folder picker ask the file system. They call these only
// from threads of their own, never from the window's: a call may wait for as long as a file server
// that has stopped answering likes, or never come back. Calls may run on several threads at once;
// an implementation keeps no state that they share, or guards it.
class SaveFileLookups {
public:
    struct Entry {
        NativePath name;     // as the system gives it
        bool folder = false; // a folder, or a link to one
    };
    struct Listing {
        int error = 0; // the system's error number when the folder could not be read
        std::vector<Entry> entries;
    };
    enum class Kind {
        Folder,   // a folder, or a link to one
        File,     // anything else that is there
        Missing,  // nothing by that name, in a folder that is there
        NoFolder, // the folder it would be in is not there, or not a folder
        Failed,   // the system would not tell (error holds why)
    };
    struct Facts {
        Kind kind = Kind::Failed;
        int error = 0;
    };

    virtual ~SaveFileLookups() = default;
    // The entries of `folder`, without "." and "..", in the system's order.
    virtual Listing read(const NativePath& folder) const = 0;
    // What the absolute `path` names; links are followed.
    virtual Facts lookUp(const NativePath& path) const = 0;
    // Makes the folder at the absolute `path`: 0, or the system's error number.
    virtual int makeFolder(const NativePath& path) const = 0;
};

// The system's own, through opendir, readdir, fstatat, stat and mkdir.
std::shared_ptr<const SaveFileLookups> systemSaveFileLookups();
