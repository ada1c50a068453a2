// kestrix-gentree: writes a reproducible test tree for the kestrix-list benchmark.
//
//   kestrix-gentree wide|deep|huge-dir|nested|share|home|million DEST
//
// Every run of one shape writes the same names, sizes and layout: all choices come
// from a small pseudo-random generator started from a fixed constant. Files are
// sparse: each one is created empty and grown with ftruncate(), so the tree takes
// next to no disk space however large its apparent size is.
//
// Shapes:
//   wide      about 10,000 folders (depth 1..6) holding 100,000 files, sizes from
//             0 bytes to 4 MiB; about 1 in 100 files is a hard link to another one.
//   deep      chains of folders nested 40 to 60 levels deep, 100,000 files in all.
//   huge-dir  DEST itself holds 40,000 sub-folders, each with 0 to 2 small files.
//   nested    40 sub-folders in every folder, three levels down (65,641 folders); each
//             folder at the bottom holds one small file.
//   share     1,000 folders (depth 1..4) holding 5,000 files: small enough to read
//             through a slow FUSE layer in seconds.
//   home      100,000 folders (depth 1..10) holding 1,000,000 files, like a user's home.
//   million   1,000 folders each holding 999 empty folders: 1,000,001 folders in all.
//
// DEST must not exist yet (its parents are created) or be an empty folder.
// On success a summary is printed on standard output, one "key value" per line.

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kStartValue = 0x4b45535452495821ULL; // fixed start value

// splitmix64: tiny, fast and fully determined by its start value.
class Rng {
public:
    explicit Rng(std::uint64_t start) : state_(start) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform in [lo, hi] (inclusive); the modulo bias is irrelevant here.
    std::uint64_t range(std::uint64_t lo, std::uint64_t hi) { return lo + next() % (hi - lo + 1); }

    bool chance(unsigned percent) { return next() % 100 < percent; }

private:
    std::uint64_t state_;
};

struct File {
    std::string name;
    std::uint64_t size = 0;
    bool hardLink = false; // a second name for an earlier file instead of a new one
};

struct Folder {
    std::string name;
    int depth = 0; // DEST is depth 0
    std::vector<File> files;
    std::vector<std::size_t> children;
};

struct Tree {
    std::vector<Folder> folders; // [0] is DEST itself

    std::size_t add(std::size_t parent, std::string name) {
        Folder f;
        f.name = std::move(name);
        f.depth = folders[parent].depth + 1;
        folders.push_back(std::move(f));
        folders[parent].children.push_back(folders.size() - 1);
        return folders.size() - 1;
    }
};

[[noreturn]] void die(const std::string& what, int err = 0) {
    if (err != 0)
        std::fprintf(stderr, "kestrix-gentree: %s: %s\n", what.c_str(), std::strerror(err));
    else
        std::fprintf(stderr, "kestrix-gentree: %s\n", what.c_str());
    std::exit(1);
}

// A name like "d00412-kqzv": unique through the number, varied in length.
std::string makeName(Rng& rng, char prefix, std::uint64_t number, int digits, unsigned minExtra,
                     unsigned maxExtra, const char* suffix = "") {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%c%0*llu", prefix, digits,
                  static_cast<unsigned long long>(number));
    std::string name = buf;
    const auto extra = rng.range(minExtra, maxExtra);
    if (extra > 0) {
        name += '-';
        for (std::uint64_t i = 0; i < extra; ++i)
            name += static_cast<char>('a' + rng.next() % 26);
    }
    name += suffix;
    return name;
}

// Mostly small files, some medium, a few of several MiB; about a tenth are empty.
std::uint64_t variedSize(Rng& rng) {
    const auto bucket = rng.next() % 100;
    if (bucket < 10)
        return 0;
    if (bucket < 60)
        return rng.range(1, 4096);
    if (bucket < 90)
        return rng.range(4097, 256 * 1024);
    return rng.range(256 * 1024 + 1, 4 * 1024 * 1024);
}

// Random attachment: each new folder goes under a random earlier folder that may still
// have children, which gives a bushy tree with mixed fan-out. Files land in random folders.
Tree makeBushy(Rng& rng, std::size_t folders, std::size_t files, int maxDepth) {
    Tree t;
    t.folders.emplace_back();

    std::vector<std::size_t> open{0}; // folders whose depth < kMaxDepth
    for (std::size_t i = 1; i <= folders; ++i) {
        const auto parent = open[rng.next() % open.size()];
        const auto id = t.add(parent, makeName(rng, 'd', i, 5, 0, 10));
        if (t.folders[id].depth < maxDepth)
            open.push_back(id);
    }
    for (std::size_t i = 0; i < files; ++i) {
        auto& folder = t.folders[rng.next() % t.folders.size()];
        File f;
        f.name = makeName(rng, 'f', i, 6, 0, 12, ".dat");
        f.size = variedSize(rng);
        f.hardLink = i > 0 && rng.chance(1);
        folder.files.push_back(std::move(f));
    }
    return t;
}

