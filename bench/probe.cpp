// kestrix-probe: the least a scan of a tree has to ask the file system, on many threads,
// as a floor to hold kestrix-list's times against.
//
//   kestrix-probe [--threads N] TREE
//
// Each folder is opened relative to its parent and read; each regular file gets one
// fstatat. Nothing else: no stat of folders, no names kept, no list written. Folders
// wait on one shared stack, taken newest first, as a name and the parent's descriptor,
// which is closed when the last of its sub-folders has been opened. Prints the counts
// and the sum of the file sizes, one "key value" per line; exits 1 on any error.

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct OpenFolder {
    int fd;
    explicit OpenFolder(int d) : fd(d) {}
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    ~OpenFolder() { close(fd); }
};

struct Waiting {
    std::shared_ptr<OpenFolder> parent; // null for the tree itself
    std::string name;
};

class Probe {
public:
    Probe(std::string root, int threads) : threads_(threads) {
        stack_.push_back({nullptr, std::move(root)});
    }

    void run() {
        std::vector<std::thread> pool;
        for (int i = 0; i < threads_; ++i)
            pool.emplace_back([this] { work(); });
        for (auto& t : pool)
            t.join();
    }

    std::atomic<std::uint64_t> folders{0}, files{0}, bytes{0};
    std::atomic<bool> failed{false};

private:
    bool take(Waiting& out) {
        std::unique_lock lock(mutex_);
        ++idle_;
        while (stack_.empty()) {
            if (idle_ == threads_) { // nothing left and nobody can add more
                wake_.notify_all();
                return false;
            }
            wake_.wait(lock);
        }
        --idle_;
        out = std::move(stack_.back());
        stack_.pop_back();
        return true;
    }

    void fail(const std::string& what, int err) {
        std::fprintf(stderr, "kestrix-probe: %s: %s\n", what.c_str(), std::strerror(err));
        failed = true;
    }

    void work() {
        Waiting w;
        std::vector<Waiting> found;
        while (take(w)) {
            const int at = w.parent ? w.parent->fd : AT_FDCWD;
            const int fd =
                openat(at, w.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            w.parent.reset();
            if (fd < 0) {
                fail("open " + w.name, errno);
                continue;
            }
            auto self = std::make_shared<OpenFolder>(fd);
            DIR* dir = fdopendir(dup(fd));
            if (dir == nullptr) {
                fail("read " + w.name, errno);
                continue;
            }
            ++folders;
            while (const dirent* e = readdir(dir)) {
                const std::string_view name = e->d_name;
                if (name == "." || name == "..")
                    continue;
                unsigned char type = e->d_type;
                struct stat st {};
                if (type == DT_REG || type == DT_UNKNOWN) {
                    if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                        fail("stat " + std::string(name), errno);
                        continue;
                    }
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
                    if (type == DT_REG) {
                        ++files;
                        bytes += static_cast<std::uint64_t>(st.st_size);
                    }
                }
                if (type == DT_DIR)
                    found.push_back({self, std::string(name)});
            }
            closedir(dir);
            self.reset();
            if (!found.empty()) {
                std::lock_guard lock(mutex_);
                for (auto& f : found)
                    stack_.push_back(std::move(f));
                wake_.notify_all();
            }
            found.clear();
        }
    }

    const int threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Waiting> stack_;
    int idle_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    long threads = 16;
    int arg = 1;
    if (argc == 4 && std::string_view(argv[1]) == "--threads") {
        char* end = nullptr;
        threads = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || threads < 1 || threads > 1024) {
            std::fprintf(stderr, "kestrix-probe: --threads wants 1 to 1024\n");
            return 2;
        }
        arg = 3;
    } else if (argc != 2) {
        std::fprintf(stderr, "usage: kestrix-probe [--threads N] TREE\n");
        return 2;
    }

    // Folders with sub-folders still waiting keep their descriptor open.
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }

    Probe probe(argv[arg], static_cast<int>(threads));
    probe.run();
    std::printf("threads %ld\nfolders %llu\nfiles %llu\nfile_bytes %llu\n", threads,
                static_cast<unsigned long long>(probe.folders.load()),
                static_cast<unsigned long long>(probe.files.load()),
                static_cast<unsigned long long>(probe.bytes.load()));
    return probe.failed ? 1 : 0;
}
