#pragma once

// Whether standard output and standard error are terminals, and how many columns the
// latter has (80 when unknown).
bool stdoutIsTerminal();
bool stderrIsTerminal();
int stderrColumns();
// Standard output is a pipe or a socket: what is written may reach a terminal by way of
// another program.
bool stdoutIsPipe();

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, before anything else
// can take its number (a list meant for standard output would land in whatever file got
// descriptor 1). Returns the closed ones, bit n for descriptor n. Called before Qt starts.
int openClosedStandardDescriptors();