Tree makeWide() {
    Rng rng(kStartValue ^ 0x77696465ULL);
    return makeBushy(rng, 10000, 100000, 6); // folders below DEST, files, depth
}

Tree makeShare() {
    Rng rng(kStartValue ^ 0x73686172ULL);
    return makeBushy(rng, 1000, 5000, 4);
}

Tree makeHome() {
    Rng rng(kStartValue ^ 0x686f6d65ULL);
    return makeBushy(rng, 99999, 1000000, 10);
}

Tree makeMillion() {
    constexpr std::size_t kOuter = 1000, kInner = 999;
    Rng rng(kStartValue ^ 0x6d696c6cULL);
    Tree t;
    t.folders.emplace_back();
    t.folders.reserve(1 + kOuter * (kInner + 1));
    for (std::size_t i = 0; i < kOuter; ++i) {
        const auto outer = t.add(0, makeName(rng, 'm', i, 3, 0, 6));
        for (std::size_t k = 0; k < kInner; ++k)
            t.add(outer, makeName(rng, 'e', k, 3, 0, 4));
    }
    return t;
}

Tree makeDeep() {
    constexpr std::size_t kFiles = 100000;
    constexpr int kMinDepth = 40, kMaxDepth = 60;

    Rng rng(kStartValue ^ 0x64656570ULL);
    Tree t;
    t.folders.emplace_back();

    std::size_t files = 0, chain = 0, folderNo = 0;
    while (files < kFiles) {
        const auto depth = static_cast<int>(rng.range(kMinDepth, kMaxDepth));
        std::size_t at = t.add(0, makeName(rng, 'c', chain++, 3, 0, 6));
        for (int level = 2; level <= depth; ++level)
            at = t.add(at, makeName(rng, 'l', ++folderNo, 4, 0, 8));
        // Walk the chain back up from its bottom, dropping files on every level.
        for (std::size_t id = at;;) {
            const auto count = rng.range(0, 80);
            for (std::uint64_t k = 0; k < count && files < kFiles; ++k) {
                File f;
                f.name = makeName(rng, 'f', files++, 6, 0, 6, ".bin");
                f.size = variedSize(rng);
                t.folders[id].files.push_back(std::move(f));
            }
            if (t.folders[id].depth == 1)
                break;
            // the parent of a chain folder is the one created just before it
            id = id - 1;
        }
    }
    return t;
}

Tree makeHugeDir() {
    constexpr std::size_t kFolders = 40000;

    Rng rng(kStartValue ^ 0x68756765ULL);
    Tree t;
    t.folders.emplace_back();
    std::size_t fileNo = 0;
    for (std::size_t i = 0; i < kFolders; ++i) {
        const auto id = t.add(0, makeName(rng, 's', i, 5, 0, 8));
        const auto count = rng.range(0, 2);
        for (std::uint64_t k = 0; k < count; ++k) {
            File f;
            f.name = makeName(rng, 'f', fileNo++, 5, 0, 4, ".txt");
            f.size = rng.range(0, 16 * 1024);
            t.folders[id].files.push_back(std::move(f));
        }
    }
    return t;
}

Tree makeNested() {
    constexpr std::size_t kFanOut = 40;
    constexpr int kLevels = 3;

    Rng rng(kStartValue ^ 0x6e657374ULL);
    Tree t;
    t.folders.emplace_back();
    std::size_t folderNo = 0;
    std::vector<std::size_t> level{0};
    for (int depth = 1; depth <= kLevels; ++depth) {
        std::vector<std::size_t> next;
        for (const std::size_t parent : level)
            for (std::size_t i = 0; i < kFanOut; ++i)
                next.push_back(t.add(parent, makeName(rng, 'n', ++folderNo, 5, 0, 6)));
        level = std::move(next);
    }
    for (const std::size_t id : level) {
        File f;
        f.name = makeName(rng, 'f', id, 5, 0, 4, ".txt");
        f.size = rng.range(0, 16 * 1024);
        t.folders[id].files.push_back(std::move(f));
    }
    return t;
}

struct Stats {
    std::uint64_t folders = 0;   // including DEST
    std::uint64_t files = 0;     // names of regular files, hard links included
    std::uint64_t hardLinks = 0; // of those, extra names for an existing file
    std::uint64_t fileBytes = 0; // sum of st_size over every file name
    int maxDepth = 0;
};

class Writer {
public:
    explicit Writer(std::string root)
        : root_(std::move(root)), linkRng_(kStartValue ^ 0x6c696e6bULL) {}

