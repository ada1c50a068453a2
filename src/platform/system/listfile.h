#pragma once

#include "platform/system/posixcore.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <thread>
#include <utility>

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

class ReplacementFile;

// A new list file made beside the old one by openReplacementAside(), before
// takeOverReplacement() makes it a ReplacementFile's. One never taken over is removed
// when it goes, the old list left as it was.
class OpenedReplacement {
public:
    OpenedReplacement() = default;
    OpenedReplacement(OpenedReplacement&& other) noexcept { *this = std::move(other); }
    OpenedReplacement& operator=(OpenedReplacement&& other) noexcept;
    ~OpenedReplacement();

private:
    friend OpenedReplacement openReplacementAside(const QByteArray& path);
    friend QString takeOverReplacement(ReplacementFile& file, OpenedReplacement opened);
    friend class ReplacementFile;
    void removeTemporary();

    Descriptor fd_;     // the new file; the old one when written in place
    Descriptor folder_; // holds name_; none when written in place
    QByteArray name_;
    QByteArray temporary_; // the new file's name in folder_ until commit; empty while it has none
    bool inPlace_ = false;
    QString why_;
};

// A list file written whole or not at all. The list is written into a new file in the
// folder that holds the old one (links to it followed, so a link stays a link), which
// commit() then renames over the old one: an interrupt, a full disk or a crash before that
// leaves the old list as it was, and a new list appears only then.
//
// Opened in two steps as a ListFile is, refusing the same paths: openReplacementAside() on
// any thread, then takeOverReplacement() on the thread that writes; written as any QFile;
// then commit() or abandon(), either of which may wait on the file system. The new file takes the
// old one's permission bits (0666 less the umask when there was none) but is the user's, and where
// the old file has other names (hard links) they keep the old list.
//
// A path reached through /proc (-o /dev/stdout) names a file open already, which has no
// name to rename over: that file is written in place from its start, commit() cutting off
// what is left of the old list after the new one, and abandon() leaving what was written.
class ReplacementFile : public QFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile() override { abandon(); }

    // Writes out what is buffered, syncs the file to the disk, puts it in the old one's
    // place and closes it. Returns an empty text, else the system's reason, the new file
    // then abandoned.
    QString commit();
    // Closes the file and removes it; the old list stays as it was. Does nothing once
    // committed.
    void abandon();
    // Abandons what is not committed.
    void close() override { abandon(); }
    bool inPlace() const { return place_.inPlace_; }

private:
    friend QString takeOverReplacement(ReplacementFile& file, OpenedReplacement opened);
    OpenedReplacement place_; // its descriptor is the QFile's
};

// Walks `path` as openListFileAside() does and makes the new file beside the old list, on
// any thread, waiting as long as the file system does; gives why not through
// takeOverReplacement().
OpenedReplacement openReplacementAside(const QByteArray& path);
// Makes the opened file `file`'s, on the caller's thread, abandoning any it had. Returns an
// empty text on success, else why the list file could not be opened.
QString takeOverReplacement(ReplacementFile& file, OpenedReplacement opened);
