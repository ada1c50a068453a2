#pragma once

#include "posixscan/folderrecord.h"
#include "posixscan/posixdirstack.h"
#include "posixscan/posixfoldertree.h"

#include <QByteArray>

#include <cstddef>
#include <vector>

struct Job;
struct ScanShared;

// Where one scanning thread is in the tree: its chain of open folders from the top down,
// and at each level the sub-folders it has still to enter. A folder on the way may be
// moved meanwhile; the way is then found again by the names (see vanishedfolders.h).
class ScanWay {
public:
    struct Level {
        quint32 node;
        quint32 next; // the sub-folders next .. end-1 are still to be entered
        quint32 end;
        FolderTree::FolderId id; // what the folder was when entered, to find it again
    };

    // The chain keeps `maxOpen` descriptors open at the most.
    ScanWay(ScanShared& shared, std::size_t maxOpen);

    // Starts the chain at a copy of the top's descriptor; false when none is had (the
    // scan then stops).
    bool openBase();
    // Goes down to the job's folder, each step checked against what the thread that gave
    // it found there; once more when a folder on it was moved meanwhile. False when that
    // fails: the job's sub-folders then have no size, and its sub-folder of the top is let go.
    bool startJob(const Job& job);
    // The way back up is gone (`error`: why); false when it cannot be found again.
    bool foundAgain(int error);

    DirStack dirs;
    std::vector<Level> levels; // one for each folder of dirs
    std::size_t floor = 0;     // the level of the folder the job is in
    quint64 opened = 0;        // folders opened on ways down to jobs, counted up

private:
    bool openWayDown(const Job& job);
    // Goes down to the job's folder from where the chain stands.
    bool goFromHere(const Job& job);
    // Opens the chain again from the top by the names of the levels; 0, or the error.
    int reopen(int tries);
    // The path of the folder of level `level` below the top, each name followed by "/".
    QByteArray pathBelowTop(std::size_t level) const;

    ScanShared& s_;
    FolderRecord& record_;
};
