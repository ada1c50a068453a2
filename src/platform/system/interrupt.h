#pragma once

// Turns the system's interrupt, termination and hangup requests (Ctrl+C, kill, a closed
// terminal) into a flag that a run polls, so that it can stop at its next check and still
// finish its file. A request the program was started deaf to stays unheard.
void installInterruptHandler();
bool interruptRequested();