    Stats write(const Tree& t) {
        const int fd = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            die("open " + root_, errno);
        stats_.folders = 1;
        writeFolder(t, 0, fd, "");
        close(fd);
        return stats_;
    }

private:
    void writeFolder(const Tree& t, std::size_t id, int dirFd, const std::string& rel) {
        const Folder& folder = t.folders[id];
        if (folder.depth > stats_.maxDepth)
            stats_.maxDepth = folder.depth;

        for (const File& f : folder.files) {
            const std::string relFile = rel + f.name;
            if (f.hardLink && !recent_.empty()) {
                const auto& target = recent_[linkRng_.next() % recent_.size()];
                const std::string from = root_ + "/" + target.first;
                if (linkat(AT_FDCWD, from.c_str(), dirFd, f.name.c_str(), 0) != 0)
                    die("link " + root_ + "/" + relFile, errno);
                ++stats_.hardLinks;
                stats_.fileBytes += target.second;
            } else {
                const int fd =
                    openat(dirFd, f.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                if (fd < 0)
                    die("create " + root_ + "/" + relFile, errno);
                if (f.size > 0 && ftruncate(fd, static_cast<off_t>(f.size)) != 0)
                    die("truncate " + root_ + "/" + relFile, errno);
                close(fd);
                stats_.fileBytes += f.size;
                remember(relFile, f.size);
            }
            ++stats_.files;
        }

        for (const std::size_t child : folder.children) {
            const std::string& name = t.folders[child].name;
            if (mkdirat(dirFd, name.c_str(), 0755) != 0)
                die("mkdir " + root_ + "/" + rel + name, errno);
            const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                die("open " + root_ + "/" + rel + name, errno);
            ++stats_.folders;
            writeFolder(t, child, fd, rel + name + "/");
            close(fd);
        }
    }

    // A small ring of recently written files that later hard links may point at.
    void remember(const std::string& rel, std::uint64_t size) {
        constexpr std::size_t kKeep = 512;
        if (recent_.size() < kKeep)
            recent_.emplace_back(rel, size);
        else
            recent_[next_++ % kKeep] = {rel, size};
    }

    std::string root_;
    Rng linkRng_;
    Stats stats_;
    std::vector<std::pair<std::string, std::uint64_t>> recent_;
    std::size_t next_ = 0;
};

void mkdirParents(const std::string& path) {
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            die("mkdir " + partial, errno);
    }
}

void prepareDest(const std::string& dest) {
    struct stat st {};
    if (stat(dest.c_str(), &st) != 0) {
        if (errno != ENOENT)
            die("stat " + dest, errno);
        mkdirParents(dest);
        return;
    }
    if (!S_ISDIR(st.st_mode))
        die(dest + " exists and is not a folder");
    DIR* dir = opendir(dest.c_str());
    if (dir == nullptr)
        die("open " + dest, errno);
    bool empty = true;
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(dir);
    if (!empty)
        die("refusing to write into non-empty folder " + dest);
}

void usage(FILE* to) {
    std::fputs("usage: kestrix-gentree wide|deep|huge-dir|nested|share|home|million DEST\n"
               "Writes a reproducible tree of sparse files into DEST (which must be\n"
               "missing or empty) and prints a summary of what it wrote.\n",
               to);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        usage(stdout);
        return 0;
    }
    if (argc != 3) {
        usage(stderr);
        return 2;
    }
    const std::string_view shape = argv[1];
    std::string dest = argv[2];
    while (dest.size() > 1 && dest.back() == '/')
        dest.pop_back();
    if (dest.empty()) {
        usage(stderr);
        return 2;
    }

    Tree (*make)() = nullptr;
    if (shape == "wide")
        make = makeWide;
    else if (shape == "deep")
        make = makeDeep;
    else if (shape == "huge-dir")
        make = makeHugeDir;
    else if (shape == "nested")
        make = makeNested;
    else if (shape == "share")
        make = makeShare;
    else if (shape == "home")
        make = makeHome;
    else if (shape == "million")
        make = makeMillion;
    else {
        std::fprintf(stderr, "kestrix-gentree: unknown shape '%s'\n", argv[1]);
        usage(stderr);
        return 2;
    }

    prepareDest(dest);
    const auto start = std::chrono::steady_clock::now();
    const Tree tree = make();
    const Stats s = Writer(dest).write(tree);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

    std::printf("shape %s\n", argv[1]);
    std::printf("folders %llu\n", static_cast<unsigned long long>(s.folders));
    std::printf("files %llu\n", static_cast<unsigned long long>(s.files));
    std::printf("hard_links %llu\n", static_cast<unsigned long long>(s.hardLinks));
    std::printf("max_depth %d\n", s.maxDepth);
    std::printf("file_bytes %llu\n", static_cast<unsigned long long>(s.fileBytes));
    std::printf("seconds %.2f\n", took.count());
    return 0;
}
