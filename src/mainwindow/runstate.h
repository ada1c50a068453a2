#pragma once

#include "listing/filesysteminfo.h"

#include <QString>

// The window's state of listing runs, held for the life of the main window. The engine
// sees none of it: the folder goes to it in the request, and a stop as the answer of
// the window's event pump.
struct RunState {
    QString ListFolder;   // the chosen folder, absolute, without a trailing separator unless a root
    QString ListFilePath; // the list file the next run writes; empty: none chosen
    QString ViewFilePath; // the list file View list opens
    bool RunActive = false;
    bool AbortRequested = false;
    ByteTotal ListTotal = 0; // exact total of the sizes written on the last run's folder lines
};
