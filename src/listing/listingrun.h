#pragma once

#include "listing/filesysteminfo.h"
#include "listing/listfields.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QString>

#include <memory>
#include <stop_token>

class RunHost;

enum class ListMode { NoSubs, WithSubs };

struct ListRequest {
    // The folder to walk as the system names it, absolute, without a trailing separator
    // unless a root; the header shows it decoded.
    NativePath folder;
    QString headerText;
    ListMode mode = ListMode::NoSubs;
    ListFormat format = ListFormat::Report;
    QDate date = QDate::currentDate();
    QLocale locale = QLocale::system();
    ScanOptions scanOptions; // for each read of the tree
    // The folder as the user named it, which the lines for scripts begin with; empty: the
    // folder's path.
    NativePath namedAs;
};

struct ListOutcome {
    enum class Status {
        Written,      // the whole file, total line included (also after an Abort)
        CreateFailed, // the list file could not be created; nothing was walked
        WriteFailed,  // a write failed part way; the file holds what was written before
        // Descriptors or memory ran out: the file holds the lines written before, and no
        // total, as sizes from then on could fall short
        ResourcesRanOut,
    };
    Status status = Status::Written;
    QString errorString; // the system's reason when status is not Written
};

// The file steps of a listing run: the header lines, the folder lines of the walk, the
// hyphen rule and the total line, on the caller's thread (see ListingJob for a run of its
// own). The run goes on until a stop is asked for through `stop`: it then writes no line
// for the folder it is at, nor any after it, and ends the list with its total. It reads
// the folder only from the request. One run writes one list.
class ListingRun {
public:
    // The tree is read on a thread that shares `fileSystem` and may outlive the run
    // (see TreeScan); everything else happens on the caller's thread.
    ListingRun(std::shared_ptr<FileSystemInfo> fileSystem, RunHost& host,
               std::stop_token stop = {});

    // Creates the list file at `listFilePath` (replacing whatever is there, unchecked)
    // and writes it. The programs open theirs through the platform, which looks first at
    // what it would replace.
    ListOutcome createAndWrite(const QString& listFilePath, const ListRequest& request);
    // The same into the list file the caller has opened for writing from its start, as
    // the platform allows it to be opened.
    ListOutcome writeAndClose(QFileDevice& file, const ListRequest& request);

    // Writes the list into a device that is already open for writing.
    ListOutcome write(QFileDevice& file, const ListRequest& request);

    // The exact sum of the sizes on the folder lines written so far.
    ByteTotal ListTotal() const { return ListTotal_; }

private:
    // `listFile`: the handle of the file written, counted as empty in the sizes (-1: none).
    ListOutcome writeList(QFileDevice& file, const ListRequest& request, int listFile);

    ByteTotal ListTotal_ = 0;
    std::shared_ptr<FileSystemInfo> fileSystem_;
    RunHost& host_;
    std::stop_token stop_;
};
