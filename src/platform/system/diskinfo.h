#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

// The free-space figure of the file system that will hold a list file.
class DiskInfo {
public:
    virtual ~DiskInfo() = default;

    // KiB that the user may still write on the file system holding `folder`; 0 when that
    // file system is mounted read-only; nothing when the folder cannot be looked at.
    virtual std::optional<quint64> FreeSpace(const QString& folder) = 0;
};

std::unique_ptr<DiskInfo> createDiskInfo();
