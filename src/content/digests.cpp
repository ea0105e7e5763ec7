#include "content/digests.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>

#include "content/blake3.hpp"
#include "content/crc32.hpp"
#include "content/digest_hex.hpp"
#include "content/md5.hpp"
#include "content/sha1.hpp"
#include "content/sha256.hpp"
#include "content/sha3.hpp"
#include "content/sha512.hpp"
#include "content/xxh3.hpp"

namespace filarix {

namespace {

// The kernel of each digest: a hash class from its bytes to its text.
template <class Hash>
struct HashKernel {
    explicit HashKernel(bool hardware) : hash(make(hardware)) {}
    static Hash make(bool hardware) {
        if constexpr (std::is_constructible_v<Hash, bool>)
            return Hash(hardware);
        else
            return Hash();
    }
    void update(const unsigned char* data, std::size_t n) { hash.update(data, n); }
    std::string finish(DigestTexts&) {
        const auto digest = hash.finish();
        return to_upper_hex(digest.data(), digest.size());
    }
    Hash hash;
};

// CRC-32's eight upper-case hexadecimal digits.
std::string crc_text(std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return to_upper_hex(bytes, 4);
}

struct CrcKernel {
    explicit CrcKernel(bool hardware) : hardware(hardware) {}
    void update(const unsigned char* data, std::size_t n) { crc.update(data, n, hardware); }
    std::string finish(DigestTexts& texts) {
        texts.crc_value = crc.value();
        return crc_text(texts.crc_value);
    }
    Crc32 crc;
    bool hardware;
};

// The kernels, in the registry's order: the tuple's index is the digest's id.
using Kernels =
    std::tuple<CrcKernel, HashKernel<Md5>, HashKernel<Sha1>, HashKernel<Sha256>, HashKernel<Sha512>,
               HashKernel<Sha3_256>, HashKernel<Xxh3_128>, HashKernel<Blake3>>;
static_assert(std::tuple_size_v<Kernels> == digest_count);

// Rough seconds per GiB of each digest on a current x86-64 core; with the
// processor's SHA instructions in use (`sha_hw`) SHA-1 and SHA-256 cost less.
int digest_cost(DigestId id, bool sha_hw) {
    constexpr int costs[] = {1, 14, 20, 35, 16, 22, 1, 4};
    static_assert(std::size(costs) == digest_count);
    if (sha_hw && id == DigestId::sha256) return 6;
    if (sha_hw && id == DigestId::sha1 && sha1_hardware_available()) return 6;
    return costs[digest_index(id)];
}

// The digest contexts of one file; a lane is a set of them, one bit each.
struct Contexts {
    explicit Contexts(bool hardware)
        : kernels(make(hardware, std::make_index_sequence<digest_count>{})) {}

    template <std::size_t... I>
    static Kernels make(bool hardware, std::index_sequence<I...>) {
        return Kernels(((void)I, hardware)...);
    }

    // Calls f(kernel, id) for every digest.
    template <class F>
    void each(F&& f) {
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (f(std::get<I>(kernels), static_cast<DigestId>(I)), ...);
        }
        (std::make_index_sequence<digest_count>{});
    }

    // BLAKE3 hashes its large subtrees, of up to `largest_chunks` chunks,
    // in two halves at once from now on.
    void split_blake3(Blake3Splitter* splitter, std::size_t largest_chunks = 256) {
        std::get<digest_index(DigestId::blake3)>(kernels).hash.set_splitter(splitter,
                                                                            largest_chunks);
    }

    void update(unsigned lanes, const unsigned char* data, std::size_t n) {
        each([&](auto& kernel, DigestId id) {
            if (lanes & DigestSet::bit(id)) kernel.update(data, n);
        });
    }

    Kernels kernels;
};

// The digests asked for, split in two lanes of about equal work: the
// reader's, which also pays for the reads, and the worker's.
struct LaneSplit {
    unsigned reader = 0;
    unsigned worker = 0;
};

// What the reader pays for its bytes, in the digests' cost units: a copy
// through read(), or next to nothing for a mapping's page tables.
constexpr int read_cost = 2;
constexpr int mapping_cost = 0;

LaneSplit split_lanes(DigestRequest want, unsigned wanted, int bytes_cost = read_cost) {
    const bool sha_hw = want.hardware && sha256_hardware_available();
    struct Cost {
        unsigned lane;
        int cost;
    };
    Cost costs[digest_count];
    for (std::size_t i = 0; i < digest_count; ++i) {
        const auto id = static_cast<DigestId>(i);
        costs[i] = {DigestSet::bit(id), digest_cost(id, sha_hw)};
    }
    std::stable_sort(std::begin(costs), std::end(costs),
                     [](const Cost& a, const Cost& b) { return a.cost > b.cost; });
    LaneSplit split;
    int reader_load = bytes_cost;
    int worker_load = 0;
    // Digests that cost no more than the read are cheaper on the reader,
    // while the bytes are in its cache, than handed over.
    int total = 0;
    for (const Cost& c : costs)
        if (wanted & c.lane) total += c.cost;
    if (total <= reader_load) {
        split.reader = wanted;
        return split;
    }
    for (const Cost& c : costs) {
        if (!(wanted & c.lane)) continue;
        if (worker_load <= reader_load) {
            split.worker |= c.lane;
            worker_load += c.cost;
        } else {
            split.reader |= c.lane;
            reader_load += c.cost;
        }
    }
    return split;
}

// A second thread for the parts of one digest's work (BLAKE3's large
// subtrees): the caller and it each take the next part until none is
// left. Started at its first use, so a run without such a digest starts
// no thread. On a busy machine the helper may not run for a while: the
// caller then does every part, and waits at the end only for a part the
// helper is doing. Each side polls a little before it sleeps; a flag
// tells the other side that a wake-up is needed.
class PartHelper final : public Blake3Splitter {
public:
    PartHelper() = default;
    PartHelper(const PartHelper&) = delete;
    PartHelper& operator=(const PartHelper&) = delete;
    ~PartHelper() {
        if (!thread_.joinable()) return;
        state_ = stop;
        wake(helper_asleep_, wake_);
        thread_.join();
    }

