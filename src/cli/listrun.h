#pragma once

#include "cli/clioptions.h"

// kestrix-list FOLDER: writes the list to standard output or the -o file. Returns the
// exit status: 0, 1 when the list could not be written whole, 2 for a FOLDER that is no
// folder, 3 when some folders could not be read, 130 when interrupted (the list ends
// with the total of its lines). `closedAtStart` as openClosedStandardDescriptors() gave it.
int listMain(const CliOptions& options, int closedAtStart);
