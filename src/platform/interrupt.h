#pragma once

// Turns the system's interrupt and termination requests (Ctrl+C, kill) into a flag that
// a run polls, so that it can stop at its next check and still finish its file.
void installInterruptHandler();
bool interruptRequested();
