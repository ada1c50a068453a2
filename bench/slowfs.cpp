// kestrix-slowfs: shows a folder tree read-only at a mount point, as a slow file server
// would, for measuring and trying kestrix-list on a share.
//
//   kestrix-slowfs [--delay-us N] [--no-cache] [--hang REL [--release-file FILE]]
//                  [--threads N] [--foreground] [--debug] TREE MOUNTPOINT
//
// Every call that asks something of the tree (getattr, readlink, opendir, readdir, open,
// read, statfs, access) first waits --delay-us microseconds, as a round trip to a server
// does. --no-cache turns the kernel's entry and attribute caching off, so every lookup
// reaches us, as on a share mounted without caching.
//
// --hang REL makes the folder REL (relative to TREE) and everything below it stop
// answering: its calls wait until the process gets SIGUSR1, FILE appears, or the file
// system is unmounted or told to end (SIGINT, SIGTERM, SIGHUP). Once let go, the calls
// answer as the tree does. REL must be a folder of TREE for lookups to reach it.
//
// Without --foreground the process goes to the background once the mount is in place,
// so a script can use the mount as soon as this returns. Unmount with
// `fusermount3 -u MOUNTPOINT` (or `umount MOUNTPOINT` as root).

#define FUSE_USE_VERSION 312

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <getopt.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct Settings {
    long delayUs = 0;
    bool noCache = false;
    std::string hang;        // "/REL", empty when nothing hangs
    std::string releaseFile; // absolute, or empty
    int rootFd = -1;
};

Settings settings;
std::atomic<bool> letGo{false};

void onLetGo(int) {
    letGo.store(true);
}

// Turns a path as FUSE gives it ("/a/b", "/") into one relative to the tree's root.
const char* relative(const char* path) {
    return path[1] == '\0' ? "." : path + 1;
}

bool isHanging(std::string_view path) {
    const std::string_view h = settings.hang;
    if (h.empty() || path.substr(0, h.size()) != h)
        return false;
    return path.size() == h.size() || path[h.size()] == '/';
}

bool ended() {
    fuse_context* ctx = fuse_get_context();
    return ctx != nullptr && ctx->fuse != nullptr &&
           fuse_session_exited(fuse_get_session(ctx->fuse)) != 0;
}

