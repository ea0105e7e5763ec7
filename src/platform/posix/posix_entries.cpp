// The status of a directory entry as the searches and the walk need it:
// its file type from what the directory told, a link's target, the root
// of a mount.
#include <sys/stat.h>

#include "platform/posix/posix_directory.hpp"

namespace platform::posix {

bool target_is_directory(int dirfd, const char* name) {
    struct stat st;
    return ::fstatat(dirfd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

mode_t mode_of_type(unsigned char type) {
    switch (type) {
        case DT_DIR:
            return S_IFDIR;
        case DT_REG:
            return S_IFREG;
        case DT_LNK:
            return S_IFLNK;
        case DT_FIFO:
            return S_IFIFO;
        case DT_SOCK:
            return S_IFSOCK;
        case DT_CHR:
            return S_IFCHR;
        case DT_BLK:
            return S_IFBLK;
        default:
            return 0;
    }
}

// The root of a mount has no "." and ".." entries in a Windows listing.
bool is_mount_root(int dirfd, std::string_view dir) {
    if (dir == "/") return true;
    struct stat self, parent;
    if (::fstat(dirfd, &self) != 0 || ::fstatat(dirfd, "..", &parent, 0) != 0) return false;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

}  // namespace platform::posix
