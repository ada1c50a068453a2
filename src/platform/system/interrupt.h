#pragma once

#include <chrono>
#include <csignal>
#include <sys/types.h>

// Turns the system's interrupt, termination and hangup requests (Ctrl+C, kill, a closed
// terminal) into a flag that a run polls, so that it can stop at its next check and still
// finish its file. A second request ends the program at once, should the first not be
// heard soon. A request the program was started deaf to stays unheard. Called before
// anything else runs: a request that comes before it would end the program at once, and
// one already waiting (started with the signals blocked) is heard when it returns.
void installInterruptHandler();
// True once any request came, at whatever moment since the handler was installed.
bool interruptRequested();
// Hands a request on to another process of this program, marked so that it counts there
// as the same request, not a second one: the sender may have sent it to both.
void passRequestOn(pid_t to, int signal);
// For signal handlers: whether the request is one handed on so.
bool isPassedOn(const siginfo_t& info);

// One event often comes as several signals: to a process and to its group (timeout,
// kill of a job), from the shell and from the kernel on a hang-up. Requests that come
// within this time of the first are that same request; a later one is the user's second.
inline constexpr std::chrono::milliseconds kSameRequestWithin{1000};
// For signal handlers: notes a request, and says whether it is a second one.
bool isSecondRequest();
// Ends the process by `signal`, as if no handler had been installed (from a handler: as
// soon as it returns).
void endByDefault(int signal);
