#include "posixscan/vanishedfolders.h"

#include "posixscan/posixdirstack.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::function<void(int, const char*)> beforeOpen;

bool isGone(int error) {
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

bool tryOpen(DirStack& dirs, const char* name) {
    if (beforeOpen)
        beforeOpen(dirs.topFd(), name);
    return dirs.push(name);
}

} // namespace

bool openListedFolder(DirStack& dirs, const char* name) {
    if (tryOpen(dirs, name))
        return true;
    // Renamed away and back, it may well stand there again now.
    return isGone(errno) && tryOpen(dirs, name);
}

int openWayAgain(DirStack& dirs, int baseFd, dev_t baseDev, ino_t baseIno,
                 const std::vector<WayStep>& steps, int tries) {
    int error = ENOENT;
    for (int attempt = 0; attempt < tries; ++attempt) {
        dirs.clear();
        const int fd = ::fcntl(baseFd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return errno;
        dirs.adoptBase(fd, baseDev, baseIno);
        error = 0;
        for (const WayStep& step : steps) {
            if (!tryOpen(dirs, step.name)) {
                error = errno;
                break;
            }
            if (dirs.top().dev != step.dev || dirs.top().ino != step.ino) {
                error = ENOENT; // another folder stands there now
                break;
            }
        }
        if (error == 0)
            return 0;
        if (!isGone(error))
            break; // no right to look, no descriptor left: trying again changes nothing
    }
    dirs.clear();
    return error;
}

void setBeforeListedFolderOpen(std::function<void(int parentFd, const char* name)> hook) {
    beforeOpen = std::move(hook);
}
