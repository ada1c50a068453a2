#pragma once

#include <QByteArray>

#include <sys/types.h>

#include <unordered_set>

// Kernel pseudo file systems (proc, sysfs, devpts, cgroup...) hold no bytes on a drive,
// and their figures are nonsense as sizes (/proc/kcore alone claims 128 TB). Folders on
// them are neither listed, entered nor counted.
class PseudoMounts {
public:
    // Reads the mount table of this process.
    PseudoMounts();
    // Takes the text of a mount table in the kernel's mountinfo form.
    explicit PseudoMounts(const QByteArray& mountInfo);

    // `fd` is the folder itself, asked directly when its device is not in the mount
    // table (mounted since the table was read, or no table could be read); -1 if none.
    bool isPseudo(dev_t dev, int fd) const;

    // An automount point, looked at without setting off the mount: opening it would
    // mount whatever it stands for, and could hang on an unreachable server.
    bool isAutomountPoint(int parentFd, const char* name, dev_t parentDev) const;

    static bool isPseudoType(const QByteArray& fileSystemType);

private:
    void parse(const QByteArray& mountInfo);

    std::unordered_set<dev_t> devices_; // of kernel file systems
    std::unordered_set<dev_t> mounted_; // all in the table
    bool haveTable_ = false;
    bool haveAutomounts_ = false;
};
