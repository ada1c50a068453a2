#pragma once

class FolderRecord;

// A folder below which the tree loops back above it (a bind mount of a folder higher
// up) is counted as a scan begun at that folder counts it: on through the loop, until
// the way comes round to a folder it already went through. These figures are worked
// out from a record that has been totalled up, with no second pass over the disk.
//
// The record must hold each folder once, apart from the folders that loop back, and
// those must note the node they are again. Each folder so counted gets its figure and
// loses holdsLoop; one whose figure cannot be told from the record (part of it unread,
// the top's hidden folders passed over, or more loops than are worth following) keeps
// holdsLoop, to be counted from itself.
void countLoopsFromEachFolder(FolderRecord& record, bool topReadWhole);
