#pragma once

#include "listing/filesysteminfo.h"
#include "listing/listingrun.h"

#include <QElapsedTimer>
#include <QLocale>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class ListFileWriter;
class RunHost;

// Writes the folder lines of one listing run, in either of its two forms, from the record
// of one pass over the tree. The tree is read on a thread of its own (see TreeScan); this
// thread only waits for it, letting events through.
class FolderWalk {
public:
    // `total` gets the size of each folder line written added to it. `read`: what the
    // read of the tree takes besides its folder and its stop. `namedAs`: the folder as the
    // lines for scripts begin with it (the folder as the user gave it); empty: its path.
    FolderWalk(ByteTotal& total, std::shared_ptr<FileSystemInfo> fileSystem, RunHost& host,
               std::stop_token stop, ListFileWriter& out, const QLocale& locale,
               ListFormat format = ListFormat::Report, TreeRead read = {}, NativePath namedAs = {});

    // With subs: the folder and every folder below it, depth first, one line each.
    void WalkFolder(const NativePath& folder);

    // No subs: one line for each visible folder directly inside the folder.
    void ListSubFolders(const NativePath& folder);

private:
    // Shows the folder the walk is at; false when the run cannot go on.
    bool showFolder(const QString& shown);
    void walkRecorded(RecordedFolders& recorded, NativePath& path, QString& shown,
                      qsizetype rootLength);
    // The folder of the restricted listing being listed: its path and the status text,
    // each the listed folder's and then the name.
    struct Listed {
        NativePath path;
        QString status;
        qsizetype pathNameLength = 0;
        qsizetype statusNameLength = 0;
    };
    // One line of the restricted listing; false once the run cannot go on.
    bool listSubFolder(QByteArrayView name, const std::optional<ByteTotal>& size, Listed& listed);
    // Appends the name as shown: decoded, in lower case.
    void appendLowered(QString& shown, QByteArrayView name) const;
    // The path below its root as lines show it; null when it is not at hand.
    static QStringView shownBelow(const QString& shown, qsizetype rootLength);
    // `shownBelowRoot`: the folder's text on its line (the path below its root, or the
    // name in the restricted listing), when the walk has it at hand.
    void WriteFolderLine(const std::optional<ByteTotal>& size,
                         const NativePath& folderWithSeparator, QStringView shownBelowRoot);
    // The line for scripts: the size, a tab and the folder as named, joined with the bytes
    // of the path past recordSkip_.
    void writeRecord(const std::optional<ByteTotal>& size, const NativePath& folder);
    // While the tree is read: its progress shown now and then, finished lines written,
    // and the wait given up once the walk cannot go on.
    void whileWaiting();
    // A stop, a failed write or a file system out of resources: no more lines. A stop
    // asked for while a folder's line is made holds back that line too.
    bool cannotGoOn() const;
    NativePath withSeparator(const NativePath& folder) const;
    // Where the lines for scripts take their paths from, before the first of them.
    void startRecords(const NativePath& folderWithSeparator);

    ByteTotal& total_;
    std::shared_ptr<FileSystemInfo> fileSystem_;
    RunHost& host_;
    // The run's stop, and the walk's own reasons to stop (a failed write): what the
    // waits on the scan end by.
    std::stop_source stop_;
    const std::stop_callback<std::function<void()>> passStopOn_;
    ListFileWriter& out_;
    QString groupSeparator_;
    char separator_;
    const ListFormat format_;
    const TreeRead read_;
    // Lines for scripts put namedAs_ in place of this many leading bytes of a folder's
    // path: the walked or listed folder's, with its separator.
    NativePath namedAs_;
    qsizetype recordSkip_ = 0;
    bool topIsRoot_ = false; // a root has no line of its own
    NativePath record_;
    NativePath path_; // the path on the line for scripts, made over for each
    // A scan's progress is shown at most this often.
    static constexpr qint64 kProgressIntervalMs = 100;
    QElapsedTimer sinceProgress_;
};
