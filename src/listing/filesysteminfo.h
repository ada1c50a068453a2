#pragma once

#include "listing/pathstyle.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// Byte counts that are summed: sizes and totals stay exact far past 64 bits (a few
// sparse files of 2^63 bytes would wrap a 64-bit sum).
using ByteTotal = unsigned __int128;

// How far the reading of a tree has come.
struct ScanProgress {
    NativePath folder; // the folder being read, with a trailing separator; empty: none
    quint64 folders = 0;
    quint64 files = 0;
};

// What the scans of a run leave out, and whom they tell of what they cannot read; the
// window keeps the defaults.
struct ScanOptions {
    // Folders on another file system than the scanned folder's are passed over.
    bool oneFileSystem = false;
    // Shell patterns (fnmatch, '\' escaping) matched as du --exclude matches them: against
    // each folder's and file's path from the scanned folder's own name down ("work/a/f"
    // for a file f below "/home/work/a"), and against each end of it after a '/'; '*'
    // matches a '/' and a leading '.' too. What matches is neither listed nor counted;
    // the scanned folder itself too, and then nothing is listed.
    std::vector<QByteArray> excludePatterns;
    // What a regular file adds to its folders: its length, or the space it takes on disk.
    bool diskUsage = false;
    // A file with several names in the tree is counted once, in the folder that comes
    // first in the order of the list (for a size order: in the file system's order), and
    // in all the folders above that one; the others leave it out.
    bool linksOnce = false;
    // The order of each folder's sub-folders: the file system's; biggest first (equal
    // sizes in the file system's order, unknown sizes last); or by the bytes of their names.
    enum class Order { FileSystem, Size, Name };
    Order order = Order::FileSystem;
    // Told of each folder that could not be read, or that was gone when the scan came to
    // it, by its path and the system's error number; the same folder may be told again.
    // Called from the scanning threads, at times from two at once.
    std::function<void(const NativePath& folder, int error)> unreadable;
};

// A folder's tree as one pass over it found it, stepped through folder by folder in the
// order of a depth-first walk. Nothing here touches the file system: the pass is over.
class RecordedFolders {
public:
    virtual ~RecordedFolders() = default;

    // To the next folder: the top first, then each folder's sub-folders in the order
    // the scan options ask, each followed by all below it; or, for the restricted listing,
    // only the sub-folders. False once all were visited.
    virtual bool next() = 0;
    // The next step passes over what is below the folder stepped to last.
    virtual void skipBelow() = 0;
    // How many levels below the top the folder is; 0 for the top.
    virtual int depth() const = 0;
    // Its own name; empty for the top.
    virtual QByteArrayView name() const = 0;
    // Bytes in all files below it at any depth; nothing when part of its tree could not
    // be read.
    virtual std::optional<ByteTotal> size() const = 0;
};

// Everything one read of a tree needs.
struct TreeRead {
    NativePath folder;
    ScanOptions options;
    // The list file being written, by its handle (-1: none). What it holds is the run's
    // own output, so it counts as empty in the sizes of the folders that hold it.
    int listFile = -1;
    // A stop is asked for through it, from any thread, and any thread of the read may look
    // at it; the read then returns soon.
    std::stop_token stop;
};

// Where the trees of one listing run come from. The engine reads a tree only in one pass,
// through recordedFolders() or listSubFolders(), and only on a thread of its own: the
// thread that asked for the listing never waits on the file system, so it can always
// take a stop. The order of calls in a run:
//   1. recordedFolders() or listSubFolders(), once, on the engine's scanning thread,
//      which holds a shared_ptr to this source for as long as the call lasts;
//      meanwhile the asking thread may call scanProgress() and exhaustedResource();
//   2. once the record is handed over: usedSpace() for a root, exhaustedResource(), on
//      the asking thread.
// Should a call of the file system never come back, the engine does not wait for it: the
// asking thread goes on and drops its own reference, and the scanning thread drops this
// source and whatever it made when the call comes back at last. What it finds then is
// read by no one. The progress never touches the file system and may be asked for from
// any thread at any time.
class TreeSource {
public:
    virtual ~TreeSource() = default;

    // Reads the folder's tree in one pass, hidden folders included. In the record:
    // - a folder that cannot be read, whole or in part, is there without a size, and so
    //   are the folders above it; a chosen folder that cannot be opened is a record of
    //   that one folder without a size;
    // - a folder that is gone or no folder any more when the pass comes to open it, or
    //   that the pass cannot find again on its way down to it or back up to it (moved
    //   away meanwhile), is looked for once more by its name; not found again, it is
    //   told of as unreadable and is there without a size. One that vanishes while it
    //   is read keeps what was read;
    // - a folder reached again below itself (a loop) is not there, and a folder above
    //   such a loop has the size counted from itself, as if it had been chosen;
    // - a folder of a kernel file system holds nothing on a drive: it is not there;
    // - a chosen folder that the exclude patterns match is not there: nothing is.
    // Nothing when a stop was asked for, or when the system ran out of descriptors or
    // memory: then exhaustedResource() says so, and the source is done with, as any answer
    // from it could fall short.
    virtual std::unique_ptr<RecordedFolders> recordedFolders(const TreeRead& read) = 0;

    // Called on the scanning thread with a sub-folder's name and the size of its tree.
    using SubFolderRead = std::function<void(QByteArrayView name, std::optional<ByteTotal> size)>;

    // The restricted listing, in the same one pass: `subFolder` is called for each of the
    // folder's sub-folders that is not hidden, in the order the scan options ask; in the
    // file system's order as soon as its tree and those of the ones before it are read,
    // in any other once all are read. Sizes and what is left out follow
    // recordedFolders(). Nothing is listed when the folder cannot be opened. False when
    // a stop was asked for or resources ran out; what was listed before stands.
    virtual bool listSubFolders(const TreeRead& read, const SubFolderRead& subFolder) = 0;

    // Used space of the drive whose root is given; 0 when it cannot be had.
    virtual quint64 usedSpace(const NativePath& root) = 0;

    // How far the pass over a tree has come; nothing when no call is at work.
    virtual ScanProgress scanProgress() const { return {}; }

    // The error with which the system ran out of descriptors or memory (EMFILE, ENFILE,
    // ENOMEM), or 0.
    virtual int exhaustedResource() const { return 0; }
};

// The file-system service of one listing run: its trees and how their paths are written.
// The engine knows no path style: the separator, what a root is, how names decode and
// what is hidden all come from here. Its path style may be asked from any thread at any
// time; its tree source as TreeSource says.
class FileSystemInfo : public PathStyle, public TreeSource {};
