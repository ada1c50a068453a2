#pragma once

// Ends the window program on the system's termination, interrupt and hangup requests (a
// logout, kill, Ctrl+C in the terminal it was started from) as closing its windows does:
// a run in progress stops as on closing, and the program leaves nothing behind. A request
// the program was started deaf to stays unheard; a second one ends it at once. Call once,
// after the application object exists and before any window is shown.
void closeWindowsOnTermination();