    void share(void (*job)(void*, std::size_t), void* argument, std::size_t count) override {
        if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
        job_ = job;
        argument_ = argument;
        count_ = count;
        next_ = 0;
        state_ = pending;
        wake(helper_asleep_, wake_);
        take_parts();
        State untaken = pending;
        if (state_.compare_exchange_strong(untaken, idle)) {
            retired_.reset();
            return;
        }
        wait_for(done, caller_asleep_, done_);
        state_ = idle;
    }

    // The mapped window whose parts are hashed now, or none: each part's
    // page tables are then filled by the core that hashes it.
    void set_window(const platform::MappedBytes* window) { window_ = window; }
    // A window done with: the helper unmaps it as it starts on the next
    // share's parts, while the caller is already hashing them.
    void retire(std::unique_ptr<platform::MappedBytes> window) { retired_ = std::move(window); }
    void before_part(const void* data, std::size_t size) override {
        if (const auto offset = window_offset(data)) window_->load(*offset, size);
    }

private:
    enum State { idle, pending, running, done, stop };
    static constexpr int polls = 100;

    // The state was just set: wakes the other side if it sleeps. Its flag
    // is set before it checks the state again, so one of the two sees the other.
    void wake(std::atomic<bool>& asleep, std::condition_variable& cv) {
        if (!asleep) return;
        const std::lock_guard lock(mutex_);
        cv.notify_one();
    }
    // Until the state is `want` (or stop, for the helper).
    void wait_for(State want, std::atomic<bool>& asleep, std::condition_variable& cv) {
        const auto ready = [&] {
            const State now = state_;
            return now == want || now == stop;
        };
        for (int i = 0; i < polls && !ready(); ++i) std::this_thread::yield();
        if (ready()) return;
        std::unique_lock lock(mutex_);
        asleep = true;
        cv.wait(lock, ready);
        asleep = false;
    }

    std::optional<std::size_t> window_offset(const void* data) const {
        if (window_ == nullptr) return std::nullopt;
        const auto* p = static_cast<const unsigned char*>(data);
        if (p < window_->data() || p >= window_->data() + window_->size()) return std::nullopt;
        return static_cast<std::size_t>(p - window_->data());
    }

    void take_parts() {
        for (std::size_t i; (i = next_.fetch_add(1)) < count_;) job_(argument_, i);
    }

    void work() {
        for (;;) {
            wait_for(pending, helper_asleep_, wake_);
            State untaken = pending;
            if (!state_.compare_exchange_strong(untaken, running)) {
                if (untaken == stop) return;
                continue;  // the caller took it back
            }
            retired_.reset();
            take_parts();
            state_ = done;
            wake(caller_asleep_, done_);
        }
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::atomic<State> state_{idle};
    std::atomic<bool> helper_asleep_{false};
    std::atomic<bool> caller_asleep_{false};
    void (*job_)(void*, std::size_t) = nullptr;
    void* argument_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    const platform::MappedBytes* window_ = nullptr;
    std::unique_ptr<platform::MappedBytes> retired_;
};

}  // namespace

// The read buffers and the worker thread, kept for the whole run. The
// reader fills the slots in turn and hashes its lane of each; the worker
// hashes its lane of the same slot behind it. A slot is filled again only
// when the worker has finished it, so both always see the same bytes.
class DigestWorker {
public:
    static constexpr std::size_t slot_size = 256 * 1024;
    static constexpr std::size_t slot_count = 4;

    explicit DigestWorker(bool two_threads) : two_threads_(two_threads) {
        constexpr std::size_t page = 4096;
        // Not zeroed: a page is made resident only when a read first fills it.
        storage_.reset(new unsigned char[slot_size * slot_count + page]);
        void* start = storage_.get();
        std::size_t room = slot_size * slot_count + page;
        // Page-aligned: the kernel copies into a misaligned buffer several
        // times more slowly than into an aligned one.
        base_ = static_cast<unsigned char*>(std::align(page, slot_size * slot_count, start, room));
    }
    ~DigestWorker() {
        if (worker_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stop_ = true;
            }
            wake_worker_.notify_one();
            worker_.join();
        }
    }