// The wait every call makes; false when a hanging call was ended instead of let go.
bool roundTrip(const char* path) {
    if (path != nullptr && isHanging(path)) {
        const timespec tick{0, 20 * 1000 * 1000};
        while (!letGo.load()) {
            if (ended())
                return false;
            if (!settings.releaseFile.empty() && access(settings.releaseFile.c_str(), F_OK) == 0) {
                letGo.store(true);
                break;
            }
            nanosleep(&tick, nullptr);
        }
    }
    if (settings.delayUs > 0) {
        timespec left{settings.delayUs / 1000000, (settings.delayUs % 1000000) * 1000};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
    return true;
}

// Gives back a readdir position without losing the entry that did not fit.
struct DirHandle {
    DIR* dir = nullptr;
    dirent* pending = nullptr;
    off_t pos = 0;
};

DirHandle* dirOf(fuse_file_info* fi) {
    return reinterpret_cast<DirHandle*>(fi->fh);
}

void* slowInit(fuse_conn_info*, fuse_config* cfg) {
    cfg->use_ino = 1; // inode numbers of the tree, so hard links stay recognisable
    if (settings.noCache) {
        cfg->entry_timeout = 0;
        cfg->attr_timeout = 0;
        cfg->negative_timeout = 0;
    }
    return nullptr;
}

int slowGetattr(const char* path, struct stat* st, fuse_file_info* fi) {
    if (!roundTrip(path))
        return -EIO;
    const int r = fi != nullptr ? fstat(static_cast<int>(fi->fh), st)
                                : fstatat(settings.rootFd, relative(path), st, AT_SYMLINK_NOFOLLOW);
    return r == 0 ? 0 : -errno;
}

int slowReadlink(const char* path, char* buf, size_t size) {
    if (!roundTrip(path))
        return -EIO;
    const ssize_t n = readlinkat(settings.rootFd, relative(path), buf, size - 1);
    if (n < 0)
        return -errno;
    buf[n] = '\0';
    return 0;
}

int slowAccess(const char* path, int mask) {
    if (!roundTrip(path))
        return -EIO;
    if ((mask & W_OK) != 0)
        return -EROFS;
    return faccessat(settings.rootFd, relative(path), mask, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

int slowOpendir(const char* path, fuse_file_info* fi) {
    if (!roundTrip(path))
        return -EIO;
    const int fd = openat(settings.rootFd, relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        const int err = errno;
        close(fd);
        return -err;
    }
    fi->fh = reinterpret_cast<uint64_t>(new DirHandle{dir});
    return 0;
}

int slowReaddir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset, fuse_file_info* fi,
                fuse_readdir_flags) {
    if (!roundTrip(path))
        return -EIO;
    DirHandle* d = dirOf(fi);
    if (offset != d->pos) {
        seekdir(d->dir, offset);
        d->pending = nullptr;
        d->pos = offset;
    }
    for (;;) {
        if (d->pending == nullptr) {
            errno = 0;
            d->pending = ::readdir(d->dir);
            if (d->pending == nullptr)
                return errno == 0 ? 0 : -errno;
        }
        struct stat st {};
        st.st_ino = d->pending->d_ino;
        st.st_mode = DTTOIF(d->pending->d_type);
        const off_t next = telldir(d->dir);
        if (fill(buf, d->pending->d_name, &st, next, static_cast<fuse_fill_dir_flags>(0)) != 0)
            return 0; // full: this entry goes first in the next call
        d->pending = nullptr;
        d->pos = next;
    }
}

int slowReleasedir(const char*, fuse_file_info* fi) {
    DirHandle* d = dirOf(fi);
    closedir(d->dir);
    delete d;
    return 0;
}

int slowOpen(const char* path, fuse_file_info* fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0)
        return -EROFS;
    if (!roundTrip(path))
        return -EIO;
    const int fd = openat(settings.rootFd, relative(path), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -errno;
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

int slowRead(const char* path, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    if (!roundTrip(path))
        return -EIO;
    const ssize_t n = pread(static_cast<int>(fi->fh), buf, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

int slowRelease(const char*, fuse_file_info* fi) {
    close(static_cast<int>(fi->fh));
    return 0;
}

int slowStatfs(const char* path, struct statvfs* st) {
    if (!roundTrip(path))
        return -EIO;
    return fstatvfs(settings.rootFd, st) == 0 ? 0 : -errno;
}

void usage(FILE* to) {
    std::fputs(
        "usage: kestrix-slowfs [OPTIONS] TREE MOUNTPOINT\n"
        "Shows TREE read-only at MOUNTPOINT, waiting before every call as a file server does.\n"
        "  --delay-us N         wait N microseconds before each call (default 0)\n"
        "  --no-cache           no kernel caching of entries and attributes\n"
        "  --hang REL           calls on folder REL of TREE (and below it) never answer\n"
        "                       until SIGUSR1, the release file, or the end of the mount\n"
        "  --release-file FILE  let hanging calls go on once FILE exists\n"
        "  --threads N          at most N calls served at once (default 64)\n"
        "  --foreground         stay in the foreground\n"
        "  --debug              print every call (implies --foreground)\n",
        to);
}

bool parseCount(const char* text, long max, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > max)
        return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    enum { kDelay = 1, kNoCache, kHang, kRelease, kThreads, kForeground, kDebug, kHelp };
    const option longOptions[] = {
        {"delay-us", required_argument, nullptr, kDelay},
        {"no-cache", no_argument, nullptr, kNoCache},
        {"hang", required_argument, nullptr, kHang},
        {"release-file", required_argument, nullptr, kRelease},
        {"threads", required_argument, nullptr, kThreads},
        {"foreground", no_argument, nullptr, kForeground},
        {"debug", no_argument, nullptr, kDebug},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    long threads = 64;
    bool foreground = false, debug = false;
    for (int c; (c = getopt_long(argc, argv, "fdh", longOptions, nullptr)) != -1;) {
        switch (c) {
        case kDelay:
            if (!parseCount(optarg, 10L * 1000 * 1000, settings.delayUs)) {
                std::fprintf(stderr, "kestrix-slowfs: --delay-us wants 0 to 10000000\n");
                return 2;
            }
            break;
        case kNoCache:
            settings.noCache = true;
            break;
        case kHang: {
            std::string rel = optarg;
            while (!rel.empty() && rel.front() == '/')
                rel.erase(0, 1);
            while (!rel.empty() && rel.back() == '/')
                rel.pop_back();
            if (rel.empty()) {
                std::fprintf(stderr, "kestrix-slowfs: --hang wants a folder below TREE\n");
                return 2;
            }
            settings.hang = "/" + rel;
            break;
        }
        case kRelease: {
            char* abs = realpath(".", nullptr);
            settings.releaseFile = optarg[0] == '/' || abs == nullptr
                                       ? std::string(optarg)
                                       : std::string(abs) + "/" + optarg;
            std::free(abs);
            break;
        }
        case kThreads:
            if (!parseCount(optarg, 1024, threads) || threads < 1) {
                std::fprintf(stderr, "kestrix-slowfs: --threads wants 1 to 1024\n");
                return 2;
            }
            break;
        case 'f':
        case kForeground:
            foreground = true;
            break;
        case 'd':
        case kDebug:
            debug = true;
            break;
        case 'h':
        case kHelp:
            usage(stdout);
            return 0;
        default:
            usage(stderr);
            return 2;
        }
    }
    if (argc - optind != 2) {
        usage(stderr);
        return 2;
    }
    const char* tree = argv[optind];
    const char* mountPoint = argv[optind + 1];

    // The tree is reached through this descriptor only, so going to the background
    // (which changes the working folder) does not matter.
    settings.rootFd = open(tree, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (settings.rootFd < 0) {
        std::fprintf(stderr, "kestrix-slowfs: cannot open %s: %s\n", tree, std::strerror(errno));
        return 1;
    }

    struct sigaction sa {};
    sa.sa_handler = onLetGo;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);

    fuse_operations ops{};
    ops.init = slowInit;
    ops.getattr = slowGetattr;
    ops.readlink = slowReadlink;
    ops.access = slowAccess;
    ops.opendir = slowOpendir;
    ops.readdir = slowReaddir;
    ops.releasedir = slowReleasedir;
    ops.open = slowOpen;
    ops.read = slowRead;
    ops.release = slowRelease;
    ops.statfs = slowStatfs;

    const std::string threadOptions =
        "max_threads=" + std::to_string(threads) + ",max_idle_threads=" + std::to_string(threads);
    std::vector<std::string> args = {argv[0], mountPoint,   "-o", "ro,fsname=kestrix-slowfs",
                                     "-o",    threadOptions};
    if (foreground || debug)
        args.emplace_back("-f");
    if (debug)
        args.emplace_back("-d");
    std::vector<char*> fuseArgv;
    for (std::string& a : args)
        fuseArgv.push_back(a.data());
    fuseArgv.push_back(nullptr);
    return fuse_main(static_cast<int>(args.size()), fuseArgv.data(), &ops, nullptr);
}
