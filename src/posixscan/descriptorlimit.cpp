#include "posixscan/descriptorlimit.h"

#include "platform/system/posixcore.h"

#include "posixscan/filesystem.h"
#include "posixscan/posixdirstack.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The descriptors open now: listed by the kernel where it can, else looked for one by one
// up to a bound.
std::size_t openDescriptors(rlim_t limit) {
    const Descriptor fd(::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        std::size_t count = 0;
        FolderEntries entries(fd.get(), false);
        while (entries.next())
            ++count;
        return count > 0 ? count - 1 : 0; // not the one that read them
    }
    std::size_t count = 0;
    const int bound = int(std::min<rlim_t>(limit, 4096));
    for (int i = 0; i < bound; ++i)
        count += ::fcntl(i, F_GETFD) != -1 ? 1 : 0;
    return count;
}

} // namespace

void raiseDescriptorLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::size_t descriptorsLeft() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::size_t(-1) / 2;
    const std::size_t open = openDescriptors(limit.rlim_cur);
    return limit.rlim_cur > open ? std::size_t(limit.rlim_cur - open) : 0;
}