    bool two_threads() const { return two_threads_; }
    PartHelper& part_helper() { return part_helper_; }
    unsigned char* slot(std::size_t i) { return base_ + (i % slot_count) * slot_size; }

    // A new file: the worker hashes `lanes` of `contexts` from now on.
    void begin(Contexts* contexts, unsigned lanes) {
        if (!worker_.joinable()) worker_ = std::thread([this] { work(); });
        std::lock_guard<std::mutex> lock(mutex_);
        contexts_ = contexts;
        lanes_ = lanes;
        posted_ = done_ = 0;
    }
    // Hands the next n bytes, in the next slot or in a mapping, to the worker.
    void post(const unsigned char* data, std::size_t n) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            data_[posted_ % slot_count] = data;
            sizes_[posted_ % slot_count] = n;
            ++posted_;
        }
        wake_worker_.notify_one();
    }
    // Waits until slot number `index` may be filled again.
    void wait_for_slot(std::size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        slot_free_.wait(lock, [&] { return index < done_ + slot_count; });
    }
    // Waits until the worker has hashed everything posted.
    void drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        slot_free_.wait(lock, [&] { return done_ == posted_; });
    }

private:
    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_worker_.wait(lock, [&] { return stop_ || done_ < posted_; });
            if (stop_) return;
            const std::size_t index = done_;
            const unsigned char* const data = data_[index % slot_count];
            const std::size_t n = sizes_[index % slot_count];
            Contexts* const contexts = contexts_;
            const unsigned lanes = lanes_;
            lock.unlock();
            contexts->update(lanes, data, n);
            lock.lock();
            ++done_;
            slot_free_.notify_one();
        }
    }

    const bool two_threads_;
    PartHelper part_helper_;
    std::unique_ptr<unsigned char[]> storage_;
    unsigned char* base_ = nullptr;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_worker_;
    std::condition_variable slot_free_;
    Contexts* contexts_ = nullptr;
    unsigned lanes_ = 0;
    std::size_t posted_ = 0;
    std::size_t done_ = 0;
    const unsigned char* data_[slot_count] = {};
    std::size_t sizes_[slot_count] = {};
    bool stop_ = false;
};

DigestWorker& DigestEngine::worker(platform::System& sys) {
    if (!worker_) {
        const auto setting = sys.get_env(digest_threads_variable);
        const bool one = setting && *setting == u"1";
        worker_ = std::make_unique<DigestWorker>(!one && std::thread::hardware_concurrency() != 1);
    }
    return *worker_;
}

