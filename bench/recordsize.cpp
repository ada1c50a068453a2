// kestrix-recordsize: scans one tree the way kestrix-list does and tells what the record
// of it costs.
//
//   kestrix-recordsize TREE
//
// Prints, one "key value" per line: folders (in the record), record_bytes (its nodes
// and names), name_bytes (the names alone, without their ends), bytes_per_folder (what
// a folder costs beside the bytes of its name) and scan_seconds.

#include "posixscan/posixfoldertree.h"
#include "posixscan/posixmounts.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: kestrix-recordsize TREE\n", stderr);
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "kestrix-recordsize: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const PseudoMounts pseudoMounts;
    FolderTree tree;
    QElapsedTimer took;
    took.start();
    if (!tree.scan(fd, pseudoMounts, {})) {
        std::fprintf(stderr, "kestrix-recordsize: the scan failed: %s\n",
                     std::strerror(tree.exhausted()));
        return 1;
    }
    const double seconds = double(took.nsecsElapsed()) / 1e9;
    const FolderRecord& record = tree.record();
    const std::size_t folders = record.nodeCount();
    const std::size_t bytes = record.bytesUsed();
    const std::size_t names = record.nameBytes();
    std::printf("folders %zu\n", folders);
    std::printf("record_bytes %zu\n", bytes);
    std::printf("name_bytes %zu\n", names);
    std::printf("bytes_per_folder %.1f\n", folders ? double(bytes - names) / double(folders) : 0.0);
    std::printf("scan_seconds %.3f\n", seconds);
    ::close(fd);
    return 0;
}
