#pragma once

#include "listing/filesysteminfo.h"
#include "listing/runhost.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <ostream>
#include <vector>

// An in-memory drive with Windows paths ("c:\work\docs"), so that reports can be checked
// against hand-made examples without touching the disk. Names are matched without regard
// to case; sub-folders come back in the order they were added. Its records are made on
// the engine's scanning thread, as the platform's are.
class FakeFileSystem final : public FileSystemInfo {
public:
    struct Options {
        quint64 fileBytes = 0;   // bytes of the files directly inside
        bool unreadable = false; // its size cannot be had, nor its ancestors'
        bool hidden = false;     // left out of the restricted listing
    };

    FakeFileSystem();
    void addFolder(const QString& path, Options options);
    void addFolder(const QString& path, quint64 fileBytes = 0) {
        addFolder(path, Options{fileBytes});
    }
    void setUsedSpace(quint64 bytes) { usedSpace_ = bytes; }

    // Called on the scanning thread before a tree is read and, in the restricted listing,
    // after each sub-folder listed, with how many were: to act out a slow file system.
    std::function<void(int listed)> onScan;

    char separator() const override { return '\\'; }
    NativePath encodePath(const QString& path) const override { return path.toUtf8(); }
    QString decodePath(const NativePath& path) const override { return QString::fromUtf8(path); }
    QString pathBelowRoot(const NativePath& path) const override;
    std::unique_ptr<RecordedFolders> recordedFolders(const TreeRead& read) override;
    bool listSubFolders(const TreeRead& read, const SubFolderRead& subFolder) override;
    quint64 usedSpace(const NativePath& root) override;

private:
    struct Node {
        QString name;
        Options options;
        std::vector<QString> children; // keys, in the order added
    };
    class Record;
    static QString keyOf(const QString& path);
    const Node* find(const NativePath& path) const;
    std::optional<quint64> sizeBelow(const Node& node) const;

    std::map<QString, Node> nodes_;
    quint64 usedSpace_ = 0;

public:
    std::atomic<int> scans = 0; // records asked for
};

// Records what a run shows, and lets a test act at the event pump of a chosen folder
// shown, or at the pumps while the run waits for the tree to be read.
class RecordingHost final : public RunHost {
public:
    void setStatusText(const QString& text) override {
        statusTexts.append(text);
        if (onShown)
            onShown(int(statusTexts.size()));
    }

    QStringList statusTexts;
    std::function<void(int shown)> onShown; // with how many folders were shown so far
};

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}
