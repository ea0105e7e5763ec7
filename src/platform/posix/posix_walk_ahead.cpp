// The reader ahead: a second thread that reads the walk's next directories
// while the walk formats and writes what it has.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_directory.hpp"

namespace platform::posix {
namespace {

// Reading ahead pays when the walk has work of its own meanwhile: several
// subdirectories to go through, or many entries to list before it goes
// down. A chain of small directories is read by the walk itself: handing
// each one over and back costs more than reading it.
constexpr std::size_t read_ahead_from_entries = 16;
bool worth_reading_ahead(const Listing& l, std::size_t subdirectories) {
    return subdirectories > 1 ||
           (subdirectories == 1 && l.entries.size() >= read_ahead_from_entries);
}

// The subdirectories of a listing the walk will enter, in order.
std::vector<std::string> subdirectories(const Listing& l, std::size_t most) {
    std::vector<std::string> names;
    for (const Listed& e : l.entries) {
        if ((e.attributes & attr::directory) == 0 || (e.attributes & attr::reparse_point)) continue;
        const std::string_view name(l.system_name(e), e.bytes_size);
        if (name == "." || name == "..") continue;
        if (names.size() == most) break;
        names.emplace_back(name);
    }
    return names;
}

}  // namespace

void lower_thread_priority() {
    // Ten steps down from where the process stands, as far as the scale goes.
    constexpr int lower_by = 10;
    constexpr int lowest = 19;
    // On Linux a priority is a thread's own: the call concerns this one.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno != 0) return;
    ::setpriority(PRIO_PROCESS, self, std::min(now + lower_by, lowest));
}

WalkAhead::WalkAhead(const std::atomic<std::size_t>& contents_up_to)
    : contents_up_to_(contents_up_to), worker_(thread_without_signals([this] { work(); })) {}

WalkAhead::~WalkAhead() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        for (auto& read : reads_) read->cut = true;
    }
    wake_worker_.notify_all();
    worker_.join();
    for (auto& read : reads_)
        if (read->fd >= 0) ::close(read->fd);
}

bool WalkAhead::plan(const WalkDir& dir, int fd) {
    std::vector<std::string> names = subdirectories(dir.listing, max_planned_per_directory);
    if (!worth_reading_ahead(dir.listing, names.size())) return false;
    const std::lock_guard lock(mutex_);
    const std::size_t before = reads_.size();
    queue(names, fd, dir.device, &dir, 0, 0);
    return reads_.size() != before;
}

std::unique_ptr<AheadRead> WalkAhead::take(const WalkDir& parent, const std::string& name) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto at = std::find_if(reads_.begin(), reads_.end(), [&](const auto& r) {
            return !r->abandoned && r->parent == &parent && r->name == name;
        });
        if (at == reads_.end()) return nullptr;
        if ((*at)->state == AheadRead::State::working) {
            // Rather than wait, read one of the next directories too.
            if (AheadRead* other = next_waiting())
                perform(*other, lock, helper_xattrs_);
            else
                read_done_.wait(lock);
            continue;
        }
        std::unique_ptr<AheadRead> read = std::move(*at);
        reads_.erase(at);
        if (read->state == AheadRead::State::done) let_go(*read);
        read->parent_fd.reset();
        release_lenders();
        // The reader is woken once half its room is free, not at every
        // directory: a wake-up costs more than a small directory's read.
        if (held_ <= max_held / 2 && next_waiting()) wake_worker_.notify_one();
        if (read->state != AheadRead::State::done) return nullptr;
        return read;
    }
}

void WalkAhead::adopt(const AheadRead& read, const WalkDir& dir) {
    if (!read.planned_children) return;
    const std::lock_guard lock(mutex_);
    for (auto& r : reads_)
        if (!r->parent && r->parent_serial == read.serial) r->parent = &dir;
}

void WalkAhead::forget(const WalkDir& dir) {
    const std::lock_guard lock(mutex_);
    drop([&dir](const AheadRead& r) { return r.parent == &dir; });
    release_lenders();
    if (next_waiting()) wake_worker_.notify_one();
}

void WalkAhead::pass_by(const WalkDir& parent, const std::string& name) {
    const std::lock_guard lock(mutex_);
    drop([&](const AheadRead& r) { return r.parent == &parent && r.name == name; });
    release_lenders();
    if (next_waiting()) wake_worker_.notify_one();
}

