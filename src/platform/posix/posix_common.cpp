// Helpers shared by the facilities of the Linux backend.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {

std::string strip_trailing_separators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string_view last_component(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return {};
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string join_path(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() && out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

FileTicks ticks_from(std::int64_t seconds, std::uint32_t nanoseconds) {
    const std::int64_t since_1601 = seconds + epoch_difference_seconds;
    if (since_1601 < 0) return 0;
    return static_cast<FileTicks>(since_1601) * ticks_per_second + nanoseconds / 100;
}

bool XattrSupport::refused(dev_t device) const {
    return std::find(refused_.begin(), refused_.end(), device) != refused_.end();
}

void XattrSupport::mark_refused(dev_t device) {
    if (!refused(device)) refused_.push_back(device);
}

bool XattrSupport::holds_dos(dev_t device) const {
    return std::find(holding_.begin(), holding_.end(), device) != holding_.end();
}

void XattrSupport::mark_holds_dos(dev_t device) {
    if (!holds_dos(device)) holding_.push_back(device);
}

std::optional<std::string> read_xattr(const std::string& path, const char* name,
                                      bool* unsupported) {
    std::string value(256, '\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return value;
        }
        if (errno == ENOTSUP && unsupported) *unsupported = true;
        if (errno != ERANGE) return std::nullopt;
        const ssize_t need = ::lgetxattr(path.c_str(), name, nullptr, 0);
        if (need < 0) return std::nullopt;
        value.assign(static_cast<std::size_t>(need) + 1, '\0');  // + 1: it may grow
    }
    return std::nullopt;
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of the "0x..." text at the start of a DOSATTRIB value; 0 if none.
std::size_t hex_text_length(std::string_view value) {
    if (value.size() < 3 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X')) return 0;
    std::size_t end = 2;
    while (end < value.size() && hex_digit(value[end]) >= 0) ++end;
    return (end == 2 || end - 2 > 8) ? 0 : end;
}

std::uint32_t get_le(std::string_view data, std::size_t offset, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(data[offset + static_cast<std::size_t>(i)]);
    return v;
}

// Newer Samba versions follow the text with a binary record (version,
// level, for version 3 and later a flags word, then the bits again).
// Finds the offset of those bits, trying the layouts with and without
// alignment padding, and accepts only a place holding the same bits as the
// text. npos when there is no such record.
std::size_t binary_bits_offset(std::string_view value, std::size_t text_end, std::uint32_t bits) {
    if (text_end >= value.size() || value[text_end] != '\0') return std::string_view::npos;
    const std::size_t start = text_end + 1;
    for (const bool aligned : {true, false}) {
        for (const bool has_level : {true, false}) {
            std::size_t off = aligned ? (start + 1) & ~std::size_t{1} : start;
            if (off + 4 > value.size()) continue;
            const std::uint32_t version = get_le(value, off, 2);
            off += 2;
            if (version < 1 || version > 5) continue;
            if (has_level) {
                if (get_le(value, off, 2) != version) continue;
                off += 2;
            }
            if (aligned) off = (off + 3) & ~std::size_t{3};
            if (version >= 3) off += 4;
            if (off + 4 > value.size()) continue;
            if (get_le(value, off, 4) == bits) return off;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::optional<std::uint32_t> parse_dos_attributes(std::string_view value) {
    const std::size_t end = hex_text_length(value);
    if (end == 0) return std::nullopt;
    std::uint32_t bits = 0;
    for (std::size_t i = 2; i < end; ++i)
        bits = (bits << 4) | static_cast<std::uint32_t>(hex_digit(value[i]));
    return bits;
}

std::string rewrite_dos_attributes(std::string_view value, std::uint32_t bits) {
    static const char digits[] = "0123456789abcdef";
    const std::size_t end = hex_text_length(value);
    const auto old_bits = parse_dos_attributes(value);
    std::size_t need = 1;
    while (need < 8 && (bits >> (4 * need)) != 0) ++need;
    if (end == 0 || !old_bits) {
        std::string out = "0x";
        for (std::size_t i = need; i-- > 0;) out.push_back(digits[(bits >> (4 * i)) & 0xF]);
        out.push_back('\0');
        return out;
    }
    // Keep the length of the text, or grow it by whole multiples of four
    // (leading zeros), so that any binary record after it stays aligned.
    const std::size_t old_width = end - 2;
    std::size_t width = old_width;
    while (width < need) width += 4;
    std::string out = "0x";
    for (std::size_t i = width; i-- > 0;)
        out.push_back(i < 8 ? digits[(bits >> (4 * i)) & 0xF] : '0');
    const std::size_t binary = binary_bits_offset(value, end, *old_bits);
    out.append(value.substr(end));
    if (binary != std::string_view::npos) {
        const std::size_t at = binary + (width - old_width);
        for (int i = 0; i < 4; ++i)
            out[at + static_cast<std::size_t>(i)] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    return out;
}

namespace {

// getxattrat(2), called directly: the C library does not wrap it yet.
#if defined(__x86_64__) || defined(__aarch64__) || (defined(__riscv) && __riscv_xlen == 64)
constexpr long getxattrat_number = 464;
#else
constexpr long getxattrat_number = -1;
#endif

struct XattrArgs {
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

// -1 with errno as for lgetxattr; -2 when the call itself is not there.
ssize_t get_xattr_relative(int dirfd, const char* name, const char* key, char* buffer,
                           std::size_t size) {
    if (getxattrat_number < 0) return -2;
    XattrArgs args{reinterpret_cast<std::uintptr_t>(buffer), static_cast<std::uint32_t>(size), 0};
    const long n =
        ::syscall(getxattrat_number, dirfd, name, AT_SYMLINK_NOFOLLOW, key, &args, sizeof args);
    if (n >= 0) return n;
    // Only the answers an attribute look-up gives are trusted; anything
    // else (an old kernel, a filter refusing unknown calls) means the call
    // is not usable here.
    if (errno == ENODATA || errno == ENOTSUP || errno == ERANGE || errno == ENOENT) return -1;
    return -2;
}

}  // namespace

std::optional<std::uint32_t> read_dos_attributes(const std::string& path, dev_t device,
                                                 XattrSupport& support, int dirfd,
                                                 const char* name) {
    if (support.refused(device)) return std::nullopt;
    char buffer[256];
    ssize_t n = -2;
    if (dirfd >= 0 && name && support.relative_calls()) {
        n = get_xattr_relative(dirfd, name, dos_attribute_xattr, buffer, sizeof buffer);
        if (n == -2) support.no_relative_calls();
    }
    if (n == -2) n = ::lgetxattr(path.c_str(), dos_attribute_xattr, buffer, sizeof buffer);
    if (n < 0) {
        if (errno == ENOTSUP) {
            support.mark_refused(device);
        } else if (errno == ERANGE) {
            const auto value = read_xattr(path, dos_attribute_xattr);
            if (value) return parse_dos_attributes(*value);
        }
        return std::nullopt;
    }
    return parse_dos_attributes(std::string_view(buffer, static_cast<std::size_t>(n)));
}

EntryFacts facts_of(const struct statx& st) {
    EntryFacts facts;
    facts.mode = st.stx_mode;
    facts.encrypted = (st.stx_attributes_mask & STATX_ATTR_ENCRYPTED) != 0 &&
                      (st.stx_attributes & STATX_ATTR_ENCRYPTED) != 0;
    return facts;
}

namespace {

std::optional<std::int64_t> nanoseconds_of(const struct statx_timestamp& t) {
    constexpr std::int64_t per_second = 1000000000;
    if (t.tv_sec > (INT64_MAX - per_second) / per_second || t.tv_sec < INT64_MIN / per_second)
        return std::nullopt;
    return t.tv_sec * per_second + t.tv_nsec;
}

}  // namespace

std::optional<PreciseFacts> precise_of(const struct statx& st) {
    const auto modified = nanoseconds_of(st.stx_mtime);
    const auto changed = nanoseconds_of(st.stx_ctime);
    if (!modified || !changed) return std::nullopt;
    PreciseFacts facts;
    facts.modified_ns = *modified;
    facts.change_time_ns = *changed;
    facts.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    facts.inode = st.stx_ino;
    facts.links = st.stx_nlink;
    return facts;
}

std::uint32_t compute_attributes(const EntryFacts& facts, std::string_view name,
                                 std::optional<std::uint32_t> dos) {
    std::uint32_t bits = 0;
    const bool link = S_ISLNK(facts.mode);
    if (dos) {
        bits = *dos & ~(attr::directory | attr::reparse_point);
    } else {
        if (S_ISREG(facts.mode)) bits |= attr::archive;
        if (!name.empty() && name.front() == '.') bits |= attr::hidden;
        if (!link && (facts.mode & S_IWUSR) == 0) bits |= attr::readonly;
        if (facts.encrypted) bits |= attr::encrypted;
    }
    if (S_ISDIR(facts.mode)) bits |= attr::directory;
    if (link) {
        bits |= attr::reparse_point;
        if (facts.target_is_directory) bits |= attr::directory;
    }
    return bits;
}

bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

long long read_some(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return n;
        if (errno != EINTR || interrupt_pending()) return -1;
    }
}

}  // namespace platform::posix
