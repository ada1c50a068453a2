#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A path as the platform's file calls take it. Names are kept exactly as the file
// system gives them, so folders whose names do not decode cleanly are still reached.
using NativePath = QByteArray;

// Byte counts that are summed: sizes and totals stay exact far past 64 bits (a few
// sparse files of 2^63 bytes would wrap a 64-bit sum).
using ByteTotal = unsigned __int128;

// Called now and then during a long size query; returning false cancels the query.
using KeepGoing = std::function<bool()>;

// How far a long size query has come.
struct ScanProgress {
    NativePath folder; // the folder being read, with a trailing separator; empty: none
    quint64 folders = 0;
    quint64 files = 0;
};

// What the scans of a run leave out, and whom they tell of what they cannot read. Set
// before the run; the window keeps the defaults.
struct ScanOptions {
    // Folders on another file system than the scanned folder's are passed over.
    bool oneFileSystem = false;
    // Shell patterns (fnmatch) matched against each folder's and file's own name: what
    // matches is neither listed nor counted. The scanned folder itself is not matched.
    std::vector<QByteArray> excludePatterns;
    // Told of each folder that could not be read, by its path and the system's error
    // number; the same folder may be told again. Called from the scanning threads, at
    // times from two at once.
    std::function<void(const NativePath& folder, int error)> unreadable;
};

// A folder's tree as one pass over it found it, stepped through folder by folder in the
// order of a depth-first walk, without asking the file system about each.
class RecordedFolders {
public:
    virtual ~RecordedFolders() = default;

    // To the next folder: the top first, then each folder's sub-folders in the file
    // system's order, each followed by all below it; or, for the restricted listing,
    // only the sub-folders. False once all were visited.
    virtual bool next() = 0;
    // The next step passes over what is below the folder stepped to last.
    virtual void skipBelow() = 0;
    // How many levels below the top the folder is; 0 for the top.
    virtual int depth() const = 0;
    // Its own name; empty for the top.
    virtual QByteArrayView name() const = 0;
    // Its size as folderSize() gives it; `folder` is its path.
    virtual std::optional<ByteTotal> size(const NativePath& folder, const KeepGoing& keepGoing) = 0;
};

// The file-system service of one listing run. The engine knows no path style: the
// separator, what a root is and how names decode all come from here.
class FileSystemInfo {
public:
    virtual ~FileSystemInfo() = default;

    virtual char separator() const = 0;

    virtual NativePath encodePath(const QString& path) const = 0;
    virtual QString decodePath(const NativePath& path) const = 0;
    // Appends a name as decodePath() shows it; once per folder of a listing, so a file
    // system may do it without a string of its own.
    virtual void appendDecoded(QString& text, QByteArrayView name) const {
        text += decodePath(NativePath(name.data(), name.size()));
    }

    // The path without its root ("c:\work\" gives "work\", "/srv/data/" gives "srv/data/");
    // empty for a root itself.
    virtual QString pathBelowRoot(const NativePath& path) const = 0;

    // The sub-folders of a folder in the file system's own order, hidden ones included.
    // Nothing when the folder cannot be read, or when `keepGoing` said to stop.
    virtual std::vector<NativePath> subFolders(const NativePath& folder,
                                               const KeepGoing& keepGoing) = 0;

    // The restricted listing: the folder's sub-folders that are not hidden.
    virtual std::vector<NativePath> visibleSubFolders(const NativePath& folder) = 0;

    // Bytes in all files below the folder at any depth; nothing when part of the tree
    // cannot be read or the query was cancelled.
    virtual std::optional<ByteTotal> folderSize(const NativePath& folder,
                                                const KeepGoing& keepGoing) = 0;

    // What a record of one pass covers: the whole tree from the folder down, or only
    // the folder's sub-folders that are not hidden (the restricted listing).
    enum class Scope { Tree, VisibleSubFolders };

    // The folder's tree, when one pass over it can answer for every folder asked about;
    // nullptr when it cannot, or when `keepGoing` said to stop. Valid until the next
    // question to the file system other than through it.
    virtual std::unique_ptr<RecordedFolders>
    recordedFolders(const NativePath& folder, const KeepGoing& keepGoing, Scope scope) {
        Q_UNUSED(folder);
        Q_UNUSED(keepGoing);
        Q_UNUSED(scope);
        return nullptr;
    }

    // Used space of the drive whose root is given; 0 when it cannot be had.
    virtual quint64 usedSpace(const NativePath& root) = 0;

    // The list file being written, by its handle (-1: none). What it holds is the run's
    // own output, so it counts as empty in the sizes of the folders that hold it.
    virtual void setListFile(int /*handle*/) {}

    // Holds for every scan from now on.
    virtual void setScanOptions(const ScanOptions& options) { Q_UNUSED(options); }

    // For keepGoing to show while a size query works.
    virtual ScanProgress scanProgress() const { return {}; }

    // The error with which the system ran out of descriptors or memory (EMFILE, ENFILE,
    // ENOMEM) under a query, or 0. Once it is set, answers may be short of what is on
    // the disk, and the run cannot go on.
    virtual int exhaustedResource() const { return 0; }
};
