#pragma once

#include <QByteArray>

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <vector>

// A chain of open folders from a base folder down, each opened from the one above it by
// name and never through a symbolic link. Nothing below the base is opened by its full
// path, so paths of any length work, and a lookup costs one step instead of one per
// level. Only the deepest few folders keep a descriptor; the chain finds the ones above
// again through ".." when it climbs back to them.
class DirStack {
public:
    struct Frame {
        QByteArray name;
        dev_t dev = 0;
        ino_t ino = 0;
        int fd = -1;
    };

    DirStack() = default;
    DirStack(const DirStack&) = delete;
    DirStack& operator=(const DirStack&) = delete;
    ~DirStack();

    // Starts the chain at a folder given by its absolute path; links in that path are
    // followed, as the user chose it. On failure errno tells why and the chain is empty.
    bool openBase(const QByteArray& path);
    // Starts the chain at an already open folder (the descriptor is duplicated).
    bool adoptBase(int fd);

    // Opens a sub-folder of the deepest folder. On failure errno tells why and the
    // chain is unchanged.
    bool push(const QByteArray& name);
    // Closes the deepest folder. False when the one above it could not be found again
    // (the tree changed meanwhile); the chain is then empty.
    bool pop();
    void clear();

    std::size_t depth() const { return frames_.size(); }
    bool empty() const { return frames_.empty(); }
    const Frame& at(std::size_t index) const { return frames_[index]; }
    const Frame& top() const { return frames_.back(); }
    int topFd() const { return frames_.back().fd; }

    // The level of a folder with this device and inode among the first `levels` of
    // the chain: a folder met again on its own path is a loop.
    std::optional<std::size_t> find(dev_t dev, ino_t ino, std::size_t levels) const;

private:
    bool pushOpened(int fd, const QByteArray& name);

    // Plenty for ordinary trees, far below any descriptor limit.
    static constexpr std::size_t kMaxOpen = 48;
    std::vector<Frame> frames_;
    // Frames 1 .. firstOpen_-1 hold no descriptor; the base and all below those do.
    std::size_t firstOpen_ = 1;
};

// A stream over the entries of an open folder, from the first entry, that leaves `fd`
// itself open; nullptr when the folder cannot be read. Close it with closedir().
DIR* openFolderStream(int fd);
