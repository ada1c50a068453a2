#pragma once

#include "cli/clioptions.h"

// kestrix-list --compare=EARLIER: reads the earlier list, then matches a new list of
// FOLDER (in the earlier list's mode, never written out) or the list file LATER against
// it, and writes the comparison to standard output or the -o file. Returns the exit
// status: 0, 1 when the comparison could not be written or the scan ran out of resources,
// 2 for a usage error or a file that is not a whole list (nothing written then), 3 when
// some sizes were blank, 130 when interrupted (nothing written). `closedAtStart` as
// openClosedStandardDescriptors() gave it.
int compareMain(const CliOptions& options, int closedAtStart);
