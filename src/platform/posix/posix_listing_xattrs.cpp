// The extended attributes of the entries the walk lists: their names read
// relative to the directory, where the kernel can, and user.DOSATTRIB asked
// only where a file system is seen to hold it.
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/posix_directory.hpp"

namespace platform::posix {

namespace {

// listxattrat(2), called directly: the C library does not wrap it yet.
#if defined(__x86_64__) || defined(__aarch64__)
constexpr long listxattrat_number = 465;
#else
constexpr long listxattrat_number = -1;
#endif

// What a list of the entry's attribute names says of it: `n` bytes of
// names, or -1 with the reason in errno.
void note_attribute_names(long n, const char* list, dev_t device, XattrSupport& xattrs, Listed& e) {
    if (n < 0) {
        if (errno == ENOTSUP) xattrs.mark_refused(device);
        return;
    }
    e.names_known = true;
    for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
        const std::string_view key(list + at);
        at += key.size() + 1;
        if (key == dos_attribute_xattr)
            e.has_dos = true;
        else if (key.substr(0, 5) == "user.")
            e.has_streams = true;
    }
}

}  // namespace

// Reads the names of the entry's extended attributes relative to the
// directory, so that the entry's named streams and its DOSATTRIB are known
// without a look-up by path. Nothing is recorded when the list cannot be
// read whole (the look-ups by path then answer); false when the system
// has no such call.
bool read_attribute_names(int dirfd, const char* name, dev_t device, XattrSupport& xattrs,
                          Listed& e) {
    if (listxattrat_number < 0) return false;
    alignas(8) char list[4096];
    const long n =
        ::syscall(listxattrat_number, dirfd, name, AT_SYMLINK_NOFOLLOW, list, sizeof list);
    if (n < 0 && errno == ENOSYS) return false;
    note_attribute_names(n, list, device, xattrs, e);
    return true;
}

void read_attribute_names_of(int fd, dev_t device, XattrSupport& xattrs, Listed& e) {
    alignas(8) char list[4096];
    note_attribute_names(::flistxattr(fd, list, sizeof list), list, device, xattrs, e);
}

// The entry's user.DOSATTRIB, asked relative to the directory; the path
// through the descriptor is the fallback, as short as the name however
// deep the walk.
std::optional<std::uint32_t> dos_bits(int dirfd, const char* name, dev_t device,
                                      XattrSupport& xattrs) {
    const std::string via_fd = "/proc/self/fd/" + std::to_string(dirfd) + "/" + name;
    return read_dos_attributes(via_fd, device, xattrs, dirfd, name);
}

// Whether the files of a directory whose attribute names could not be
// read are asked for user.DOSATTRIB. Asking costs a system call per file
// and almost every tree has none, so the rule is: a file system is asked
// file by file once any directory on it, or the first regular file of any
// directory, has been seen holding one (Samba writes it on every file and
// directory it creates, so a Samba tree is recognised at its first
// directory). Until then each directory costs two look-ups, not one per
// file. Where the names were read (kernels with listxattrat), exactly the
// entries that hold one are asked.
bool ask_for_dos(int dirfd, const Listing& dir, dev_t device, XattrSupport& xattrs) {
    if (xattrs.refused(device)) return false;
    if (xattrs.holds_dos(device)) return true;
    char buffer[256];
    const ssize_t n = ::fgetxattr(dirfd, dos_attribute_xattr, buffer, sizeof buffer);
    if (n >= 0 || errno == ERANGE) {
        xattrs.mark_holds_dos(device);
        return true;
    }
    if (errno == ENOTSUP) {
        xattrs.mark_refused(device);
        return false;
    }
    for (const Listed& e : dir.entries) {
        if (!e.regular) continue;
        if (dos_bits(dirfd, dir.system_name(e), device, xattrs)) {
            xattrs.mark_holds_dos(device);
            return true;
        }
        break;
    }
    return false;
}

}  // namespace platform::posix