namespace {

// Whatever way the reading ends (the end, an error, an interrupt), the
// worker is done with the buffers and the contexts before they go.
class WorkerGuard {
public:
    explicit WorkerGuard(DigestWorker& engine) : engine_(engine) {}
    ~WorkerGuard() {
        if (active_) engine_.drain();
    }
    WorkerGuard(const WorkerGuard&) = delete;
    WorkerGuard& operator=(const WorkerGuard&) = delete;
    void activate() { active_ = true; }

private:
    DigestWorker& engine_;
    bool active_ = false;
};

void set_failure(DigestTexts& texts, DigestRequest want) {
    texts.read_ok = false;
    for (const DigestRow& row : digest_rows)
        if (want.digests.has(row.id)) texts.texts[digest_index(row.id)] = row.failure_text;
}

void set_texts(DigestTexts& texts, DigestRequest want, Contexts& c) {
    texts.read_ok = true;
    c.each([&](auto& kernel, DigestId id) {
        if (want.digests.has(id)) texts.texts[digest_index(id)] = kernel.finish(texts);
    });
}

// The bytes of the DISPLACE .. displace_end window in a file of `size` bytes.
std::uint64_t window_length(const Run& run, std::uint64_t size) {
    const auto begin = static_cast<std::uint64_t>(std::max<std::int64_t>(run.s.DISPLACE, 0));
    const std::uint64_t end = run.s.displace_end > 0
                                  ? std::min(size, static_cast<std::uint64_t>(run.s.displace_end))
                                  : size;
    return end > begin ? end - begin : 0;
}

// A window at least this long is hashed from a mapping of the file, with
// no copy through read(); a shorter one is read, which costs fewer calls.
constexpr std::uint64_t map_threshold = 1024 * 1024;

// Whether the digests asked for are better fed from a mapping, as
// measured: CRC-32 and XXH3, which hash faster than the copy, and BLAKE3
// alone, which then takes both cores. MD5 and the SHA family each work
// through their blocks in one long chain, which keeps few loads in
// flight: from a mapping they wait for memory at every page, which costs
// them more than the copy saves. BLAKE3 beside other digests is hashed
// fastest by the worker from the copies in the cache while this thread
// reads.
bool maps_well(DigestSet digests) {
    const unsigned blake3 = DigestSet::bit(DigestId::blake3);
    const unsigned streaming = DigestSet::bit(DigestId::crc) | DigestSet::bit(DigestId::xxh3);
    return digests.bits() == blake3 || (digests.bits() & ~streaming) == 0;
}
// The file is mapped a window of this many bytes at a time, so that a huge
// file holds few page tables at once.
constexpr std::size_t map_window = 64 * 1024 * 1024;
// A mapping is hashed in pieces of this many bytes, as reads are, the
// interrupt asked after before each one; BLAKE3's piece is the whole
// window, one subtree whose parts the two cores share, each filling the
// page tables of the parts it takes: the cores meet once a window.
constexpr std::size_t mapped_piece = 256 * 1024;
constexpr std::size_t mapped_blake3_piece = map_window;
static_assert(map_window % mapped_blake3_piece == 0 && map_window % mapped_piece == 0);

// Hashes `length` bytes of the file from `begin`, a mapping of a window at
// a time, `window` the first. The digests split in lanes as for reads,
// without the copy. `damaged`: pages vanished under a mapping (the file
// was cut).
bool feed_mapped(Run& run, DigestWorker& engine, platform::InputFile& file, DigestRequest want,
                 Contexts& contexts, std::uint64_t begin, std::uint64_t length,
                 std::unique_ptr<platform::MappedBytes> window, std::uint64_t& delivered,
                 bool& damaged) {
    const unsigned wanted = want.digests.bits();
    // BLAKE3 (asked for alone) takes both cores in halves.
    const bool split_blake3 = engine.two_threads() && want.digests.has(DigestId::blake3);
    const std::size_t piece = split_blake3 ? mapped_blake3_piece : mapped_piece;
    if (split_blake3) contexts.split_blake3(&engine.part_helper(), piece / 1024);
    const LaneSplit split =
        split_blake3 ? LaneSplit{wanted, 0} : split_lanes(want, wanted, mapping_cost);
    const bool share = engine.two_threads() && split.worker != 0 && split.reader != 0;
    // Destroyed before the window: the worker is done with its bytes first.
    WorkerGuard guard(engine);
    if (share) {
        engine.begin(&contexts, split.worker);
        guard.activate();
    }
    // The helper forgets each window before it goes.
    struct WindowGuard {
        PartHelper& helper;
        ~WindowGuard() {
            helper.set_window(nullptr);
            helper.retire(nullptr);
        }
    } window_guard{engine.part_helper()};
    std::size_t index = 0;
    for (std::uint64_t at = 0;;) {
        const unsigned char* const data = window->data();
        const std::size_t size = window->size();
        if (split_blake3)
            engine.part_helper().set_window(window.get());
        else
            window->load(0, size);
        for (std::size_t offset = 0; offset < size; offset += piece) {
            if (run.sys.interrupted()) end_run(exit_code::user_aborted);
            const std::size_t n = std::min(piece, size - offset);
            if (!share) {
                contexts.update(wanted, data + offset, n);
                continue;
            }
            engine.wait_for_slot(index++);
            engine.post(data + offset, n);
            contexts.update(split.reader, data + offset, n);
        }
        if (share) engine.drain();
        if (window->damaged()) damaged = true;
        delivered += size;
        at += size;
        if (at == length) return true;
        engine.part_helper().set_window(nullptr);
        auto next = file.map(
            begin + at, static_cast<std::size_t>(std::min<std::uint64_t>(map_window, length - at)));
        if (!next) return false;
        if (split_blake3) engine.part_helper().retire(std::move(window));
        window = std::move(next);
    }
}

// Reads the window of an open file of `size` bytes (as its state said
// before) and feeds every digest asked for; `delivered` counts the bytes
// read. A file that ends within its first slot is hashed on this thread
// alone, which spares the small files any hand-over.
bool feed(Run& run, DigestEngine& digests, platform::InputFile& file, DigestRequest want,
          Contexts& contexts, std::uint64_t size, std::uint64_t& delivered, bool& damaged) {
    const unsigned wanted = want.digests.bits();
    const auto begin = static_cast<std::uint64_t>(std::max<std::int64_t>(run.s.DISPLACE, 0));
    const std::uint64_t length = window_length(run, size);
    if (length >= map_threshold && maps_well(want.digests)) {
        auto window =
            file.map(begin, static_cast<std::size_t>(std::min<std::uint64_t>(map_window, length)));
        if (window)
            return feed_mapped(run, digests.worker(run.sys), file, want, contexts, begin, length,
                               std::move(window), delivered, damaged);
    }
    const bool bounded = run.s.displace_end > 0;
    std::uint64_t left = bounded
                             ? static_cast<std::uint64_t>(run.s.displace_end) -
                                   std::min(begin, static_cast<std::uint64_t>(run.s.displace_end))
                             : UINT64_MAX;
    if (begin != 0 && !file.seek(begin)) return false;

    DigestWorker& engine = digests.worker(run.sys);
    // A large file's BLAKE3 tree takes both cores; the results are the same.
    // Not with AVX-512: a half is then over about as soon as the helper
    // wakes, and the worker hashing each read while the reader makes the
    // next one is faster (0.24 s against 0.42 s for 1 GiB).
    const bool split_blake3 = engine.two_threads() && want.digests.has(DigestId::blake3) &&
                              !(want.hardware && Blake3::fastest() == Blake3::Path::avx512);
    if (split_blake3) contexts.split_blake3(&engine.part_helper());
    WorkerGuard guard(engine);
    const auto read_slot = [&](std::size_t index) -> long long {
        if (left == 0) return 0;
        if (run.sys.interrupted()) end_run(exit_code::user_aborted);
        const std::size_t want_bytes =
            static_cast<std::size_t>(std::min<std::uint64_t>(DigestWorker::slot_size, left));
        const long long got = file.read(engine.slot(index), want_bytes);
        // A read cut short by the interrupt is the end of the run, not a
        // file that could not be read.
        if (got < 0 && run.sys.interrupted()) end_run(exit_code::user_aborted);
        if (got > 0) {
            delivered += static_cast<std::uint64_t>(got);
            if (bounded) left -= static_cast<std::uint64_t>(got);
        }
        return got;
    };

    const long long first = read_slot(0);
    if (first <= 0) return first == 0;
    const long long second = read_slot(1);
    if (second < 0) return false;
    LaneSplit split = split_lanes(want, wanted);
    if (split_blake3) {
        // BLAKE3 stays with the reader, which hashes one half of each read
        // while its bytes are still in its cache.
        split.worker &= ~DigestSet::bit(DigestId::blake3);
        split.reader |= DigestSet::bit(DigestId::blake3);
    }
    if (second == 0 || !engine.two_threads() || split.worker == 0) {
        contexts.update(wanted, engine.slot(0), static_cast<std::size_t>(first));
        if (second == 0) return true;
        contexts.update(wanted, engine.slot(1), static_cast<std::size_t>(second));
        for (std::size_t index = 2;; ++index) {
            const long long got = read_slot(index);
            if (got <= 0) return got == 0;
            contexts.update(wanted, engine.slot(index), static_cast<std::size_t>(got));
        }
    }

    engine.begin(&contexts, split.worker);
    guard.activate();
    engine.post(engine.slot(0), static_cast<std::size_t>(first));
    contexts.update(split.reader, engine.slot(0), static_cast<std::size_t>(first));
    engine.post(engine.slot(1), static_cast<std::size_t>(second));
    contexts.update(split.reader, engine.slot(1), static_cast<std::size_t>(second));
    for (std::size_t index = 2;; ++index) {
        engine.wait_for_slot(index);
        const long long got = read_slot(index);
        if (got <= 0) return got == 0;
        engine.post(engine.slot(index), static_cast<std::size_t>(got));
        contexts.update(split.reader, engine.slot(index), static_cast<std::size_t>(got));
    }
}

}  // namespace

