#pragma once

#include <QtGlobal>

#include <vector>

class FolderRecord;

// A folder below which the tree loops back above it (a bind mount of a folder higher
// up) is counted as a scan begun at that folder counts it: on through the loop, until
// the way comes round to a folder it already went through. These figures are worked
// out from a record that has been totalled up, with no second pass over the disk.
//
// The folders that loop back must note the node they are again. `mountRoots` are the
// folders the scan entered that are the roots of mounts: below one, a folder may occur
// twice, and round a loop (a bind mount without the mounts below it) other sub-folders
// may show, so the record cannot tell what a scan would find there. Each folder so
// counted gets its figure and loses holdsLoop; one whose figure cannot be told from the
// record (a mount or an unread folder on its way, the top's hidden folders passed over,
// or more loops than are worth following) keeps holdsLoop, to be counted from itself.
void countLoopsFromEachFolder(FolderRecord& record, bool topReadWhole,
                              const std::vector<quint32>& mountRoots);
