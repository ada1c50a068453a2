#include "posixscan/posixmounts.h"

#include <QFile>

#include <array>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#ifndef AT_NO_AUTOMOUNT
#define AT_NO_AUTOMOUNT 0
#endif
#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace {

constexpr std::array<std::string_view, 21> kPseudoTypes = {
    "proc",    "sysfs",      "devtmpfs",    "devpts",   "cgroup",     "cgroup2", "debugfs",
    "tracefs", "securityfs", "pstore",      "bpf",      "configfs",   "mqueue",  "hugetlbfs",
    "fusectl", "autofs",     "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",    "selinuxfs",
};

} // namespace

PseudoMounts::PseudoMounts() {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (table.open(QIODevice::ReadOnly))
        parse(table.readAll());
}

PseudoMounts::PseudoMounts(const QByteArray& mountInfo) {
    parse(mountInfo);
}

bool PseudoMounts::isPseudoType(const QByteArray& fileSystemType) {
    const std::string_view type(fileSystemType.constData(), fileSystemType.size());
    for (const std::string_view pseudo : kPseudoTypes) {
        if (type == pseudo)
            return true;
    }
    return false;
}

void PseudoMounts::parse(const QByteArray& mountInfo) {
    // Each line: id parent major:minor root mount-point options [optional...] - type source ...
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 1 >= fields.size())
            continue;
        const QList<QByteArray> numbers = fields[2].split(':');
        bool majorOk = false;
        bool minorOk = false;
        const uint major = numbers.value(0).toUInt(&majorOk);
        const uint minor = numbers.value(1).toUInt(&minorOk);
        if (!majorOk || !minorOk)
            continue;
        haveTable_ = true;
        mounted_.insert(makedev(major, minor));
        if (isPseudoType(fields[dash + 1]))
            devices_.insert(makedev(major, minor));
        haveAutomounts_ = haveAutomounts_ || fields[dash + 1] == "autofs";
    }
}

bool PseudoMounts::isAutomountPoint(int parentFd, const char* name, dev_t parentDev) const {
    // Most systems have none; then this costs nothing per folder.
    if (!haveAutomounts_)
        return false;
    struct stat st;
    return ::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0 &&
           st.st_dev != parentDev && devices_.contains(st.st_dev);
}

bool PseudoMounts::isPseudo(dev_t dev, int fd) const {
    if (haveTable_ && mounted_.contains(dev))
        return devices_.contains(dev);
#if defined(__linux__)
    struct statfs fs;
    if (fd >= 0 && ::fstatfs(fd, &fs) == 0) {
        switch (static_cast<unsigned long>(fs.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case PSTOREFS_MAGIC:
        case BPF_FS_MAGIC:
        case HUGETLBFS_MAGIC:
        case AUTOFS_SUPER_MAGIC:
        case BINFMTFS_MAGIC:
        case EFIVARFS_MAGIC:
        case NSFS_MAGIC:
        case SELINUX_MAGIC:
            return true;
        default:
            break;
        }
    }
#else
    (void)fd;
#endif
    return false;
}