// Files opened ahead of their records and hashed whole, each on one
// thread: the worker takes them in order, and the record's thread, when
// the one it waits for is on the worker, hashes the next one meanwhile.
// Each file's open is made ready on the walk's thread, which alone uses
// the walk's directory handles, and done by the thread that hashes it, so
// the opens are shared by both cores too; a file is open only while it
// is read, and few are queued at once.
class AheadReader {
public:
    explicit AheadReader(Run& run)
        : run_(run),
          storage_(new unsigned char[2 * DigestWorker::slot_size + page]),
          worker_([this] { work(); }) {}
    ~AheadReader() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            // A run that ends meanwhile does not wait for a big file's end.
            abandon_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    AheadReader(const AheadReader&) = delete;
    AheadReader& operator=(const AheadReader&) = delete;

    void queue(std::vector<AheadFile>&& files) {
        if (files.empty()) {
            drop();
            return;
        }
        // The batch's jobs in one allocation, each shared on its own: the
        // block goes when the last of them does.
        const auto block = std::make_shared<std::vector<Job>>(files.size());
        bool for_worker = false;
        for (std::size_t i = 0; i < files.size(); ++i) {
            Job& job = (*block)[i];
            job.file = std::move(files[i]);
            job.pending = run_.sys.prepare_entry_open(job.file.path);
            // A file already in memory is hashed where its record is
            // written: handing it to the other thread would cost more than
            // hashing it.
            job.records_thread = job.pending && job.pending->in_memory();
            for_worker = for_worker || !job.records_thread;
        }
        {
            const std::lock_guard lock(mutex_);
            for (Job& job : *block) jobs_.push_back(std::shared_ptr<Job>(block, &job));
        }
        if (for_worker) wake_.notify_all();
    }

