#pragma once

#include "platform/dialogs.h"
#include "platform/diskinfo.h"

#include <memory>

// What the main window asks the system for besides files: where to list, where to write,
// whether there is room there, and how to tell the user about a failure.
struct OutsideControls {
    std::unique_ptr<FolderPicker> BrowseDialog1;
    std::unique_ptr<SaveDialog> CommonDialog1;
    std::unique_ptr<DiskInfo> DiskInfo1;
    std::unique_ptr<MessageBoxes> messageBoxes;
};

// The real dialogs of this platform.
OutsideControls createOutsideControls();
