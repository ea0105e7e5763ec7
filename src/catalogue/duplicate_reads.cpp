#include "catalogue/duplicate_reads.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "content/digests.hpp"

namespace filarix {

namespace {

constexpr std::size_t page = 4096;
// A file up to this size is read with one call; a bigger one in pieces.
constexpr std::size_t buffer_bytes = std::size_t(1) << 20;
// Jobs opened and not yet read, while both threads read.
constexpr std::size_t jobs_in_flight = 8;
// The files of one set a job compares; a bigger set is several jobs.
constexpr std::size_t compare_files = 16;
// The files a job samples: each job handed between the threads costs
// system calls, and a sample is quickly read.
constexpr std::size_t sample_files = 8;
// The distinct contents of a set a job holds to compare the others with;
// a file matching none of them, past these, is only digested.
constexpr std::size_t held_contents = 4;

// Page-aligned: the kernel copies into a misaligned buffer more slowly.
class Buffer {
public:
    Buffer() : storage_(new unsigned char[buffer_bytes + page]) {
        void* start = storage_.get();
        std::size_t room = buffer_bytes + page;
        data_ = static_cast<unsigned char*>(std::align(page, buffer_bytes, start, room));
    }
    unsigned char* data() const { return data_; }

private:
    std::unique_ptr<unsigned char[]> storage_;  // not zeroed: pages come as reads fill them
    unsigned char* data_ = nullptr;
};

// A thread's buffers: the contents held to compare with, one waiting to
// be hashed together with the next distinct one, and one to read into.
struct Buffers {
    std::array<Buffer, held_contents + 2> at;
};

struct Opened {
    std::unique_ptr<platform::InputFile> file;
    std::optional<platform::FileState> before;
};

enum class Outcome { read, failed, changed, interrupted, no_memory };

void poll_interrupt(Run& run) {
    if (run.sys.interrupted()) end_run(exit_code::user_aborted);
}

// Reads `size` bytes from `offset` unless the file ends or fails first.
long long fill_at(platform::InputFile& file, unsigned char* buffer, std::size_t size,
                  std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const long long got = file.read_at(buffer + done, size - done, offset + done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

// The first and last bytes of a file of `size`; none when it cannot be
// read or no longer has that size.
std::optional<std::uint64_t> sample_of(platform::InputFile& file, std::uint64_t size,
                                       unsigned char* buffer) {
    constexpr auto n = static_cast<std::size_t>(dupe_sample_bytes);
    if (fill_at(file, buffer, n, 0) != static_cast<long long>(n)) return std::nullopt;
    const std::uint64_t head = sample_hash(buffer, n, size);
    if (fill_at(file, buffer, n, size - n) != static_cast<long long>(n)) return std::nullopt;
    return sample_hash(buffer, n, head);
}

// Reads a file listed with `size`: each read asks for one byte more than
// the listing has left, so that the read that reaches the end also shows
// it is the end. A file smaller than the buffer lands whole in it; a
// bigger one goes to `piece` a buffer at a time. The bytes stand only
// when the file held still.
template <typename Piece>
Outcome read_file(platform::System& sys, Opened& f, std::uint64_t size, unsigned char* buffer,
                  const std::atomic<bool>& abandon, Piece piece) {
    if (!f.file || !f.before) return Outcome::failed;
    if (f.before->size != size) return Outcome::changed;
    const bool whole = size < buffer_bytes;
    std::uint64_t at = 0;
    for (;;) {
        if (sys.interrupted()) return Outcome::interrupted;
        if (abandon.load(std::memory_order_relaxed)) return Outcome::failed;
        unsigned char* const into = whole ? buffer + at : buffer;
        const auto ask = static_cast<std::size_t>(
            std::min<std::uint64_t>(whole ? buffer_bytes - at : buffer_bytes, size - at + 1));
        const long long got = f.file->read_at(into, ask, at);
        if (got < 0) return sys.interrupted() ? Outcome::interrupted : Outcome::failed;
        if (got == 0) break;
        if (static_cast<std::uint64_t>(got) > size - at) return Outcome::changed;
        if (!whole) piece(buffer, static_cast<std::size_t>(got));
        at += static_cast<std::uint64_t>(got);
        if (at == size && static_cast<std::size_t>(got) < ask) break;
    }
    const auto after = f.file->state();
    if (!after) return Outcome::failed;
    if (at != size || *after != *f.before) return Outcome::changed;
    return Outcome::read;
}

// A file of a job: its answer and what it took to get it.
struct Member {
    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t index = 0;  // in the files asked about
    std::size_t set = 0;    // files of one set may be copies of each other
    std::uint64_t size = 0;
    Opened opened;
    std::optional<std::uint64_t> hash;
    Outcome outcome = Outcome::failed;
    DigestTexts texts;
    std::size_t copy_of = none;  // the member whose bytes it has
};

// Files opened for their samples or their digests, read by whichever
// thread is free: one file's sample, one file's digests read in pieces,
// or whole sets of smaller files compared byte for byte.
struct Job {
    enum State { free, queued, running, done };
    enum Kind { sample, digest, compare };
    State state = free;
    Kind kind = sample;
    bool hold = false;  // the file stays open after its sample
    std::vector<Member> members;
};

// The files of the call a job takes: files[begin, end).
struct Plan {
    std::size_t begin;
    std::size_t end;
    Job::Kind kind;
};

}  // namespace

class DupeFileReads::Impl {
public:
    Impl(Run& run, EntryTools& tools, const DupeCandidates& c, DigestSet read,
         std::function<bool()> meanwhile)
        : run_(run),
          tools_(tools),
          c_(c),
          meanwhile_(std::move(meanwhile)),
          want_{.digests = read},
          windowed_(run.s.DISPLACE > 0 || run.s.displace_end > 0),
          two_threads_(tools.digests.reads_ahead(run.sys)),
          // A search never fails a file for want of a descriptor: the
          // files its jobs open, and those held from their samples, each
          // stay within half of what the system lets this run hold.
          open_share_(std::max<std::size_t>(run.sys.files_open_budget() / 2, 1)),
          sample_files_(std::min(sample_files, open_share_)),
          compare_files_(std::min(compare_files, open_share_)) {}
    ~Impl() {
        if (!worker_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }

    void samples(const DupeReads::Files& files, const DupeReads::Samples& each) {
        held_.clear();
        // Few enough stay open for their digests; a digest in a window
        // opens its file again.
        const bool hold =
            files.size() <= dupe_batch_files && files.size() <= open_share_ && !windowed_;
        std::vector<Plan> plans;
        for (std::size_t k = 0; k < files.size(); k += sample_files_)
            plans.push_back({k, std::min(files.size(), k + sample_files_), Job::sample});
        read_jobs(files, {}, plans, hold, [&](Member& m, std::size_t candidate) {
            if (m.opened.file) held_.emplace_back(candidate, std::move(m.opened));
            each(m.index, m.hash);
        });
    }

    void digests(const DupeReads::Files& files, const DupeReads::Sets& sets,
                 const DupeReads::Digests& each) {
        if (windowed_) {
            digest_in_windows(files, each);
            held_.clear();
            return;
        }
        // A file read in pieces is digested alone; smaller ones are
        // compared by whole sets, several small sets to a job so that
        // their first contents are hashed two together.
        std::vector<Plan> plans;
        std::vector<std::size_t> set_of(files.size());
        std::size_t begin = 0;
        for (std::size_t s = 0; s < sets.size(); begin = sets[s++]) {
            const std::size_t end = sets[s];
            std::fill(set_of.begin() + begin, set_of.begin() + end, s);
            if (c_.size(files[begin]) >= buffer_bytes) {
                for (std::size_t k = begin; k < end; ++k) plans.push_back({k, k + 1, Job::digest});
                continue;
            }
            const std::size_t n = end - begin;
            if (n <= compare_files_ && !plans.empty() && plans.back().kind == Job::compare &&
                plans.back().end - plans.back().begin + n <= compare_files_) {
                plans.back().end = end;
                continue;
            }
            for (std::size_t k = begin; k < end; k += compare_files_)
                plans.push_back({k, std::min(end, k + compare_files_), Job::compare});
        }
        read_jobs(files, set_of, plans, false,
                  [&](Member& m, std::size_t) { deliver(m.index, m.outcome, m.texts, each); });
        held_.clear();
    }

private:
    Opened open(std::size_t candidate, bool fallback) {
        const std::u16string path = c_.path(candidate);
        Opened f;
        f.file = open_for_read(run_.sys, path);
        // The runtime's plain open shares more, as a listing's digest tries.
        if (!f.file && fallback) f.file = run_.sys.open_entry(path, true);
        if (f.file) f.before = f.file->state();
        return f;
    }

    // The file as its sample left it open, else opened now.
    Opened take(std::size_t candidate) {
        for (auto& [which, f] : held_)
            if (which == candidate && f.file) return std::move(f);
        return open(candidate, true);
    }

    void deliver(std::size_t k, Outcome o, DigestTexts& texts, const DupeReads::Digests& each) {
        if (o == Outcome::interrupted) end_run(exit_code::user_aborted);
        if (o == Outcome::no_memory) throw std::bad_alloc();
        if (o == Outcome::changed) ++run_.counts.changed_while_read;
        std::optional<HeldDigests> d;
        if (o == Outcome::read) d = std::move(texts.texts);
        each(k, std::move(d));
    }

    // --DISPLACE: the digests of the window, as a listing's.
    void digest_in_windows(const DupeReads::Files& files, const DupeReads::Digests& each) {
        for (std::size_t k = 0; k < files.size(); ++k) {
            poll_interrupt(run_);
            DigestTexts got = digest_file(run_, tools_.digests, c_.path(files[k]), want_, false,
                                          c_.size(files[k]));
            std::optional<HeldDigests> d;
            if (got.read_ok) d = std::move(got.texts);
            each(k, std::move(d));
        }
    }

    // This thread opens the files, reads them beside the worker (when the
    // run has one) and hands out the answers, one per file.
    template <typename Answer>
    void read_jobs(const DupeReads::Files& files, const std::vector<std::size_t>& set_of,
                   const std::vector<Plan>& plans, bool hold, Answer answer) {
        if (two_threads_ && !worker_.joinable()) {
            theirs_ = std::make_unique<Buffers>();
            worker_ = std::thread([this] { work(); });
        }
        // However the call ends, the worker has let go of every job.
        struct Guard {
            Impl& impl;
            ~Guard() { impl.settle(); }
        } guard{*this};
        // Enough open that each thread may take two.
        const std::size_t job_files = std::max(sample_files_, compare_files_);
        const std::size_t ahead =
            std::min<std::size_t>(two_threads_ ? jobs_in_flight - 2 : 2,
                                  std::max<std::size_t>(open_share_ / job_files, 1));
        std::size_t next = 0;
        std::size_t outstanding = 0;
        for (;;) {
            poll_interrupt(run_);
            // One look under the lock: the worker waits for it.
            std::array<Job*, jobs_in_flight> finished{};
            std::size_t finished_count = 0;
            Job* free = nullptr;
            {
                const std::lock_guard lock(mutex_);
                for (Job& job : jobs_) {
                    if (job.state == Job::done) {
                        job.state = Job::free;
                        finished[finished_count++] = &job;
                    }
                    if (job.state == Job::free && !free) free = &job;
                }
            }
            // Free jobs are this thread's alone: the worker takes queued ones.
            for (std::size_t i = 0; i < finished_count; ++i) {
                --outstanding;
                for (Member& m : finished[i]->members) {
                    answer(m, files[m.index]);
                    m.opened = {};
                }
            }
            if (next < plans.size() && free && outstanding < ahead) {
                const Plan& plan = plans[next];
                free->kind = plan.kind;
                free->hold = hold;
                free->members.resize(plan.end - plan.begin);
                for (std::size_t k = plan.begin; k < plan.end; ++k) {
                    Member& m = free->members[k - plan.begin];
                    m.index = k;
                    m.set = set_of.empty() ? 0 : set_of[k];
                    m.size = c_.size(files[k]);
                    m.opened = plan.kind == Job::sample ? open(files[k], false) : take(files[k]);
                    m.hash.reset();
                    m.outcome = Outcome::failed;
                    m.copy_of = Member::none;
                }
                {
                    const std::lock_guard lock(mutex_);
                    free->state = Job::queued;
                }
                // Woken only when it has work: each needless wake is two
                // system calls.
                if (two_threads_) wake_.notify_one();
                ++next;
                ++outstanding;
                if (next < plans.size() && outstanding < ahead) continue;
            }
            if (outstanding == 0) break;
            // While the worker reads, this thread's own work comes first.
            if (two_threads_ && meanwhile_ && meanwhile_()) continue;
            std::unique_lock lock(mutex_);
            Job* const job = take_queued();
            if (!job) {
                finished_.wait(lock, [&] { return first(Job::done) != nullptr; });
                continue;
            }
            lock.unlock();
            read(*job, mine_);
            lock.lock();
            job->state = Job::done;
        }
    }

    // Called with the lock held.
    Job* first(Job::State state) {
        for (Job& job : jobs_)
            if (job.state == state) return &job;
        return nullptr;
    }

    // The first queued job, then running. Called with the lock held.
    Job* take_queued() {
        Job* const job = first(Job::queued);
        if (job) job->state = Job::running;
        return job;
    }

    void read(Job& job, Buffers& buffers) {
        if (job.kind == Job::compare) return compare(job, buffers);
        if (job.kind == Job::sample) {
            for (Member& m : job.members) {
                m.hash = m.opened.file ? sample_of(*m.opened.file, m.size, buffers.at[0].data())
                                       : std::nullopt;
                if (!m.hash || !job.hold) m.opened = {};
            }
            return;
        }
        Member& m = job.members.front();
        DigestFeed feed(want_);
        m.outcome = read_file(run_.sys, m.opened, m.size, buffers.at[0].data(), abandon_,
                              [&](const unsigned char* p, std::size_t n) { feed.update(p, n); });
        if (m.outcome == Outcome::read) m.texts = feed.finish();
        m.opened = {};
    }

    // The files of a job's sets, each read whole: one whose bytes a held
    // file of its set has is that file's copy and takes its digests; the
    // others are digested, two at a time, and the first few of each set
    // held to compare the rest with. Equal bytes have equal digests, so
    // the groups are those the digests of every file would give.
    void compare(Job& job, Buffers& buffers) {
        constexpr std::size_t none = Member::none;
        std::array<std::size_t, held_contents + 2> held;  // per buffer: the member, or none
        held.fill(none);
        std::size_t waiting = none, waiting_in = none;  // read, to hash with the next
        std::size_t set = none;
        const auto digest = [&](Member& a, const unsigned char* pa, Member* b,
                                const unsigned char* pb) {
            DigestFeed fa(want_);
            if (!b) {
                fa.update(pa, static_cast<std::size_t>(a.size));
                a.texts = fa.finish();
                return;
            }
            DigestFeed fb(want_);
            const auto common = static_cast<std::size_t>(std::min(a.size, b->size));
            DigestFeed::update_two(fa, pa, fb, pb, common);
            fa.update(pa + common, static_cast<std::size_t>(a.size) - common);
            fb.update(pb + common, static_cast<std::size_t>(b->size) - common);
            a.texts = fa.finish();
            b->texts = fb.finish();
        };
        for (std::size_t i = 0; i < job.members.size(); ++i) {
            Member& m = job.members[i];
            if (m.set != set) {
                set = m.set;
                held.fill(none);
            }
            std::size_t into = 0;
            while (held[into] != none || into == waiting_in) ++into;
            unsigned char* const bytes = buffers.at[into].data();
            m.outcome = read_file(run_.sys, m.opened, m.size, bytes, abandon_,
                                  [](const unsigned char*, std::size_t) {});
            m.opened = {};
            if (m.outcome != Outcome::read) continue;
            std::size_t holding = 0;
            for (std::size_t k = 0; k < held.size() && m.copy_of == none; ++k) {
                if (held[k] == none) continue;
                ++holding;
                if (std::memcmp(buffers.at[k].data(), bytes, static_cast<std::size_t>(m.size)) == 0)
                    m.copy_of = held[k];
            }
            if (m.copy_of != none) continue;
            if (holding < held_contents) held[into] = i;
            if (waiting == none) {
                waiting = i;
                waiting_in = into;
                continue;
            }
            digest(job.members[waiting], buffers.at[waiting_in].data(), &m, bytes);
            waiting = waiting_in = none;
        }
        if (waiting != none)
            digest(job.members[waiting], buffers.at[waiting_in].data(), nullptr, nullptr);
        for (Member& m : job.members)
            if (m.copy_of != none) m.texts = job.members[m.copy_of].texts;
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            Job* job = nullptr;
            wake_.wait(lock, [&] { return stop_ || (job = take_queued()) != nullptr; });
            if (stop_) return;
            worker_busy_ = true;
            lock.unlock();
            try {
                read(*job, *theirs_);
            } catch (...) {
                // Told on the search's thread, where the run can end.
                for (Member& m : job->members) {
                    m.outcome = Outcome::no_memory;
                    m.hash.reset();
                    m.opened = {};
                }
            }
            lock.lock();
            job->state = Job::done;
            worker_busy_ = false;
            finished_.notify_all();
        }
    }

    // Drops what is queued, waits for what the worker reads (cut short),
    // and frees every job.
    void settle() {
        std::unique_lock lock(mutex_);
        abandon_ = true;
        for (Job& job : jobs_)
            if (job.state == Job::queued) job.state = Job::done;
        finished_.wait(lock, [&] { return !worker_busy_; });
        for (Job& job : jobs_) {
            job.state = Job::free;
            for (Member& m : job.members) m.opened = {};
        }
        abandon_ = false;
    }

    Run& run_;
    EntryTools& tools_;
    const DupeCandidates& c_;
    const std::function<bool()> meanwhile_;
    const DigestRequest want_;
    const bool windowed_;
    const bool two_threads_;
    const std::size_t open_share_;
    const std::size_t sample_files_;
    const std::size_t compare_files_;
    Buffers mine_;
    std::vector<std::pair<std::size_t, Opened>> held_;  // candidate, its open file
    std::unique_ptr<Buffers> theirs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::array<Job, jobs_in_flight> jobs_;
    bool worker_busy_ = false;
    bool stop_ = false;
    std::atomic<bool> abandon_{false};
    std::thread worker_;  // last: starts once everything above exists
};

DupeFileReads::DupeFileReads(Run& run, EntryTools& tools, const DupeCandidates& candidates,
                             DigestSet read, std::function<bool()> meanwhile)
    : impl_(std::make_unique<Impl>(run, tools, candidates, read, std::move(meanwhile))) {}
DupeFileReads::~DupeFileReads() = default;

void DupeFileReads::samples(const DupeReads::Files& files, const DupeReads::Samples& each) {
    impl_->samples(files, each);
}

void DupeFileReads::digests(const DupeReads::Files& files, const DupeReads::Sets& sets,
                            const DupeReads::Digests& each) {
    impl_->digests(files, sets, each);
}

}  // namespace filarix
