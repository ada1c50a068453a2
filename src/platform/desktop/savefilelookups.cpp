#include "platform/desktop/savefilelookups.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

namespace {

class SystemLookups final : public SaveFileLookups {
public:
    Listing read(const NativePath& folder) const override {
        Listing listing;
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), &::closedir);
        if (!dir) {
            listing.error = errno;
            return listing;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            // Links to folders are folders to the user.
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                struct stat st;
                isFolder = ::fstatat(::dirfd(dir.get()), entry->d_name, &st, 0) == 0 &&
                           S_ISDIR(st.st_mode);
            }
            listing.entries.push_back({name, isFolder});
        }
        return listing;
    }

    Facts lookUp(const NativePath& path) const override {
        struct stat st;
        if (::stat(path.constData(), &st) == 0)
            return {S_ISDIR(st.st_mode) ? Kind::Folder : Kind::File, 0};
        const int error = errno;
        if (error == ENOTDIR)
            return {Kind::NoFolder, error};
        if (error != ENOENT)
            return {Kind::Failed, error};
        // Nothing there, or a link that leads nowhere: either way a file to be made, if its
        // folder is there.
        const qsizetype cut = path.lastIndexOf('/');
        const NativePath folder = cut > 0 ? path.left(cut) : NativePath("/");
        if (::stat(folder.constData(), &st) != 0)
            return {errno == EACCES ? Kind::Failed : Kind::NoFolder, errno};
        if (!S_ISDIR(st.st_mode))
            return {Kind::NoFolder, ENOTDIR};
        return {Kind::Missing, 0};
    }

    int makeFolder(const NativePath& path) const override {
        return ::mkdir(path.constData(), 0777) == 0 ? 0 : errno;
    }
};

} // namespace

std::shared_ptr<const SaveFileLookups> systemSaveFileLookups() {
    static const auto lookups = std::make_shared<const SystemLookups>();
    return lookups;
}
