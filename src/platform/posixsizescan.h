#pragma once

#include "listing/filesysteminfo.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <unordered_map>

class PseudoMounts;

// Counts the bytes below a folder: the sizes of all regular files at any depth, every
// hard link counted. Each folder met is remembered by device and inode for the rest of
// the run, so that asking for every folder of a tree in turn scans the tree only once.
class SizeScanner {
public:
    explicit SizeScanner(const PseudoMounts& pseudoMounts);

    // The size below the folder open at `fd`; nothing when any folder of the tree cannot
    // be read, or when `keepGoing` said to stop.
    std::optional<quint64> sizeOf(int fd, dev_t dev, ino_t ino, const KeepGoing& keepGoing);

private:
    struct Key {
        dev_t dev;
        ino_t ino;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept {
            return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(key.ino) * 31 +
                                              static_cast<std::uint64_t>(key.dev));
        }
    };
    static constexpr quint64 kUnavailable = ~quint64(0);

    std::optional<quint64> scan(int fd, const KeepGoing& keepGoing);
    void remember(dev_t dev, ino_t ino, std::optional<quint64> size);
    std::optional<std::optional<quint64>> known(dev_t dev, ino_t ino) const;

    const PseudoMounts& pseudoMounts_;
    std::unordered_map<Key, quint64, KeyHash> known_;
};
