#pragma once

#include <QString>

// Opens a file in the desktop's own application for it (for a text file, the text
// editor), in a window of its own, without waiting. The path goes over as one
// argument, never through a shell. False when nothing could be started.
bool openInDesktopApplication(const QString& filePath);

// Opens a web address in the desktop's browser, likewise.
bool openWebPage(const QString& address);

// True when the path names an ordinary file that is not hidden.
bool isOrdinaryFile(const QString& path);
