#pragma once

#include "listing/filesysteminfo.h"
#include "listing/runhost.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <ostream>
#include <vector>

// An in-memory drive with Windows paths ("c:\work\docs"), so that reports can be checked
// against hand-made examples without touching the disk. Names are matched without regard
// to case; sub-folders come back in the order they were added.
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

    // Called on every size query with its keep-going callback, to act out a long query.
    std::function<void(const QString& folder, const KeepGoing&)> onSizeQuery;
    QStringList sizeQueries;

    char separator() const override { return '\\'; }
    NativePath encodePath(const QString& path) const override { return path.toUtf8(); }
    QString decodePath(const NativePath& path) const override { return QString::fromUtf8(path); }
    QString pathBelowRoot(const NativePath& path) const override;
    std::vector<NativePath> subFolders(const NativePath& folder, const KeepGoing&) override;
    std::vector<NativePath> visibleSubFolders(const NativePath& folder) override;
    std::optional<ByteTotal> folderSize(const NativePath& folder,
                                        const KeepGoing& keepGoing) override;
    quint64 usedSpace(const NativePath& root) override;

private:
    struct Node {
        QString name;
        Options options;
        std::vector<QString> children; // keys, in the order added
    };
    static QString keyOf(const QString& path);
    const Node* find(const NativePath& path) const;
    std::optional<quint64> sizeBelow(const Node& node) const;

    std::map<QString, Node> nodes_;
    quint64 usedSpace_ = 0;
};

// Records what a run shows, and lets a test act at a chosen event pump.
class RecordingHost final : public RunHost {
public:
    void setStatusText(const QString& text) override { statusTexts.append(text); }
    void pumpEvents() override {
        ++pumps;
        if (onPump)
            onPump(pumps);
    }

    QStringList statusTexts;
    int pumps = 0;
    std::function<void(int pump)> onPump;
};

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}
