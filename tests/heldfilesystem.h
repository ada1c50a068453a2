#pragma once

#include "listing/filesysteminfo.h"
#include "posixscan/filesystem.h"

#include <QThread>

#include <atomic>
#include <memory>
#include <stop_token>

// The system's file system, whose reads wait until the test lets them go or the run is
// stopped: a run held at work, as on a slow share.
class HeldFileSystem final : public FileSystemInfo {
public:
    char separator() const override { return real_->separator(); }
    NativePath encodePath(const QString& path) const override { return real_->encodePath(path); }
    QString decodePath(const NativePath& path) const override { return real_->decodePath(path); }
    QString pathBelowRoot(const NativePath& path) const override {
        return real_->pathBelowRoot(path);
    }
    std::unique_ptr<RecordedFolders> recordedFolders(const TreeRead& read) override {
        hold(read.stop);
        return real_->recordedFolders(read);
    }
    bool listSubFolders(const TreeRead& read, const SubFolderRead& subFolder) override {
        hold(read.stop);
        return real_->listSubFolders(read, subFolder);
    }
    quint64 usedSpace(const NativePath& root) override { return real_->usedSpace(root); }
    int exhaustedResource() const override { return real_->exhaustedResource(); }

    std::atomic<bool> released = false;

private:
    void hold(const std::stop_token& stop) const {
        while (!released && !stop.stop_requested())
            QThread::msleep(1);
    }
    const std::shared_ptr<FileSystemInfo> real_ = createFileSystemInfo();
};
