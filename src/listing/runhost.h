#pragma once

#include <QString>

// What a listing run tells whatever drives it: the folder being worked on, and how a scan
// comes on. Everything here is called on the run's thread; a stop comes to the run by its
// stop token instead.
class RunHost {
public:
    virtual ~RunHost() = default;
    virtual void setStatusText(const QString& text) = 0;
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
