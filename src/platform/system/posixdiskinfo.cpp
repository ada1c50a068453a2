#include "platform/system/diskinfo.h"

#include <QFile>

#include <sys/statvfs.h>

namespace {

class PosixDiskInfo final : public DiskInfo {
public:
    std::optional<quint64> FreeSpace(const QString& folder) override {
        struct statvfs info {};
        if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
            return std::nullopt;
        if (info.f_flag & ST_RDONLY)
            return 0;
        // Blocks times block size can pass 64 bits on very large file systems.
        const unsigned __int128 bytes =
            static_cast<unsigned __int128>(info.f_bavail) * info.f_frsize;
        return static_cast<quint64>(bytes / 1024);
    }
};

} // namespace

std::unique_ptr<DiskInfo> createDiskInfo() {
    return std::make_unique<PosixDiskInfo>();
}
