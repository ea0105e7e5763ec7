// Directory searches: a directory is read whole when the search starts,
// "." and ".." first (none at the root of a mount), the other names in
// name_less order, every name filtered through the Windows mask rules.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/posix/posix_directory.hpp"

namespace platform::posix {
namespace {

struct Entry {
    std::u16string name;
    std::string bytes;
    unsigned char type = DT_UNKNOWN;
    bool dot = false;  // "." or ".."
};

// Fills every field from a status record. `xattr_path` names the entry for
// the DOSATTRIB look-up (not done for links, which cannot carry one).
void fill_full(const struct statx& st, int dirfd, const char* at_name,
               const std::string& xattr_path, std::string_view hidden_name, XattrSupport& xattrs,
               FindData& out) {
    EntryFacts facts = facts_of(st);
    std::optional<std::uint32_t> dos;
    if (S_ISLNK(facts.mode)) {
        facts.target_is_directory = target_is_directory(dirfd, at_name);
    } else {
        dos = read_dos_attributes(xattr_path, makedev(st.stx_dev_major, st.stx_dev_minor), xattrs,
                                  dirfd, at_name);
    }
    out.attributes = compute_attributes(facts, hidden_name, dos);
    out.link = S_ISLNK(facts.mode);
    take_status(st, facts.mode, out);
}

class PosixSearch final : public DirSearch {
public:
    PosixSearch(int dirfd, std::string dir, std::vector<Entry> entries, SearchDetail detail,
                XattrSupport& xattrs)
        : dirfd_(dirfd),
          dir_(std::move(dir)),
          entries_(std::move(entries)),
          detail_(detail),
          xattrs_(xattrs) {}
    ~PosixSearch() override {
        if (dirfd_ >= 0) ::close(dirfd_);
    }
    PosixSearch(const PosixSearch&) = delete;
    PosixSearch& operator=(const PosixSearch&) = delete;

    bool next(FindData& entry) override {
        while (next_ < entries_.size()) {
            const Entry& e = entries_[next_++];
            if (fill(e, entry)) return true;
        }
        // Everything is delivered: give the descriptor back early.
        if (dirfd_ >= 0) ::close(dirfd_);
        dirfd_ = -1;
        return false;
    }

private:
    bool fill(const Entry& e, FindData& out) {
        out = FindData{};
        out.name = e.name;
        const std::string_view hidden_name = e.dot ? std::string_view{} : e.bytes;
        const char* at = e.bytes.c_str();
        if (detail_ == SearchDetail::full) {
            struct statx st;
            if (::statx(dirfd_, at, stat_flags, stat_mask, &st) == 0) {
                fill_full(st, dirfd_, at, join_path(dir_, e.bytes), hidden_name, xattrs_, out);
                return true;
            }
            if (errno == ENOENT) return false;  // gone since the directory was read
            // Listed but not examinable (a directory without search
            // permission): deliver what the directory itself told.
            EntryFacts facts;
            facts.mode = mode_of_type(e.type) | S_IWUSR;
            out.attributes = compute_attributes(facts, hidden_name, std::nullopt);
            out.link = S_ISLNK(facts.mode);
            return true;
        }
        EntryFacts facts;
        facts.mode = mode_of_type(e.type) | S_IWUSR;
        if (e.type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(dirfd_, at, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                facts.mode = st.st_mode;
            } else if (errno == ENOENT) {
                return false;
            }
        }
        if (S_ISLNK(facts.mode)) facts.target_is_directory = target_is_directory(dirfd_, at);
        out.attributes = compute_attributes(facts, hidden_name, std::nullopt);
        out.link = S_ISLNK(facts.mode);
        return true;
    }

    int dirfd_;
    std::string dir_;
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
    SearchDetail detail_;
    XattrSupport& xattrs_;
};

// The search of a plain path: one entry, already delivered.
class SingleSearch final : public DirSearch {
public:
    bool next(FindData&) override { return false; }
};

// Reads the names of a directory that pass the mask.
bool read_names(int dirfd, std::u16string_view mask, std::vector<Entry>& out) {
    alignas(8) char buffer[32768];
    for (;;) {
        const ssize_t n = ::getdents64(dirfd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        for (ssize_t off = 0; off < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + off);
            off += d->d_reclen;
            const std::string_view bytes(d->d_name);
            if (bytes == "." || bytes == "..") continue;
            std::u16string name = from_bytes(bytes);
            if (!mask_matches(mask, name)) continue;
            out.push_back(Entry{std::move(name), std::string(bytes), d->d_type, false});
        }
    }
}

}  // namespace

std::optional<PreciseFacts> PosixSystem::precise_facts(std::u16string_view path,
                                                       const FindData& found) {
    if (found.precise) return found.precise;
    // An entry no search examined: asked of the entry itself, never of
    // what a link points to.
    const std::string p = strip_trailing_separators(to_bytes(path));
    struct statx st;
    if (p.empty() || ::statx(AT_FDCWD, p.c_str(), stat_flags, STATX_BASIC_STATS, &st) != 0)
        return std::nullopt;
    return precise_of(st);
}

std::unique_ptr<DirSearch> PosixSystem::find_first(std::u16string_view pattern, FindData& first,
                                                   SearchDetail detail) {
    search_refused_ = false;
    const auto slash16 = pattern.rfind(u'/');
    const std::u16string_view mask =
        slash16 == std::u16string_view::npos ? pattern : pattern.substr(slash16 + 1);

    if (!has_wildcards(mask)) {
        const std::string path = strip_trailing_separators(to_bytes(pattern));
        const std::string_view name = last_component(path);
        if (name.empty()) return nullptr;
        // A path too long to take whole is looked at from its directory.
        std::string leaf;
        const int parent = path.size() >= PATH_MAX ? open_long_parent(path, leaf) : AT_FDCWD;
        if (parent == -1) return nullptr;
        const char* at = parent == AT_FDCWD ? path.c_str() : leaf.c_str();
        struct statx st;
        const bool found = ::statx(parent, at, stat_flags, stat_mask, &st) == 0;
        if (found) {
            first = FindData{};
            first.name = from_bytes(name);
            const bool dot = name == "." || name == "..";
            fill_full(st, parent, at, path, dot ? std::string_view{} : name, xattrs_, first);
        }
        if (parent != AT_FDCWD) ::close(parent);
        if (!found) return nullptr;
        return std::make_unique<SingleSearch>();
    }

    std::string dir;
    if (slash16 != std::u16string_view::npos)
        dir = slash16 == 0 ? std::string("/") : to_bytes(pattern.substr(0, slash16));
    const int dirfd =
        ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (dirfd < 0) {
        search_refused_ = refusal(errno);
        return nullptr;
    }

    std::vector<Entry> entries;
    if (!is_mount_root(dirfd, dir)) {
        for (const char* dot : {".", ".."}) {
            std::u16string name = from_bytes(dot);
            if (mask_matches(mask, name))
                entries.push_back(Entry{std::move(name), dot, DT_DIR, true});
        }
    }
    const std::size_t dots = entries.size();
    if (!read_names(dirfd, mask, entries)) {
        ::close(dirfd);
        search_refused_ = true;
        return nullptr;
    }
    std::sort(entries.begin() + static_cast<std::ptrdiff_t>(dots), entries.end(),
              [](const Entry& a, const Entry& b) { return name_less(a.name, b.name); });

    auto search =
        std::make_unique<PosixSearch>(dirfd, std::move(dir), std::move(entries), detail, xattrs_);
    if (!search->next(first)) return nullptr;
    return search;
}

}  // namespace platform::posix