void WalkAhead::queue(std::vector<std::string>& names, int fd, dev_t device, const WalkDir* parent,
                      std::uint64_t parent_serial, std::size_t at) {
    if (lent_ >= max_lent_descriptors || reads_.size() >= max_queued) return;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    auto shared = std::make_shared<SharedFd>(copy);
    lenders_.push_back(shared);
    ++lent_;
    std::vector<std::unique_ptr<AheadRead>> planned;
    for (auto& name : names) {
        auto read = std::make_unique<AheadRead>();
        read->parent = parent;
        read->parent_serial = parent_serial;
        read->serial = ++serials_;
        read->parent_fd = shared;
        read->parent_device = device;
        read->name = std::move(name);
        planned.push_back(std::move(read));
    }
    reads_.insert(reads_.begin() + static_cast<std::ptrdiff_t>(at),
                  std::make_move_iterator(planned.begin()), std::make_move_iterator(planned.end()));
    wake_worker_.notify_one();
}

template <class Pick>
void WalkAhead::drop(Pick unwanted) {
    std::vector<std::uint64_t> gone;
    for (auto at = reads_.begin(); at != reads_.end();) {
        AheadRead& read = **at;
        const bool planned_by_gone =
            !read.parent && std::find(gone.begin(), gone.end(), read.parent_serial) != gone.end();
        if (read.abandoned || (!unwanted(read) && !planned_by_gone)) {
            ++at;
            continue;
        }
        if (read.planned_children) gone.push_back(read.serial);
        if (read.state == AheadRead::State::working) {
            read.abandoned = true;
            read.cut = true;
            ++at;
            continue;
        }
        if (read.fd >= 0) ::close(read.fd);
        if (read.state == AheadRead::State::done) let_go(read);
        at = reads_.erase(at);
    }
}

void WalkAhead::let_go(const AheadRead& read) {
    --held_;
    held_entries_ -= read.listing.entries.size();
}

void WalkAhead::release_lenders() {
    std::erase_if(lenders_, [](const std::weak_ptr<SharedFd>& w) { return w.expired(); });
    lent_ = lenders_.size();
}

AheadRead* WalkAhead::next_waiting() {
    if (held_ >= max_held || held_entries_ >= max_held_entries) return nullptr;
    for (auto& read : reads_)
        if (read->state == AheadRead::State::waiting) return read.get();
    return nullptr;
}

void WalkAhead::work() {
    // A read ahead can wait an instant; the digest thread, woken on the
    // core this one holds, cannot. At an equal share it waited for this
    // thread's turn while the walk's thread hashed its files for it, and
    // that thread set the pace of the run.
    lower_thread_priority();
    std::unique_lock lock(mutex_);
    for (;;) {
        AheadRead* read = nullptr;
        wake_worker_.wait(lock, [&] { return stop_ || (read = next_waiting()) != nullptr; });
        if (stop_) return;
        perform(*read, lock, xattrs_);
    }
}

void WalkAhead::perform(AheadRead& read, std::unique_lock<std::mutex>& lock, XattrSupport& xattrs) {
    read.state = AheadRead::State::working;
    const int parent_fd = read.parent_fd->fd;
    lock.unlock();
    int fd = ::openat(parent_fd, read.name.c_str(), directory_flags | O_NOFOLLOW);
    if (fd >= 0 && ::fstat(fd, &read.st) != 0) {
        const int error = errno;
        ::close(fd);
        fd = -1;
        errno = error;
    }
    const int error = fd < 0 ? errno : 0;
    // A mount below is the walk's to read or to pass by (--ONEFS): nothing
    // of another file system is read ahead of it.
    if (fd >= 0 && read.st.st_dev == read.parent_device)
        read_listing(read.listing, fd, read.st.st_dev, false, xattrs, true,
                     contents_up_to_.load(std::memory_order_relaxed), &read.cut);
    std::vector<std::string> names;
    if (fd >= 0 && read.listing.readable) {
        names = subdirectories(read.listing, max_planned_per_directory);
        if (!worth_reading_ahead(read.listing, names.size())) names.clear();
    }
    lock.lock();
    read.fd = fd;
    read.error = error;
    read.state = AheadRead::State::done;
    read.parent_fd.reset();
    if (read.abandoned) {
        if (fd >= 0) ::close(fd);
        std::erase_if(reads_, [&read](const auto& r) { return r.get() == &read; });
    } else {
        ++held_;
        held_entries_ += read.listing.entries.size();
        if (!names.empty()) {
            const auto self = std::find_if(reads_.begin(), reads_.end(),
                                           [&read](const auto& r) { return r.get() == &read; });
            const std::size_t before = reads_.size();
            queue(names, fd, read.st.st_dev, nullptr, read.serial,
                  static_cast<std::size_t>(self - reads_.begin()) + 1);
            read.planned_children = reads_.size() != before;
        }
    }
    release_lenders();
    read_done_.notify_all();
}

}  // namespace platform::posix