    std::optional<DigestTexts> take(std::u16string_view path, DigestRequest want,
                                    std::optional<std::uint64_t> listed_size) {
        std::unique_lock lock(mutex_);
        // Compared as memory: the paths share their long directory part.
        const auto is_path = [&](const std::u16string& p) {
            return p.size() == path.size() &&
                   std::memcmp(p.data(), path.data(), path.size() * sizeof path[0]) == 0;
        };
        std::size_t at = 0;
        while (at < jobs_.size() && !is_path(jobs_[at]->file.path)) ++at;
        if (at == jobs_.size()) return std::nullopt;
        const std::shared_ptr<Job> job = jobs_[at];
        if (job->file.digests.bits() != want.digests.bits() || !want.hardware || !listed_size ||
            *listed_size != job->file.listed_size)
            return std::nullopt;
        // Those before it were not asked for: their records left them out.
        for (std::size_t i = 0; i < at; ++i) cancel(*jobs_[i]);
        jobs_.erase(jobs_.begin(), jobs_.begin() + static_cast<std::ptrdiff_t>(at + 1));
        while (job->state != Job::done) {
            const Group mine = claim(job->state == Job::queued ? job : first_queued());
            if (mine.empty()) {
                finished_.wait(lock);
                continue;
            }
            lock.unlock();
            hash_group(mine, buffer(0));
            lock.lock();
            for (const auto& j : mine) j->state = Job::done;
        }
        lock.unlock();
        if (job->interrupted) end_run(exit_code::user_aborted);
        if (job->texts.changed) ++run_.counts.changed_while_read;
        return std::move(job->texts);
    }

private:
    struct Job {
        enum State { queued, running, done };
        AheadFile file;
        // Opened by the thread that reads it, so the opens of a batch are
        // shared by both cores too.
        std::unique_ptr<platform::PendingOpen> pending;
        std::unique_ptr<platform::InputFile> input;
        std::optional<platform::FileState> before;
        State state = queued;
        DigestTexts texts;
        bool interrupted = false;
        bool records_thread = false;  // hashed by the thread that writes its record
    };

    using Group = std::vector<std::shared_ptr<Job>>;

