#pragma once

#include "listing/filesysteminfo.h"

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
    void WriteFolderLine(const NativePath& folderWithSeparator);
    void writeLine(const QString& namePart, const QString& sizeField);
    KeepGoing keepGoing();
    bool stopped() const;
    NativePath withSeparator(const NativePath& folder) const;

    RunState& state_;
    FileSystemInfo& fileSystem_;
    RunHost& host_;
    ListFileWriter& out_;
    QLocale locale_;
    char separator_;
};
