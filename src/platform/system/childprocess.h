#pragma once

// kestrix-list's own process, kept apart from the one its caller waits on.
//
// A process cannot end while one of its threads is held in a call that a file server
// never answers (the kernel waits such a call out), so a tool whose scan is stuck
// there would keep its caller, a shell or a script, waiting after it stopped. The work
// is therefore done in a child process: the parent only waits for the child's exit
// status, passes on a termination request that did not come from the terminal (whose
// Ctrl+C reaches both), and ends as soon as the child has its status, whatever is still
// stuck in the child. A second request to the parent, or its end by SIGKILL, ends the
// child too. So does a request the child has not answered within a second (a child held
// where it cannot look, such as a write to a file server that stopped answering): the
// parent then ends with kInterruptedStatus.

// Call once, early in main(), before any thread is started. Returns in the child (or,
// when no child can be had, in this process); in the parent it does not return, but
// ends the process with the child's status.
void continueInChildProcess();

inline constexpr int kInterruptedStatus = 130;

// The child's last step: hands `status` to the waiting parent and lets go of the standard
// streams, so that a reader sees their end now. Returns `status`.
int childProcessDone(int status);
