// Named streams of the Linux backend: the user extended attributes of an
// entry, Samba's "user.DosStream.NAME:$DATA" and every other "user.NAME"
// (except Samba's attribute record "user.DOSATTRIB").
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {

bool ends_with_data_suffix(std::string_view name) {
    return name.size() >= stream_suffix.size() &&
           equal_ignoring_case(from_bytes(name.substr(name.size() - stream_suffix.size())),
                               from_bytes(stream_suffix));
}

void drop_stream_terminator(std::string& value) {
    if (!value.empty() && value.back() == '\0') value.pop_back();
}

namespace {

// The whole list of attribute names; nothing when it cannot be read.
std::optional<std::string> list_names(const std::string& path, StreamListing::Status& status) {
    std::string list;
    // The list may grow between the two calls: ask again a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t need = ::llistxattr(path.c_str(), nullptr, 0);
        if (need < 0) {
            // A file system without extended attributes has no streams;
            // a vanished, forbidden or unreachable entry is one that
            // cannot be opened.
            if (errno == ENOTSUP) return std::string();
            status = errno == ENOENT || errno == EACCES || errno == ENOTDIR ||
                             errno == ENAMETOOLONG || errno == ELOOP
                         ? StreamListing::Status::not_opened
                         : StreamListing::Status::read_failed;
            return std::nullopt;
        }
        if (need == 0) return std::string();
        list.assign(static_cast<std::size_t>(need), '\0');
        const ssize_t n = ::llistxattr(path.c_str(), list.data(), list.size());
        if (n >= 0) {
            list.resize(static_cast<std::size_t>(n));
            return list;
        }
        if (errno != ERANGE) break;
    }
    status = StreamListing::Status::read_failed;
    return std::nullopt;
}

}  // namespace

StreamListing PosixSystem::named_streams(std::u16string_view path) {
    StreamListing result;
    // The walk read the attribute names of what it lists.
    if (walk_.known_without_streams(path)) return result;
    const std::string p = strip_trailing_separators(to_bytes(path));
    if (p.empty()) {
        result.status = StreamListing::Status::not_opened;
        return result;
    }
    // The listing's own failure tells an entry that is not there (or not
    // reachable) from one whose attributes cannot be read: no look first.
    const auto list = list_names(p, result.status);
    if (!list) return result;

    for (std::size_t pos = 0; pos < list->size();) {
        const std::size_t end = std::min(list->find('\0', pos), list->size());
        const std::string key = list->substr(pos, end - pos);
        pos = end + 1;
        const std::string_view k(key);
        std::string shown;
        bool samba_stream = false;
        if (k.substr(0, stream_prefix.size()) == stream_prefix) {
            shown.assign(1, ':').append(k.substr(stream_prefix.size()));
            if (!ends_with_data_suffix(shown)) shown += stream_suffix;
            samba_stream = true;
        } else if (k.substr(0, 5) == "user." && key != dos_attribute_xattr) {
            shown.assign(1, ':').append(k.substr(5)).append(stream_suffix);
        } else {
            continue;
        }
        NamedStream stream;
        stream.name = from_bytes(shown);
        if (samba_stream) {
            // The size is the contents' without Samba's terminator.
            auto value = read_xattr(p, key.c_str());
            if (!value) {
                if (errno == ENODATA) continue;  // removed since the list was read
                result.status = StreamListing::Status::read_failed;
                continue;
            }
            drop_stream_terminator(*value);
            stream.size = static_cast<std::int64_t>(value->size());
        } else {
            const ssize_t size = ::lgetxattr(p.c_str(), key.c_str(), nullptr, 0);
            if (size < 0) {
                if (errno == ENODATA) continue;
                // Known to exist but unreadable (no read permission): the
                // listing is incomplete, which the caller must say.
                result.status = StreamListing::Status::read_failed;
                continue;
            }
            stream.size = size;
        }
        result.streams.push_back(std::move(stream));
    }
    // Attribute lists come in no settled order; a listing must be repeatable.
    std::sort(result.streams.begin(), result.streams.end(),
              [](const NamedStream& a, const NamedStream& b) { return name_less(a.name, b.name); });
    return result;
}

}  // namespace platform::posix
