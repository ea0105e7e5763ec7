// Large files mapped into memory for hashing, and the SIGBUS guard that
// keeps a mapped file truncated by someone else from ending the process.
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>

#include "platform/posix/posix_internal.hpp"

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif

namespace platform::posix {
namespace {

// The mappings in use, looked up by the SIGBUS handler. Plain atomics in a
// fixed array: the handler may run while another thread adds or drops one.
struct Watched {
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> damaged{false};
};
constexpr std::size_t watched_count = 32;
Watched watched[watched_count];

// Set before the handler is installed; the handler only reads them.
std::uintptr_t page_size = 4096;
struct sigaction earlier_action;
std::mutex install_mutex;

extern "C" void on_bus_error(int, siginfo_t* info, void*) {
    const int saved = errno;
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Watched& w : watched) {
        const std::uintptr_t begin = w.begin.load(std::memory_order_acquire);
        if (begin == 0 || at < begin || at >= w.end.load(std::memory_order_acquire)) continue;
        // The page past the file's new end reads as zeros from now on,
        // and the hashing that touched it runs on.
        const long zeros = ::syscall(SYS_mmap, at & ~(page_size - 1), page_size, PROT_READ,
                                     MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (zeros != -1) {
            w.damaged.store(true, std::memory_order_relaxed);
            errno = saved;
            return;
        }
        break;
    }
    // Not a page of ours: the fault comes again under the action that was
    // there before, which ends the process as it would have.
    ::sigaction(SIGBUS, &earlier_action, nullptr);
    errno = saved;
}

// The handler is put back when something installed another since (the
// console's fatal-signal handler), keeping the other as the fallback.
bool guard_installed() {
    const std::lock_guard lock(install_mutex);
    struct sigaction now {};
    if (::sigaction(SIGBUS, nullptr, &now) != 0) return false;
    if ((now.sa_flags & SA_SIGINFO) && now.sa_sigaction == on_bus_error) return true;
    page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    earlier_action = now;
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    return ::sigaction(SIGBUS, &action, nullptr) == 0;
}

Watched* watch(std::uintptr_t begin, std::uintptr_t end) {
    for (Watched& w : watched) {
        bool free = false;
        if (!w.taken.compare_exchange_strong(free, true)) continue;
        w.damaged.store(false, std::memory_order_relaxed);
        w.end.store(end, std::memory_order_release);
        w.begin.store(begin, std::memory_order_release);
        return &w;
    }
    return nullptr;
}

class FileMapping final : public MappedBytes {
public:
    FileMapping(void* base, std::size_t length, std::size_t lead, std::size_t size, Watched& w)
        : base_(base), length_(length), watched_(w) {
        data_ = static_cast<const unsigned char*>(base) + lead;
        size_ = size;
    }
    ~FileMapping() override {
        watched_.begin.store(0, std::memory_order_release);
        ::munmap(base_, length_);
        watched_.end.store(0, std::memory_order_relaxed);
        watched_.taken.store(false, std::memory_order_release);
    }
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    bool damaged() const override { return watched_.damaged.load(std::memory_order_relaxed); }
    // The page tables filled in one call cost less than a fault for every
    // few pages; a page past the file's end is left out, not faulted.
    void load(std::size_t offset, std::size_t n) const override {
        const auto from = reinterpret_cast<std::uintptr_t>(data_ + offset) & ~(page_size - 1);
        const auto to = reinterpret_cast<std::uintptr_t>(data_ + offset + n);
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_READ);
    }

private:
    void* base_;
    std::size_t length_;
    Watched& watched_;
};

}  // namespace

std::unique_ptr<MappedBytes> map_for_reading(int fd, std::uint64_t offset, std::size_t size) {
    if (size == 0 || !guard_installed()) return nullptr;
    const std::size_t lead = static_cast<std::size_t>(offset % page_size);
    const std::size_t length = lead + size;
    void* base =
        ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset - lead));
    if (base == MAP_FAILED) return nullptr;
    const auto begin = reinterpret_cast<std::uintptr_t>(base);
    Watched* w = watch(begin, begin + length);
    if (!w) {
        ::munmap(base, length);
        return nullptr;
    }
    return std::make_unique<FileMapping>(base, length, lead, size, *w);
}

}  // namespace platform::posix
