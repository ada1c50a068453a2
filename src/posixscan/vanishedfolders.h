#pragma once

#include <sys/types.h>

#include <functional>
#include <vector>

class DirStack;

// A tree may change while it is scanned: a folder listed in its parent may be gone by
// the time the scan opens it, or be renamed away and back (as an editor or a sync tool
// does) while the scan goes down to it or climbs back out of it. Such a folder is looked
// for once more before the scan gives it up; given up, it is told of as a folder that
// could not be read, never left out or sized in silence.

// One folder on a way down from the base of a chain: its name, and what it must be.
struct WayStep {
    const char* name;
    dev_t dev;
    ino_t ino;
};

// Opens the sub-folder `name` of the chain's deepest folder, and, when it is gone or no
// folder any more (ENOENT, ENOTDIR, ELOOP), once more. On failure errno tells why of the
// last try and the chain is unchanged.
bool openListedFolder(DirStack& dirs, const char* name);

// Starts `dirs` again at a copy of `baseFd`, and goes down by the steps' names, each
// folder checked to be the very one it was. Tries `tries` times in all. 0 when the chain
// stands; otherwise the error of the last try (ENOENT where another folder stands in the
// place of one), the chain then empty.
int openWayAgain(DirStack& dirs, int baseFd, dev_t baseDev, ino_t baseIno,
                 const std::vector<WayStep>& steps, int tries);

// For tests: called with the parent's descriptor and the name just before each open of a
// listed sub-folder, so that a test can move it away as another program would. Only set
// while no scan is at work.
void setBeforeListedFolderOpen(std::function<void(int parentFd, const char* name)> hook);
