#pragma once

#include "listing/filesysteminfo.h"
#include "posixscan/folderrecord.h"

#include <QtGlobal>

#include <vector>

// Whether sub-folder `a` comes before `b` when ordered by name: by the bytes of the names,
// so that the order is the same in every locale.
bool comesFirstByName(const FolderRecord& record, const FolderRecord::Node& a,
                      const FolderRecord::Node& b);

// For each node, its place in a depth-first walk of the record from the top, each
// folder's sub-folders taken in the file system's order or, with Order::Name, by name.
std::vector<quint32> walkPlaces(const FolderRecord& record, ScanOptions::Order order);

// Puts each folder's sub-folders in `order`, moving the nodes within their run. For a
// totalled record whose loops are counted: it leaves the nodes of loops pointing where
// they pointed before.
void orderSubFolders(FolderRecord& record, ScanOptions::Order order);
