#pragma once

#include "listing/filesysteminfo.h"

#include <QString>

#include <memory>

// The file-system service of this platform, one per listing run; shared with the thread
// that reads the tree, which may outlive the run.
std::shared_ptr<FileSystemInfo> createFileSystemInfo();

// The absolute form of a folder path, without "." and without a trailing separator unless
// it is a root. Links are left as they are, except that ".." goes up from where the path
// so far really leads, as the system resolves it (so the part before it is resolved).
// Empty when the current folder cannot be had for a relative path. May wait on the file
// system when the path holds "..".
NativePath absoluteFolderPath(const NativePath& path);

// 0 when the path names a folder that can be opened (following links, as a chosen folder
// may be one), however long the path; otherwise the system's reason: ENOENT or ENOTDIR
// when there is no such folder, anything else when it could not be looked at.
int folderOpenError(const NativePath& path);

// Whether the path names something (a link followed) that is not a folder.
bool isOtherThanFolder(const NativePath& path);

// Lets the process hold as many open descriptors as the system allows it: a deep tree
// is read with a chain of open folders.
void raiseDescriptorLimit();

// How many threads every later scan of this process runs: 0 (as at the start) lets each
// scan add threads while they wait on the file system; 1 to 64 fixes the number, for a
// user who knows the server. Set before any listing run starts.
void setScanThreads(int threads);
