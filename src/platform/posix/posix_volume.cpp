// Volumes: the mount holding a path (from /proc/self/mountinfo), its file
// system type, a serial number and label from the udev links of its
// device, and free space.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

struct Mount {
    dev_t device = 0;
    std::string point;
    std::string options;
    std::string type;
    std::string source;
};

}  // namespace

// mountinfo writes space, tab, newline and backslash as "\ooo".
std::string unescape_octal(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

namespace {

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        if (end > pos) fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

bool parse_mount_line(std::string_view line, Mount& m) {
    const auto f = split_fields(line);
    if (f.size() < 7) return false;
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (dash + 2 >= f.size()) return false;
    unsigned major = 0, minor = 0;
    const std::string numbers(f[2]);
    if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2) return false;
    m.device = makedev(major, minor);
    m.point = unescape_octal(f[4]);
    m.options = std::string(f[5]);
    m.type = unescape_octal(f[dash + 1]);
    m.source = unescape_octal(f[dash + 2]);
    return true;
}

bool under(std::string_view path, std::string_view point) {
    if (point == "/") return !path.empty() && path.front() == '/';
    return path.substr(0, point.size()) == point &&
           (path.size() == point.size() || path[point.size()] == '/');
}

std::optional<std::string> real_path(std::u16string_view path) {
    const std::string p = to_bytes(path);
    if (p.empty()) return std::nullopt;
    char* resolved = ::realpath(p.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string out(resolved);
    std::free(resolved);
    return out;
}

// The mount holding a resolved path: the longest mount point above it, the
// later of two equal ones (it hides the earlier).
std::optional<Mount> mount_of(const std::string& resolved) {
    std::ifstream in("/proc/self/mountinfo");
    if (!in) return std::nullopt;
    std::optional<Mount> best;
    std::string line;
    while (std::getline(in, line)) {
        Mount m;
        if (!parse_mount_line(line, m) || !under(resolved, m.point)) continue;
        if (!best || m.point.size() >= best->point.size()) best = std::move(m);
    }
    return best;
}

bool has_option(std::string_view options, std::string_view wanted) {
    std::size_t pos = 0;
    while (pos <= options.size()) {
        const std::size_t end = std::min(options.find(',', pos), options.size());
        if (options.substr(pos, end - pos) == wanted) return true;
        pos = end + 1;
    }
    return false;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string file_system_name(const Mount& m) {
    const std::string type = lower(m.type);
    if (type == "ntfs" || type == "ntfs3" || type == "ntfs-3g" || type == "fuse.ntfs-3g" ||
        type == "fuseblk.ntfs-3g" ||
        (type == "fuseblk" && lower(m.source).find("ntfs") != std::string::npos))
        return "NTFS";
    if (type == "vfat") return "FAT32";
    std::string out(m.type);
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// The name of a /dev/disk/by-* link whose device is the mount's.
std::optional<std::string> disk_link_name(const char* folder, const Mount& m) {
    dev_t source_device = 0;
    struct stat st;
    if (::stat(m.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) source_device = st.st_rdev;
    DIR* dir = ::opendir(folder);
    if (!dir) return std::nullopt;
    std::optional<std::string> found;
    while (const struct dirent* d = ::readdir(dir)) {
        const std::string name(d->d_name);
        if (name == "." || name == "..") continue;
        if (::stat(join_path(folder, name).c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
        if (st.st_rdev == m.device || (source_device != 0 && st.st_rdev == source_device)) {
            found = name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::uint32_t> serial_from_uuid(std::string_view uuid) {
    // NTFS has a 64-bit serial (sixteen digits, no dashes); Windows shows its
    // low half, so the listing does too.
    if (uuid.size() == 16 && uuid.find('-') == std::string_view::npos) uuid.remove_prefix(8);
    std::uint32_t value = 0;
    int digits = 0;
    for (const char c : uuid) {
        if (c == '-') continue;
        const int v = hex_value(c);
        if (v < 0) return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(v);
        if (++digits == 8) return value;
    }
    return std::nullopt;
}

// udev writes unsafe bytes of a label as "\xHH".
std::string decode_label(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            hex_value(name[i + 2]) >= 0 && hex_value(name[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hex_value(name[i + 2]) * 16 + hex_value(name[i + 3])));
            i += 3;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

std::optional<VolumeInfo> PosixSystem::volume_info(std::u16string_view root) {
    const auto resolved = real_path(root);
    if (!resolved) return std::nullopt;
    struct statvfs vfs;
    if (::statvfs(resolved->c_str(), &vfs) != 0) return std::nullopt;

    VolumeInfo info;
    const auto mount = mount_of(*resolved);
    std::optional<std::uint32_t> serial;
    if (mount) {
        info.file_system = from_bytes(file_system_name(*mount));
        if (const auto uuid = disk_link_name("/dev/disk/by-uuid", *mount))
            serial = serial_from_uuid(*uuid);
        if (const auto label = disk_link_name("/dev/disk/by-label", *mount))
            info.label = from_bytes(decode_label(*label));
    }
    if (!serial) {
        const std::uint64_t fsid = vfs.f_fsid;
        serial = static_cast<std::uint32_t>(fsid ^ (fsid >> 32));
    }
    info.serial = *serial;
    const ssize_t probe = ::lgetxattr(resolved->c_str(), "user.filarix64.probe", nullptr, 0);
    info.named_streams = probe >= 0 || errno == ENODATA;
    return info;
}

std::optional<std::uint64_t> PosixSystem::free_space(std::u16string_view root) {
    struct statvfs vfs;
    const std::string p = to_bytes(root);
    if (p.empty() || ::statvfs(p.c_str(), &vfs) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
}

std::uint32_t PosixSystem::last_access_setting(std::u16string_view first_start_path) {
    const auto resolved = real_path(first_start_path);
    if (!resolved) return last_access_not_found;
    const auto mount = mount_of(*resolved);
    if (!mount) return last_access_not_found;
    return has_option(mount->options, "noatime") ? 1 : 0;
}

}  // namespace platform::posix
