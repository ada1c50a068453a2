#pragma once

// Whether standard output and standard error are terminals, and how many columns the
// latter has (80 when unknown).
bool stdoutIsTerminal();
bool stderrIsTerminal();
int stderrColumns();
