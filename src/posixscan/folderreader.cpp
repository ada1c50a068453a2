#include "posixscan/folderreader.h"

#include "posixscan/posixdirstack.h"
#include "posixscan/scanshared.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

FolderReader::FolderReader(ScanShared& shared, std::function<bool()> keepOn)
    : s_(shared), record_(shared.record), names_(shared.record), keepOn_(std::move(keepOn)) {}

quint64 FolderReader::read(const DirStack& dirs, quint32 index, bool fromStart) {
    const int fd = dirs.topFd();
    FolderEntries entries(fd, fromStart);
    ByteTotal bytes = 0;
    quint64 files = 0;
    bool readable = true;
    int error = 0; // why an entry could not be looked at
    const bool excluding = !s_.exclude.empty();
    QByteArray path = excluding ? s_.exclude.pathFor(dirs.pathBelowBase('/')) : QByteArray();
    found_.clear();
    unsigned read = 0;
    while (entries.next()) {
        // A folder of a million files takes a while too.
        if (++read % 1024 == 0 && !keepOn_()) {
            readable = false;
            break;
        }
        const char* name = entries.name();
        if (excluding && s_.exclude.matches(path, name))
            continue;
        bool folder = entries.type() == DT_DIR;
        if (entries.type() == DT_REG || entries.type() == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISREG(st.st_mode)) {
                    if (!s_.isListFile(st))
                        bytes += bytesOf(st, index);
                    ++files;
                }
                folder = S_ISDIR(st.st_mode);
            } else if (errno != ENOENT) { // a file that vanished meanwhile is simply gone
                error = errno;
                if (isExhaustion(error))
                    s_.fail(error);
                readable = false;
            }
        }
        if (folder) {
            const auto length = quint16(std::strlen(name));
            found_.push_back({names_.add(name, length), length});
        }
    }
    if (entries.failed()) {
        error = entries.error();
        if (isExhaustion(error))
            s_.fail(error);
    }
    if (error != 0 && !isExhaustion(error))
        s_.unreadable(dirs.pathBelowBase('/'), error);
    const quint32 first = record_.addNodes(quint32(found_.size()));
    for (std::size_t i = 0; i < found_.size(); ++i) {
        FolderRecord::Node& child = record_.node(first + quint32(i));
        child = FolderRecord::Node();
        child.nameAt = found_[i].first;
        child.nameLength = found_[i].second;
    }
    FolderRecord::Node& node = record_.node(index);
    node.setBytes(bytes);
    node.sizeKnown = readable && !entries.failed();
    node.firstChild = first;
    node.childCount = quint32(found_.size());
    if (!linked_.empty())
        s_.linked.add(linked_);
    return files;
}

quint64 FolderReader::bytesOf(const struct stat& st, quint32 index) {
    const ScanOptions& options = s_.settings.options;
    const quint64 bytes = options.diskUsage ? quint64(st.st_blocks) * 512 : quint64(st.st_size);
    if (!options.linksOnce || st.st_nlink < 2)
        return bytes;
    linked_.push_back({st.st_dev, st.st_ino, bytes, index}); // counted once the tree is read
    return 0;
}
