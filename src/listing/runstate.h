#pragma once

#include "listing/filesysteminfo.h"

#include <QString>

// The state of listing runs, owned by whoever drives them (the main window or the
// command-line tool) and shared with the engine while a run works.
struct RunState {
    QString ListFolder;   // the chosen folder, absolute, without a trailing separator unless a root
    QString ListFilePath; // the list file the next run writes; empty: none chosen
    QString ViewFilePath; // the list file View list opens
    bool RunActive = false;
    bool AbortRequested = false;
    ByteTotal ListTotal = 0; // exact running total of the sizes written on folder lines
};
