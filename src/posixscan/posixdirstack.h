#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <vector>

// A chain of open folders from a base folder down, each opened from the one above it by
// name and never through a symbolic link. Nothing below the base is opened by its full
// path, so paths of any length work, and a lookup costs one step instead of one per
// level. Only the deepest few folders keep a descriptor; the chain finds the ones above
// again through ".." when it climbs back to them. The names on the way share one buffer.
class DirStack {
public:
    struct Frame {
        dev_t dev = 0;
        ino_t ino = 0;
        int fd = -1;
        qsizetype nameAt = 0; // where its name starts in the buffer of names
        // The root of a mount, or a folder the system could not say is none.
        bool mountRoot = true;
    };

    DirStack() = default;
    DirStack(const DirStack&) = delete;
    DirStack& operator=(const DirStack&) = delete;
    ~DirStack();

    // Starts the chain at a folder given by its absolute path; links in that path are
    // followed, as the user chose it. On failure errno tells why and the chain is empty.
    bool openBase(const QByteArray& path);
    // Starts the chain at an open folder whose device and inode are known; the chain
    // takes the descriptor over.
    void adoptBase(int fd, dev_t dev, ino_t ino);

    // Opens a sub-folder of the deepest folder. On failure errno tells why and the
    // chain is unchanged.
    bool push(const QByteArray& name) { return push(name.constData()); }
    bool push(const char* name);
    // Closes the deepest folder. False when the one above it could not be found again
    // (it was moved or removed meanwhile, or no descriptor was left: errno tells); the
    // chain is then empty.
    bool pop();
    void clear();

    std::size_t depth() const { return frames_.size(); }
    bool empty() const { return frames_.empty(); }
    const Frame& at(std::size_t index) const { return frames_[index]; }
    const Frame& top() const { return frames_.back(); }
    int topFd() const { return frames_.back().fd; }
    // The name a frame was opened by; empty for the base.
    QByteArrayView name(std::size_t index) const;
    // The names from below the base down to the deepest folder, each followed by
    // `separator`.
    QByteArray pathBelowBase(char separator) const;

    // How many descriptors the chain keeps open at the most, the base included (at least
    // 2; one more is open for a moment while it moves). Applies from the next push on.
    void setMaxOpen(std::size_t maxOpen);

    // The level of a folder with this device and inode among the first `levels` of
    // the chain: a folder met again on its own path is a loop.
    std::optional<std::size_t> find(dev_t dev, ino_t ino, std::size_t levels) const;

private:
    bool pushOpened(int fd, QByteArrayView name);
    void addFrame(const Frame& frame);
    // Whether `fd` is the very folder of frame `index`.
    bool isFrame(int fd, std::size_t index) const;
    // Frame `index` opened again from the base, by the names on the way; -1 if gone.
    int reopenByNames(std::size_t index) const;

    // Plenty for ordinary trees, far below any usual descriptor limit.
    std::size_t maxOpen_ = 48;
    std::vector<Frame> frames_;
    QByteArray names_; // each name with its NUL, as openat() takes it
    // Frames 1 .. firstOpen_-1 hold no descriptor; the base and all below those do.
    std::size_t firstOpen_ = 1;
};

// Opens the folder at a path of any length, relative to the current folder unless it
// begins with "/", following links as a path chosen by the user may hold them. `access`
// is O_RDONLY, or O_PATH when the folder need not be readable. -1 with errno set when it
// cannot be opened.
int openFolderPath(const QByteArray& path, int access);

// The entries of an open folder, read straight through its descriptor, "." and ".."
// left out. The descriptor stays open and is not duplicated.
class FolderEntries {
public:
    // `fromStart`: the folder may have been read through this descriptor before.
    FolderEntries(int fd, bool fromStart);
    FolderEntries(const FolderEntries&) = delete;
    FolderEntries& operator=(const FolderEntries&) = delete;
    ~FolderEntries();

    // Moves to the next entry; false at the end, or when reading failed (see failed()).
    bool next();
    const char* name() const { return name_; }
    // DT_DIR, DT_REG, DT_LNK... or DT_UNKNOWN when the file system does not say.
    unsigned char type() const { return type_; }
    bool failed() const { return failed_; }
    // errno of the failed read.
    int error() const { return error_; }

private:
    int fd_;
    const char* name_ = nullptr;
    unsigned char type_ = DT_UNKNOWN;
    bool failed_ = false;
    int error_ = 0;
#if defined(__linux__)
    long filled_ = 0;
    long position_ = 0;
    alignas(8) char buffer_[32 * 1024];
#else
    DIR* stream_ = nullptr;
#endif
};