    // Called with the lock held; `worker`: the first the worker may take.
    std::shared_ptr<Job> first_queued(bool worker = false) {
        for (const auto& job : jobs_)
            if (job->state == Job::queued && !(worker && job->records_thread)) return job;
        return nullptr;
    }
    // A file read whole into its part of a thread's buffer, so that the
    // files of a group are hashed together.
    static bool groups(const Job& job) {
        return (job.file.digests.has(DigestId::md5) || job.file.digests.has(DigestId::sha1)) &&
               job.file.listed_size <= group_file_limit;
    }
    // The queued files hashed together from `first` on, marked running:
    // those after it that are queued too, while each is small, MD5 or
    // SHA-1 being asked for; `first` alone otherwise. Called with the lock held.
    Group claim(std::shared_ptr<Job> first) {
        Group group;
        if (!first) return group;
        first->state = Job::running;
        group.push_back(first);
        if (!groups(*first)) return group;
        auto at = std::find(jobs_.begin(), jobs_.end(), first);
        at = at == jobs_.end() ? jobs_.begin() : at + 1;
        for (; at != jobs_.end() && group.size() < group_most; ++at) {
            if ((*at)->state != Job::queued) continue;
            if (!groups(**at) || (*at)->records_thread != first->records_thread) break;
            (*at)->state = Job::running;
            group.push_back(*at);
        }
        return group;
    }
    void cancel(Job& job) {
        if (job.state != Job::queued) return;
        job.state = Job::done;
        job.pending.reset();
        job.input.reset();
    }
    void drop() {
        const std::lock_guard lock(mutex_);
        for (const auto& job : jobs_) cancel(*job);
        jobs_.clear();
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            std::shared_ptr<Job> first;
            wake_.wait(lock, [&] { return stop_ || (first = first_queued(true)) != nullptr; });
            if (stop_) return;
            // Held while hashed: the record may drop the queue meanwhile.
            const Group group = claim(std::move(first));
            lock.unlock();
            hash_group(group, buffer(1));
            lock.lock();
            for (const auto& j : group) j->state = Job::done;
            finished_.notify_all();
        }
    }

    // Opens and reads each small file of a group into its part of the
    // buffer, checks it held still, and hashes it there: MD5 and SHA-1 of
    // all of them at once, in lanes side by side, the other digests file
    // by file.
    void hash_group(const Group& group, unsigned char* buffer) {
        if (group.size() == 1 && !groups(*group.front())) {
            hash(*group.front(), buffer);
            return;
        }
        const DigestRequest want{.digests = group.front()->file.digests};
        DigestSet others = want.digests;
        others.remove(DigestId::md5);
        others.remove(DigestId::sha1);
        Md5::Message messages[group_most] = {};
        std::size_t whole[group_most] = {};
        std::size_t count = 0;
        for (std::size_t k = 0; k < group.size(); ++k) {
            Job& job = *group[k];
            unsigned char* const data = buffer + k * group_file_limit;
            std::uint64_t delivered = 0;
            const bool read_ok = read_whole(job, data, delivered);
            if (job.interrupted || !read_ok || !held_still(job, delivered)) {
                set_failure(job.texts, want);
                job.input.reset();
                continue;
            }
            if (others.empty()) {
                job.texts.read_ok = true;
            } else if (others == DigestSet{DigestId::crc}) {
                // The CRC alone: no contexts of the digests not asked for to set up.
                Crc32 crc;
                crc.update(data, static_cast<std::size_t>(delivered), want.hardware);
                job.texts.read_ok = true;
                job.texts.crc_value = crc.value();
                job.texts.texts[digest_index(DigestId::crc)] = crc_text(crc.value());
            } else {
                Contexts contexts(want.hardware);
                contexts.update(others.bits(), data, static_cast<std::size_t>(delivered));
                set_texts(job.texts, DigestRequest{.digests = others}, contexts);
            }
            messages[count] = {data, static_cast<std::size_t>(delivered)};
            whole[count++] = k;
        }
        const bool md5 = want.digests.has(DigestId::md5);
        const bool sha1 = want.digests.has(DigestId::sha1);
        std::array<std::uint8_t, 16> md5_digests[group_most];
        std::array<std::uint8_t, 20> sha1_digests[group_most];
        if (md5 && sha1)
            md5_and_sha1_many(messages, count, md5_digests, sha1_digests);
        else if (md5)
            Md5::digest_many(messages, count, md5_digests);
        else
            Sha1::digest_many(messages, count, sha1_digests);
        for (std::size_t i = 0; i < count; ++i) {
            DigestTexts& texts = group[whole[i]]->texts;
            if (md5)
                texts.texts[digest_index(DigestId::md5)] =
                    to_upper_hex(md5_digests[i].data(), md5_digests[i].size());
            if (sha1)
                texts.texts[digest_index(DigestId::sha1)] =
                    to_upper_hex(sha1_digests[i].data(), sha1_digests[i].size());
        }
    }

    // Opens a small file and reads it whole into `data`; false when it
    // cannot be opened or read. It is closed after its state is taken.
    bool read_whole(Job& job, unsigned char* data, std::uint64_t& delivered) {
        open(job);
        bool read_ok = job.before.has_value();
        while (read_ok && delivered < group_file_limit) {
            const long long got = read_next(job, data + delivered,
                                            group_file_limit - static_cast<std::size_t>(delivered));
            if (got <= 0) {
                read_ok = got == 0;
                break;
            }
            delivered += static_cast<std::uint64_t>(got);
        }
        return read_ok && !job.interrupted;
    }

    // One read of a job's file: the bytes, 0 at its end, -1 when the read
    // failed or the run lets the file go (an interrupt is noted on the job).
    long long read_next(Job& job, unsigned char* into, std::size_t size) {
        if (abandon_) return -1;
        if (run_.sys.interrupted()) {
            job.interrupted = true;
            return -1;
        }
        const long long got = job.input->read(into, size);
        if (got < 0 && run_.sys.interrupted()) job.interrupted = true;
        return got;
    }

    void open(Job& job) {
        if (!job.pending) return;
        job.input = job.pending->open();
        job.pending.reset();
        if (job.input) job.before = job.input->state();
    }

    // Whether the file held still from the listing to its last read: its
    // size and change time as they were, every byte of the window read.
    // Marks the texts of one that changed; closes the file.
    // A mapping `damaged` under the hashing lost pages to a truncation,
    // whatever the state says now.
    bool held_still(Job& job, std::uint64_t delivered, bool damaged = false) {
        const auto after = job.input->state();
        job.input.reset();
        if (after && *after == *job.before && delivered == window_length(run_, job.before->size) &&
            job.file.listed_size == job.before->size && !damaged)
            return true;
        job.texts.changed = after.has_value();
        return false;
    }

    // What digest_file does for a file, but for the counting, which is
    // the record's; the interrupt is noted for the record to end the run.
    void hash(Job& job, unsigned char* buffer) {
        const DigestRequest want{.digests = job.file.digests};
        std::uint64_t delivered = 0;
        open(job);
        bool read_ok = job.before.has_value();
        bool damaged = false;
        Contexts contexts(want.hardware);
        std::unique_ptr<platform::MappedBytes> window;
        if (read_ok && job.before->size >= map_threshold && maps_well(want.digests))
            window = job.input->map(
                0, static_cast<std::size_t>(std::min<std::uint64_t>(map_window, job.before->size)));
        const bool mapped = window != nullptr;
        if (mapped)
            read_ok = hash_mapped(job, contexts, want.digests.bits(), std::move(window), delivered,
                                  damaged);
        while (read_ok && !mapped) {
            const long long got = read_next(job, buffer, DigestWorker::slot_size);
            if (got <= 0) {
                read_ok = got == 0;
                break;
            }
            delivered += static_cast<std::uint64_t>(got);
            contexts.update(want.digests.bits(), buffer, static_cast<std::size_t>(got));
        }
        if (job.interrupted || !read_ok || !held_still(job, delivered, damaged))
            set_failure(job.texts, want);
        else
            set_texts(job.texts, want, contexts);
        job.input.reset();
    }

    // Hashes the file, as large as its state said, from mappings, `window`
    // the first; false when a window cannot be mapped or the run lets the
    // file go.
    bool hash_mapped(Job& job, Contexts& contexts, unsigned lanes,
                     std::unique_ptr<platform::MappedBytes> window, std::uint64_t& delivered,
                     bool& damaged) {
        const std::uint64_t size = job.before->size;
        for (;;) {
            const unsigned char* const data = window->data();
            const std::size_t n = window->size();
            window->load(0, n);
            for (std::size_t offset = 0; offset < n; offset += mapped_piece) {
                if (abandon_) return false;
                if (run_.sys.interrupted()) {
                    job.interrupted = true;
                    return true;
                }
                contexts.update(lanes, data + offset, std::min(mapped_piece, n - offset));
            }
            if (window->damaged()) damaged = true;
            delivered += n;
            if (delivered == size) return true;
            window.reset();
            window = job.input->map(delivered, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                   map_window, size - delivered)));
            if (!window) return false;
        }
    }

    // Page-aligned, as the digest worker's slots are, for the kernel's copy.
    unsigned char* buffer(std::size_t thread) {
        void* start = storage_.get();
        std::size_t room = 2 * DigestWorker::slot_size + page;
        return static_cast<unsigned char*>(
                   std::align(page, 2 * DigestWorker::slot_size, start, room)) +
               thread * DigestWorker::slot_size;
    }

    static constexpr std::size_t page = 4096;
    // A group's files share a thread's buffer, a part each. Twice the
    // lanes: a lane whose file has ended takes the next one, so the lanes
    // stay busy while the group's longest file is hashed.
    static constexpr std::size_t group_most = 32;
    static constexpr std::size_t group_file_limit = DigestWorker::slot_size / group_most;
    static_assert(group_file_limit == DigestEngine::small_file_size);
    Run& run_;
    std::unique_ptr<unsigned char[]> storage_;  // a buffer for each thread
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Job>> jobs_;  // in the walk's order, not yet taken
    bool stop_ = false;
    std::atomic<bool> abandon_{false};
    std::thread worker_;  // last: starts once everything above exists
};

