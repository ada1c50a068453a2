#pragma once

#include "listing/filesysteminfo.h"

#include <QElapsedTimer>
#include <QLocale>

#include <optional>

class ListFileWriter;
class RunHost;
struct RunState;

// Writes the folder lines of one listing run, in either of its two forms.
class FolderWalk {
public:
    FolderWalk(RunState& state, FileSystemInfo& fileSystem, RunHost& host, ListFileWriter& out,
               const QLocale& locale);

    // With subs: the folder and every folder below it, depth first, one line each.
    void WalkFolder(const NativePath& folder);

    // No subs: one line for each visible folder directly inside the folder.
    void ListSubFolders(const NativePath& folder);

private:
    // `shownBelowRoot`: the path below its root as the line shows it, when the walk has
    // it at hand.
    void WriteFolderLine(const NativePath& folderWithSeparator,
                         QStringView shownBelowRoot = QStringView());
    void writeLine(QStringView namePart, QStringView sizeField);
    KeepGoing keepGoing();
    // Abort, a failed write or a file system out of resources: no more lines.
    bool cannotGoOn() const;
    bool stopped() const;
    NativePath withSeparator(const NativePath& folder) const;

    RunState& state_;
    FileSystemInfo& fileSystem_;
    RunHost& host_;
    ListFileWriter& out_;
    QString groupSeparator_;
    char separator_;
    // A scan's progress is shown at most this often.
    static constexpr qint64 kProgressIntervalMs = 100;
    QElapsedTimer sinceProgress_;
};
