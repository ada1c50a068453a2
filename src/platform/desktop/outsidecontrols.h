#pragma once

#include "platform/desktop/dialogs.h"
#include "platform/desktop/instancelink.h"
#include "platform/desktop/soundoutput.h"
#include "platform/system/diskinfo.h"

#include <QString>

#include <memory>

// What the windows ask the system for besides files: where to list, where to write,
// whether there is room there, how to tell the user about a failure, where the program
// is installed, whether a copy of it already runs, and how to play its sound.
struct OutsideControls {
    std::unique_ptr<FolderPicker> BrowseDialog1;
    std::unique_ptr<SaveDialog> CommonDialog1;
    // Shared: a question to it that does not come back is left to a thread that keeps it.
    std::shared_ptr<DiskInfo> DiskInfo1;
    std::unique_ptr<MessageBoxes> messageBoxes;
    // The folder that holds the program, without a trailing separator but for the root.
    QString programFolder;
    std::unique_ptr<InstanceLink> instances;
    std::unique_ptr<SoundOutput> sound;
};

// The real ones of this platform.
OutsideControls createOutsideControls();