DigestEngine::DigestEngine() = default;
DigestEngine::~DigestEngine() = default;

bool DigestEngine::reads_ahead(platform::System& sys) {
    return worker(sys).two_threads() && sys.reads_on_other_threads();
}

void DigestEngine::read_ahead(Run& run, std::vector<AheadFile>&& files) {
    if (!ahead_ && files.empty()) return;
    if (!ahead_) ahead_ = std::make_unique<AheadReader>(run);
    ahead_->queue(std::move(files));
}

std::optional<DigestTexts> DigestEngine::take_ahead(Run&, std::u16string_view path,
                                                    DigestRequest want,
                                                    std::optional<std::uint64_t> listed_size) {
    if (!ahead_) return std::nullopt;
    return ahead_->take(path, want, listed_size);
}

struct DigestFeed::State {
    explicit State(DigestRequest want) : want(want), contexts(want.hardware) {}
    DigestRequest want;
    Contexts contexts;
};

DigestFeed::DigestFeed(DigestRequest want) : state_(std::make_unique<State>(want)) {}
DigestFeed::~DigestFeed() = default;

void DigestFeed::update(const unsigned char* data, std::size_t n) {
    state_->contexts.update(state_->want.digests.bits(), data, n);
}

void DigestFeed::update_two(DigestFeed& a, const unsigned char* data_a, DigestFeed& b,
                            const unsigned char* data_b, std::size_t n) {
    const unsigned wanted = a.state_->want.digests.bits();
    if (wanted != b.state_->want.digests.bits()) {
        a.update(data_a, n);
        b.update(data_b, n);
        return;
    }
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                constexpr auto id = static_cast<DigestId>(I);
                if (!(wanted & DigestSet::bit(id))) return;
                auto& ka = std::get<I>(a.state_->contexts.kernels);
                auto& kb = std::get<I>(b.state_->contexts.kernels);
                if constexpr (id == DigestId::sha256) {
                    Sha256::update_two(ka.hash, data_a, kb.hash, data_b, n);
                } else {
                    ka.update(data_a, n);
                    kb.update(data_b, n);
                }
            }(),
            ...);
    }
    (std::make_index_sequence<digest_count>{});
}

DigestTexts DigestFeed::finish() {
    DigestTexts texts;
    set_texts(texts, state_->want, state_->contexts);
    return texts;
}

std::unique_ptr<platform::InputFile> open_for_read(platform::System& sys,
                                                   std::u16string_view path) {
    return sys.open_entry(path, false);
}

DigestTexts digest_file(Run& run, DigestEngine& digests, std::u16string_view path,
                        DigestRequest want, bool is_directory,
                        std::optional<std::uint64_t> listed_size) {
    if (!is_directory)
        if (auto ahead = digests.take_ahead(run, path, want, listed_size)) return std::move(*ahead);
    DigestTexts texts;
    Contexts contexts(want.hardware);
    if (!is_directory) {
        auto file = open_for_read(run.sys, path);
        // The runtime's plain open shares more; it gets the same window.
        if (!file) file = run.sys.open_entry(path, true);
        const auto before = file ? file->state() : std::nullopt;
        std::uint64_t delivered = 0;
        bool damaged = false;
        if (!before ||
            !feed(run, digests, *file, want, contexts, before->size, delivered, damaged)) {
            set_failure(texts, want);
            return texts;
        }
        // The digest stands for the bytes the record lists only when the
        // file held still from the listing to the last read: a writer that
        // truncated, extended or rewrote it meanwhile moved its size or
        // its change time, or cut the read short.
        const auto after = file->state();
        if (!after || *after != *before || delivered != window_length(run, before->size) ||
            (listed_size && *listed_size != before->size) || damaged) {
            set_failure(texts, want);
            if (after) {
                texts.changed = true;
                ++run.counts.changed_while_read;
            }
            return texts;
        }
    }
    set_texts(texts, want, contexts);
    return texts;
}

}  // namespace filarix
