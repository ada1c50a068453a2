#pragma once

#include <QString>

// What a listing run needs from whatever drives it: somewhere to show the folder being
// worked on, and whether to go on. Everything here is called on the run's thread.
class RunHost {
public:
    virtual ~RunHost() = default;
    virtual void setStatusText(const QString& text) = 0;
    // Asked at each folder; false once the run is to stop (Abort, closing, an interrupt).
    // The run then writes no line for the folder it is at, nor any after it.
    virtual bool pumpEvents() = 0;
    // The folder a scan is reading (shown as the walk shows folders), with the folders
    // and files it has counted so far; called on the run's thread, a few times a second.
    virtual void showScanProgress(const QString& folder, quint64 folders, quint64 files) {
        Q_UNUSED(folders);
        Q_UNUSED(files);
        setStatusText(folder);
    }
    // True when the stop is the program closing: the list then ends with the lines
    // finished, without its hyphen rule and total.
    virtual bool closing() const { return false; }
};
